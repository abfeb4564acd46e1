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
    const std::error_code error = writeLogPathFile(file, path);
    if (error) reportWriteFailure(file, error);
}

void readLogPathFrom(const std::filesystem::path &file) {
    const std::optional<std::string> path = readLogPathFile(file);
    if (path) ui::setValue(panelHandle, LOGPATH, *path);
}

}  // namespace

int selectLogPath(int, int, int event, void *, int, int) {
    if (event == ui::EVENT_COMMIT) selectLogPathInto(log_path_file);
    return 0;
}

void read_log_path() {
    readLogPathFrom(log_path_file);
}

}  // namespace ostrel
