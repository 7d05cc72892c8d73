// Names for the values of an enumeration, kept in one table that serves both ways: the name of
// a value for a trace or a message, and the value a name typed on a command line stands for.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

template <typename Value>
struct NamedValue {
    Value value;
    const char* name;
};

// The name of `value`, or `unknown` when the table lacks it.
template <typename Value, size_t N>
constexpr const char* NameOf(const NamedValue<Value> (&table)[N], Value value,
                             const char* unknown = "?") {
    for (const NamedValue<Value>& entry : table)
        if (entry.value == value) return entry.name;
    return unknown;
}

// The value called `name`, if any.
template <typename Value, size_t N>
constexpr std::optional<Value> ValueNamed(const NamedValue<Value> (&table)[N],
                                          std::string_view name) {
    for (const NamedValue<Value>& entry : table)
        if (name == entry.name) return entry.value;
    return std::nullopt;
}
