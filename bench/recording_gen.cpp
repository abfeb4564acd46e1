// Writes a recording as Ostrel's logging writes it, for the converter's benchmark:
//
//   recording_gen FILE MEGABYTES [TYPE]
//
// TYPE 0..9 (default 3, 32 Channel) at the type's logging speed (640 kbps for steering,
// 160 kbps otherwise). Line 1 "Time-Base: <T>us" and N - 1 commas, line 2 the column
// names, then whole cycles (LOGCOUNT words each) of comma-separated words, CR LF, until
// the file holds at least MEGABYTES x 10^6 bytes. The words are any 16-bit value (mostly
// five digits, like a live signal's). Prints the bytes and records written.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "telemetry/scaling.h"
#include "telemetry/tables.h"

namespace {

bool writeAll(int fd, const char *data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= std::size_t(written);
    }
    return true;
}

std::string headerOf(int type, int speed) {
    const int words = ostrel::number_of_channels[type];
    char timeBase[64];
    const auto end =
        std::to_chars(timeBase, timeBase + sizeof timeBase, ostrel::samplePeriodMicros(type, speed),
                      std::chars_format::fixed, 2)
            .ptr;
    std::string header = "Time-Base: " + std::string(timeBase, end) + "us";
    header.append(std::size_t(words - 1), ',');
    header += "\r\n";
    for (int c = 0; c < words; ++c) {
        if (c > 0) header += ',';
        header += ostrel::isSteeringType(type) ? "W" + std::to_string(c + 1)
                                               : "Ch" + std::to_string(c + 1);
    }
    header += "\r\n";
    return header;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s FILE MEGABYTES [TYPE 0..9]\n", argv[0]);
        return 2;
    }
    const long megabytes = std::strtol(argv[2], nullptr, 10);
    const int type = argc == 4 ? int(std::strtol(argv[3], nullptr, 10)) : 3;
    if (megabytes <= 0 || !ostrel::isValidType(type)) {
        std::fprintf(stderr, "%s: MEGABYTES must be positive and TYPE 0..9\n", argv[0]);
        return 2;
    }
    const int speed =
        ostrel::isSteeringType(type) ? ostrel::steering_speed_index : ostrel::default_speed_index;
    const int fd = ::open(argv[1], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], argv[1], std::strerror(errno));
        return 1;
    }
    const std::string header = headerOf(type, speed);
    const int words = ostrel::number_of_channels[type];
    const std::size_t recordsPerCycle = ostrel::LOGCOUNT / std::size_t(words);
    std::vector<char> cycle(ostrel::LOGCOUNT * 6 + recordsPerCycle * 2);
    const uint64_t target = uint64_t(megabytes) * 1000000;
    uint64_t bytes = header.size();
    uint64_t records = 0;
    uint32_t random = 20130315;
    bool ok = writeAll(fd, header.data(), header.size());
    while (ok && bytes < target) {
        char *out = cycle.data();
        for (std::size_t r = 0; r < recordsPerCycle; ++r) {
            for (int k = 0; k < words; ++k) {
                random = random * 1664525u + 1013904223u;
                out = std::to_chars(out, out + 5, uint16_t(random >> 16)).ptr;
                *out++ = k + 1 < words ? ',' : '\r';
            }
            *out++ = '\n';
        }
        const std::size_t size = std::size_t(out - cycle.data());
        ok = writeAll(fd, cycle.data(), size);
        bytes += size;
        records += recordsPerCycle;
    }
    if (!ok || ::close(fd) != 0) {
        std::fprintf(stderr, "%s: %s: %s\n", argv[0], argv[1], std::strerror(errno));
        return 1;
    }
    std::printf("bytes=%llu records=%llu\n", static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(records));
    return 0;
}
