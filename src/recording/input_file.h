// Opening a recording or its description for reading. A FIFO or a device can carry such a
// name, and a plain open() of a FIFO waits for a writer, forever if none comes: an input
// file is opened without waiting and refused unless it is a regular file. Any thread.
#pragma once

#include <sys/stat.h>

#include <string>

namespace ostrel::recording {

// Opens `path` read-only (close-on-exec) when it is a regular file. The open itself never
// waits (O_NONBLOCK); fstat then refuses anything but a regular file, and O_NONBLOCK is
// cleared for the reads. Returns the descriptor, which the caller closes, with `status`
// (when given) its fstat; or -1 with `error` the reason: the system's ("No such file or
// directory") or "not a regular file".
int openRegularFile(const std::string &path, std::string &error, struct stat *status = nullptr);

}  // namespace ostrel::recording
