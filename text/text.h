#pragma once

// The tool's text and byte values, and the primitives every subsystem builds on.
//
// Text is GBK (code page 936). Lengths count bytes and positions are 1-based byte positions;
// a search that finds nothing gives -1. Scanning is character-aware: a byte of 0x80 or above
// takes the byte after it as one double-byte character, so a match can only begin on a
// character boundary. Boundaries are always counted from the first byte of the whole text,
// also when a search starts further in. Ignoring case folds the ASCII letters of single-byte
// characters and nothing else. A space is 0x20 or the full-width space 0xA1 0xA1; tab, CR and
// LF are not spaces. No primitive fails: every input, empty ones included, has a result.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Bytes in code page 936. An empty Text and an absent one are the same value.
using Text = std::string;
// A counted buffer that may hold NUL bytes: UTF-16LE strings, HTTP bodies.
using Bytes = std::vector<std::uint8_t>;
using TextList = std::vector<Text>;

// ---- Text primitives ----

[[nodiscard]] std::ptrdiff_t text_len(std::string_view text);

// The first or last n bytes; empty when n <= 0, the whole text when n exceeds its length.
// They count raw bytes and may cut a double-byte character in two.
[[nodiscard]] Text text_left(std::string_view text, std::ptrdiff_t n);
[[nodiscard]] Text text_right(std::string_view text, std::ptrdiff_t n);

// n bytes from position start; empty when start < 1, start > length or n <= 0; cut short at
// the end of the text. Raw bytes.
[[nodiscard]] Text text_mid(std::string_view text, std::ptrdiff_t start, std::ptrdiff_t n);

// Position of the first occurrence of needle that begins on a character boundary at or after
// start (absent or below 1: the beginning); -1 when there is none or start lies beyond the end.
// An empty needle gives 1 (not start) while at least one byte lies at or after start, else -1:
// find_text("ab", "", 2) is 1, find_text("ab", "", 3) is -1.
[[nodiscard]] std::ptrdiff_t find_text(std::string_view text, std::string_view needle,
                                       std::optional<std::ptrdiff_t> start = std::nullopt,
                                       bool ignore_case = false);

// Replaces occurrences of old from start on (absent or below 1: the beginning), at most count
// of them (absent or negative: all). The text comes back unchanged when text or old is empty,
// start lies beyond the end or count is 0. Bytes before start are copied as they are;
// occurrences never overlap and replaced text is not scanned again. When old is a single byte
// and the scan reaches a lone lead byte standing last in the text, that byte is dropped unless
// it is itself old.
[[nodiscard]] Text replace_text(std::string_view text, std::string_view old,
                                std::string_view replacement = {},
                                std::optional<std::ptrdiff_t> start = std::nullopt,
                                std::optional<std::ptrdiff_t> count = std::nullopt,
                                bool case_sensitive = true);

// Cuts text at every occurrence of separator (absent: ","). An empty text or a max_count of 0
// gives an empty list; an empty separator gives the whole text as one item. Pieces before an
// occurrence are items even when empty; the piece after the last occurrence is an item only
// when it is not empty. With max_count (negative: no limit) the list ends after that many
// items and the rest of the text is dropped.
[[nodiscard]] TextList split_text(std::string_view text,
                                  std::optional<std::string_view> separator = std::nullopt,
                                  std::optional<std::ptrdiff_t> max_count = std::nullopt);

// Removes the leading and the trailing run of spaces. A lone lead byte at the very end counts
// as part of the trailing run, so trimming twice gives what trimming once gives.
[[nodiscard]] Text trim_spaces(std::string_view text);

// Removes every space and keeps every other character; a lone lead byte at the very end goes.
[[nodiscard]] Text remove_spaces(std::string_view text);

// Three-way comparison of unsigned bytes: negative, 0 or positive. Without case_sensitive the
// ASCII letters of single-byte characters compare folded.
[[nodiscard]] int compare_texts(std::string_view a, std::string_view b, bool case_sensitive);

// ---- Byte primitives ----

[[nodiscard]] std::ptrdiff_t bytes_len(const Bytes& bytes);
// The first n bytes, n clamped to the range 0 to the length.
[[nodiscard]] Bytes bytes_left(const Bytes& bytes, std::ptrdiff_t n);
// n zero bytes; empty when n <= 0.
[[nodiscard]] Bytes blank_bytes(std::ptrdiff_t n);
// A copy of n bytes from address; empty when address is null or n <= 0.
[[nodiscard]] Bytes bytes_from_buffer(const void* address, std::ptrdiff_t n);
// The bytes of the text, without a terminating NUL.
[[nodiscard]] Bytes text_to_bytes(std::string_view text);
// The bytes up to the first NUL byte, all of them when there is none.
[[nodiscard]] Text bytes_to_text(const Bytes& bytes);
