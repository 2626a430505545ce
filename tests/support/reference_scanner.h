#pragma once

// Naive, byte-by-byte versions of the scanning primitives, written straight from their rules:
// walk the text from its first byte one character at a time and test every position. Slow and
// obviously right, they check the real primitives over every short string of a small alphabet.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace reference {

std::ptrdiff_t find_text(std::string_view text, std::string_view needle,
                         std::optional<std::ptrdiff_t> start, bool ignore_case);
std::string replace_text(std::string_view text, std::string_view old,
                         std::string_view replacement, std::optional<std::ptrdiff_t> start,
                         std::optional<std::ptrdiff_t> count, bool case_sensitive);
std::vector<std::string> split_text(std::string_view text, std::string_view separator,
                                    std::optional<std::ptrdiff_t> max_count);
std::string trim_spaces(std::string_view text);
std::string remove_spaces(std::string_view text);

}  // namespace reference
