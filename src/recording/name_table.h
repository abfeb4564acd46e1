// A table of values and their names, the one way the recording library maps an enumeration
// to the words written for it and back.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace ostrel::recording {

template <typename T>
struct NamedValue {
    T value;
    std::string_view name;
};

template <typename T, std::size_t N>
using NameTable = std::array<NamedValue<T>, N>;

// The name of `value`; `fallback` when the table has none.
template <typename T, std::size_t N>
constexpr std::string_view nameIn(const NameTable<T, N> &table, T value,
                                  std::string_view fallback = {}) {
    for (const NamedValue<T> &entry : table) {
        if (entry.value == value) return entry.name;
    }
    return fallback;
}

// The value named `name` exactly; nullopt when the table has no such name.
template <typename T, std::size_t N>
constexpr std::optional<T> valueIn(const NameTable<T, N> &table, std::string_view name) {
    for (const NamedValue<T> &entry : table) {
        if (entry.name == name) return entry.value;
    }
    return std::nullopt;
}

}  // namespace ostrel::recording
