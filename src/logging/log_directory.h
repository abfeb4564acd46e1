// The log directory: chosen by the operator with the directory dialog, shown
// in LOGPATH, and remembered across program starts in the log directory file
// in the working directory. Main thread only.
#pragma once

#include <string>

namespace ostrel {

// The log directory file, relative to the process's working directory.
inline constexpr const char *log_path_file = "log_path.dat";
// Title of the directory dialog.
inline constexpr const char *log_directory_dialog_title = "Log-Directory";
// Title of the messages about choosing or remembering the log directory.
inline constexpr const char *log_directory_error_title = "Path Error";

// Callback of LOGPATHBUTTON. On the commit event asks for a directory; a
// chosen one goes into LOGPATH and into the log directory file. Cancel changes
// nothing. A path too long for the file is refused with a message and changes
// nothing; a failed write is reported, and LOGPATH keeps the choice for this
// run. Returns 0.
int selectLogPath(int panel, int control, int event, void *callbackData, int eventData1,
                  int eventData2);

// Puts the remembered directory into LOGPATH. A missing, unreadable, empty or
// invalid file leaves LOGPATH as it is (the default), without a message.
void read_log_path();

// Where a log directory came from, for the messages that name it.
enum class LogDirectorySource { dialog, logPathFile, commandLine };

// Notes that `directory`, now put into LOGPATH, came from `source`.
void noteLogDirectorySource(const std::string &directory, LogDirectorySource source);

// "/data/runs (read from log_path.dat in /home/op)": the directory and where it came from,
// when that is known (the last noted directory, or the default one).
std::string describeLogDirectory(const std::string &directory);

}  // namespace ostrel
