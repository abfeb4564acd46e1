#pragma once
// Timing of the PCM link, the one place it is written down: every group of 32 words takes
// 12 x 34 = 408 bit times on the link (12.75 bit times per word). Everything that turns words
// into link time (block times, the log's time base, the simulated receivers' pace) derives
// from these constants.

#include <cstdint>

namespace ostrel {

inline constexpr int link_bit_factor_a = 12;     // bit times per word slot
inline constexpr int link_bit_factor_b = 34;     // word slots per group
inline constexpr int link_words_per_group = 32;  // words carried by one group
inline constexpr int link_bit_times_per_group = link_bit_factor_a * link_bit_factor_b;  // 408

// Link time of `words` words at `bitRate` bit/s, in nanoseconds (exact for whole groups).
constexpr uint64_t linkNanos(uint64_t words, uint64_t bitRate) {
    return words * link_bit_times_per_group * 1'000'000'000ull / (link_words_per_group * bitRate);
}

// Nanoseconds one word takes, times the link speed in kbit/s: 12 750 000.
inline constexpr uint64_t link_word_nanos_times_kbps =
    uint64_t{link_bit_times_per_group} * 1'000'000 / link_words_per_group;

// Seconds one word takes on the link at `kbps` kbit/s.
constexpr double linkWordSeconds(double kbps) {
    return double(link_bit_times_per_group) / link_words_per_group / (kbps * 1000.0);
}

static_assert(link_bit_times_per_group == 408);
static_assert(link_word_nanos_times_kbps == 12'750'000);

}  // namespace ostrel
