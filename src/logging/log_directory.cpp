#include "logging/log_directory.h"

#include <filesystem>
#include <optional>
#include <string>
#include <system_error>

#include "logging/log_path_record.h"
#include "panel/ostrel_panel.h"
#include "ui/panel.h"

namespace ostrel {
namespace {

// The directory last put into LOGPATH by the dialog, the log directory file or a command
// line, and where it came from. Main thread.
struct NotedDirectory {
    std::string directory;
    std::string origin;
};
NotedDirectory &notedDirectory() {
    static NotedDirectory noted;
    return noted;
}

std::string workingDirectory() {
    std::error_code error;
    const std::filesystem::path cwd = std::filesystem::current_path(error);
    return error ? std::string(".") : cwd.string();
}

void reportPathTooLong() {
    ui::showMessage(log_directory_error_title,
                    "The chosen directory path is too long to be remembered (at most " +
                        std::to_string(max_log_path_length) +
                        " bytes).\nThe log directory is unchanged; please choose a shorter path.");
}

void reportWriteFailure(const std::filesystem::path &file, const std::error_code &error) {
    ui::showMessage(log_directory_error_title,
                    "The log directory could not be saved in " + file.string() + " (" +
                        error.message() +
                        ").\n"
                        "It is used until Ostrel ends, but will not be remembered.");
}

void selectLogPathInto(const std::filesystem::path &file) {
    std::string path;
    if (ui::selectDirectory(log_directory_dialog_title, &path) != 1) return;
    if (!fitsLogPathRecord(path)) {
        reportPathTooLong();
        return;
    }
    ui::setValue(panelHandle, LOGPATH, path);
    noteLogDirectorySource(path, LogDirectorySource::dialog);
    const std::error_code error = writeLogPathFile(file, path);
    if (error) reportWriteFailure(file, error);
}

void readLogPathFrom(const std::filesystem::path &file) {
    const std::optional<std::string> path = readLogPathFile(file);
    if (!path || path->empty()) return;
    ui::setValue(panelHandle, LOGPATH, *path);
    noteLogDirectorySource(*path, LogDirectorySource::logPathFile);
}

}  // namespace

int selectLogPath(int, int, int event, void *, int, int) {
    if (event == ui::EVENT_COMMIT) selectLogPathInto(log_path_file);
    return 0;
}

void read_log_path() {
    readLogPathFrom(log_path_file);
}

void noteLogDirectorySource(const std::string &directory, LogDirectorySource source) {
    std::string origin;
    switch (source) {
        case LogDirectorySource::dialog:
            origin = "chosen in the Log-Directory dialog";
            break;
        case LogDirectorySource::logPathFile:
            origin = std::string("read from ") + log_path_file + " in " + workingDirectory();
            break;
        case LogDirectorySource::commandLine:
            origin = "given with --dir";
            break;
    }
    notedDirectory() = {directory, origin};
}

std::string describeLogDirectory(const std::string &directory) {
    const NotedDirectory &noted = notedDirectory();
    if (!noted.directory.empty() && noted.directory == directory) {
        return directory + " (" + noted.origin + ")";
    }
    if (directory == defaultLogDirectory()) return directory + " (the default, the home directory)";
    return directory;
}

}  // namespace ostrel
