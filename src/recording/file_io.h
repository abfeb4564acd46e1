// The programs' loops over read(2) and write(2): the one place that goes on after partial
// transfers and EINTR.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>
#include <string_view>

namespace ostrel::recording {

// Writes all of `bytes` to `fd`, continuing after partial writes and EINTR. 0, or the
// errno of the write that failed (EIO for a write that makes no progress).
int writeAll(int fd, std::string_view bytes);

// One read(2) of up to `size` bytes, retried on EINTR: the bytes read, 0 at the end of the
// file, -1 with errno set.
ssize_t readOnce(int fd, char *into, std::size_t size);

// Reads from `fd` until the end of the file or until `limit` bytes have been appended to
// `out`. 0, or the errno of the read that failed (what was read before it stays in `out`).
int readUpTo(int fd, std::size_t limit, std::string &out);

}  // namespace ostrel::recording
