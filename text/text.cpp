#include "text/text.h"

#include <string.h>  // memmem

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t npos = std::string_view::npos;

constexpr bool is_lead(char c) { return static_cast<unsigned char>(c) >= 0x80; }

// ASCII-only folding: tolower() would follow the C locale.
constexpr char fold_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

constexpr bool is_ascii_letter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// The GBK step, the one rule every scan follows: a byte of 0x80 or above takes the byte after
// it, when there is one, as a single double-byte character.
std::size_t char_size(std::string_view text, std::size_t index) {
  return is_lead(text[index]) && index + 1 < text.size() ? 2 : 1;
}

bool is_full_width_space(std::string_view text, std::size_t index) {
  return index + 1 < text.size() && text[index] == '\xA1' && text[index + 1] == '\xA1';
}

// Length of the space character at index (a character boundary), or 0 for anything else.
std::size_t space_size(std::string_view text, std::size_t index) {
  if (text[index] == ' ') return 1;
  return is_full_width_space(text, index) ? 2 : 0;
}

// A byte below 0x80 always ends a character, so only the run of high bytes right before index
// decides whether index starts a character: inside such a run the bytes pair up from the run's
// first byte. floor is a known character start at or before index.
bool starts_character(std::string_view text, std::size_t index, std::size_t floor) {
  std::size_t run_start = index;
  while (run_start > floor && is_lead(text[run_start - 1])) --run_start;
  return (index - run_start) % 2 == 0;
}

// The first character start at or after index, counting from the start of the text.
std::size_t align_to_character(std::string_view text, std::size_t index) {
  return starts_character(text, index, 0) ? index : index + 1;
}

// Lowers the ASCII letters of single-byte characters; trail bytes stay as they are. High bytes
// are never changed, so the copy splits into characters exactly as the original does.
std::string fold_single_byte_letters(std::string_view text) {
  std::string folded(text);
  for (std::size_t i = 0; i < folded.size(); i += char_size(folded, i)) {
    folded[i] = fold_ascii(folded[i]);
  }
  return folded;
}

bool has_single_byte_letter(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); i += char_size(text, i)) {
    if (is_ascii_letter(text[i])) return true;
  }
  return false;
}

bool ends_in_lone_lead(std::string_view text) {
  std::size_t i = 0;
  while (i + 1 < text.size()) i += char_size(text, i);
  return i < text.size() && is_lead(text[i]);
}

// Does needle stand at index, folding the letters of single-byte characters of each side?
bool matches_folded(std::string_view text, std::size_t index, std::string_view needle) {
  bool text_trail = false;
  bool needle_trail = false;
  for (std::size_t k = 0; k < needle.size(); ++k) {
    const char t = text[index + k];
    const char n = needle[k];
    if ((text_trail ? t : fold_ascii(t)) != (needle_trail ? n : fold_ascii(n))) return false;
    text_trail = !text_trail && is_lead(t);
    needle_trail = !needle_trail && is_lead(n);
  }
  return true;
}

// Finds a needle at character starts only. Candidates come from a byte search; a candidate
// that lands on a trail byte is stepped over. The walk back that decides this never
// goes below the last position already known to start a character, so a whole scan stays
// linear however many candidates are rejected.
//
// Ignoring case searches folded copies. That is exact as long as every match ends on a
// character boundary; a needle ending in a lone lead byte can end inside a pair, after which
// the scan goes on from a trail byte, so such a needle is compared position by position.
class Finder {
 public:
  Finder(std::string_view text, std::string_view needle, bool ignore_case)
      : text_(text), needle_(needle) {
    if (!ignore_case || !has_single_byte_letter(needle)) return;
    if (ends_in_lone_lead(needle)) {
      compare_folded_ = true;
      return;
    }
    folded_text_ = fold_single_byte_letters(text);
    folded_needle_ = fold_single_byte_letters(needle);
    text_ = folded_text_;
    needle_ = folded_needle_;
  }

  // The first occurrence at or after from, which the scan has reached as a character start.
  std::size_t next(std::size_t from) {
    if (compare_folded_) {
      for (; from + needle_.size() <= text_.size(); from += char_size(text_, from)) {
        if (matches_folded(text_, from, needle_)) return from;
      }
      return npos;
    }
    while (from + needle_.size() <= text_.size()) {
      const std::size_t index = find_bytes(from);
      if (index == npos) return npos;
      if (starts_character(text_, index, from)) return index;
      from = index + 1;  // index is the trail of a pair, so the next character starts after it
    }
    return npos;
  }

 private:
  // memchr on the needle's first byte and a compare, as std::string_view::find does: fastest on
  // ordinary text. Once too many candidates have failed over the whole scan it hands over to
  // memmem (two-way, linear), so no input makes the scan quadratic.
  std::size_t find_bytes(std::size_t from) {
    constexpr int max_false_candidates = 1024;
    const std::size_t last_start = text_.size() - needle_.size();
    while (false_candidates_ < max_false_candidates && from <= last_start) {
      const void* first = std::memchr(text_.data() + from, needle_[0], last_start - from + 1);
      if (first == nullptr) return npos;
      const auto index = static_cast<std::size_t>(static_cast<const char*>(first) - text_.data());
      if (std::memcmp(text_.data() + index + 1, needle_.data() + 1, needle_.size() - 1) == 0) {
        return index;
      }
      ++false_candidates_;
      from = index + 1;
    }
    if (from > last_start) return npos;
    const void* hit =
        memmem(text_.data() + from, text_.size() - from, needle_.data(), needle_.size());
    return hit == nullptr ? npos
                          : static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
  }

  std::string_view text_;
  std::string_view needle_;
  std::string folded_text_;
  std::string folded_needle_;
  bool compare_folded_ = false;
  int false_candidates_ = 0;
};

// 0-based index of a 1-based start; absent or below 1 means the beginning.
std::size_t start_index(std::optional<std::ptrdiff_t> start) {
  return start && *start > 1 ? static_cast<std::size_t>(*start - 1) : 0;
}

std::size_t clamp_count(std::ptrdiff_t n, std::size_t size) {
  return n <= 0 ? 0 : std::min(static_cast<std::size_t>(n), size);
}

}  // namespace

std::ptrdiff_t text_len(std::string_view text) { return static_cast<std::ptrdiff_t>(text.size()); }

Text text_left(std::string_view text, std::ptrdiff_t n) {
  return Text(text.substr(0, clamp_count(n, text.size())));
}

Text text_right(std::string_view text, std::ptrdiff_t n) {
  const std::size_t count = clamp_count(n, text.size());
  return Text(text.substr(text.size() - count));
}

Text text_mid(std::string_view text, std::ptrdiff_t start, std::ptrdiff_t n) {
  if (start < 1 || start > text_len(text) || n <= 0) return {};
  return Text(text.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n)));
}

std::ptrdiff_t find_text(std::string_view text, std::string_view needle,
                         std::optional<std::ptrdiff_t> start, bool ignore_case) {
  const std::size_t begin = start_index(start);
  if (begin >= text.size()) return -1;
  if (needle.empty()) return 1;
  Finder finder(text, needle, ignore_case);
  const std::size_t index = finder.next(align_to_character(text, begin));
  return index == npos ? -1 : static_cast<std::ptrdiff_t>(index + 1);
}

Text replace_text(std::string_view text, std::string_view old, std::string_view replacement,
                  std::optional<std::ptrdiff_t> start, std::optional<std::ptrdiff_t> count,
                  bool case_sensitive) {
  const std::size_t begin = start_index(start);
  if (text.empty() || old.empty() || begin >= text.size() || (count && *count == 0)) {
    return Text(text);
  }
  std::ptrdiff_t remaining =
      count && *count > 0 ? *count : std::numeric_limits<std::ptrdiff_t>::max();

  Finder finder(text, old, !case_sensitive);
  std::size_t scan = align_to_character(text, begin);
  Text out;
  out.reserve(text.size());
  out.append(text.substr(0, scan));
  while (remaining > 0) {
    const std::size_t hit = finder.next(scan);
    if (hit == npos) break;
    out.append(text.substr(scan, hit - scan));
    out.append(replacement);
    scan = hit + old.size();
    --remaining;
  }
  // A single-byte old is scanned character by character to the very end, and a lead byte with
  // no byte after it falls out of that scan. Had it been old itself, the finder took it above.
  const std::size_t last = text.size() - 1;
  const bool drops_lone_lead = remaining > 0 && old.size() == 1 && scan <= last &&
                               is_lead(text[last]) && starts_character(text, last, scan);
  out.append(text.substr(scan, text.size() - scan - (drops_lone_lead ? 1 : 0)));
  return out;
}

TextList split_text(std::string_view text, std::optional<std::string_view> separator,
                    std::optional<std::ptrdiff_t> max_count) {
  const std::string_view sep = separator.value_or(",");
  TextList items;
  if (text.empty() || (max_count && *max_count == 0)) return items;
  if (sep.empty()) {
    items.emplace_back(text);
    return items;
  }
  const std::size_t limit = max_count && *max_count > 0 ? static_cast<std::size_t>(*max_count)
                                                        : std::numeric_limits<std::size_t>::max();
  Finder finder(text, sep, false);
  std::size_t scan = 0;
  while (items.size() < limit) {
    const std::size_t hit = finder.next(scan);
    if (hit == npos) {
      if (scan < text.size()) items.emplace_back(text.substr(scan));
      break;
    }
    items.emplace_back(text.substr(scan, hit - scan));
    scan = hit + sep.size();
  }
  return items;
}

Text trim_spaces(std::string_view text) {
  std::size_t begin = 0;
  while (begin < text.size()) {
    const std::size_t size = space_size(text, begin);
    if (size == 0) break;
    begin += size;
  }
  // The end of the last character that is neither a space nor a lone lead byte.
  std::size_t end = begin;
  for (std::size_t i = begin; i < text.size();) {
    const std::size_t size = char_size(text, i);
    const bool lone_lead = size == 1 && is_lead(text[i]);
    if (!lone_lead && space_size(text, i) == 0) end = i + size;
    i += size;
  }
  return Text(text.substr(begin, end - begin));
}

Text remove_spaces(std::string_view text) {
  Text out;
  out.reserve(text.size());
  // Copies runs of kept characters at once; only spaces and a final lone lead byte break a run.
  std::size_t run_start = 0;
  std::size_t i = 0;
  const std::size_t size = text.size();
  while (i < size) {
    const char c = text[i];
    if (!is_lead(c)) {
      if (c != ' ') {
        ++i;
        continue;
      }
      out.append(text.data() + run_start, i - run_start);
      run_start = ++i;
    } else if (i + 1 < size) {
      if (c == '\xA1' && text[i + 1] == '\xA1') {  // full-width space
        out.append(text.data() + run_start, i - run_start);
        run_start = i += 2;
      } else {
        i += 2;
      }
    } else {  // lone lead byte at the very end
      break;
    }
  }
  out.append(text.data() + run_start, i - run_start);
  return out;
}

int compare_texts(std::string_view a, std::string_view b, bool case_sensitive) {
  if (case_sensitive) {
    const int order = a.compare(b);
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
  }
  // Up to the first difference both texts split into the same characters (folding touches no
  // high byte), so one flag tracks whether the current byte is a trail byte in both.
  const std::size_t common = std::min(a.size(), b.size());
  bool is_trail = false;
  for (std::size_t i = 0; i < common; ++i) {
    const char ca = is_trail ? a[i] : fold_ascii(a[i]);
    const char cb = is_trail ? b[i] : fold_ascii(b[i]);
    if (ca != cb) {
      return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
    }
    is_trail = !is_trail && is_lead(a[i]);
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::ptrdiff_t bytes_len(const Bytes& bytes) { return static_cast<std::ptrdiff_t>(bytes.size()); }

Bytes bytes_left(const Bytes& bytes, std::ptrdiff_t n) {
  const std::size_t count = clamp_count(n, bytes.size());
  return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count));
}

Bytes blank_bytes(std::ptrdiff_t n) { return Bytes(n <= 0 ? 0 : static_cast<std::size_t>(n), 0); }

Bytes bytes_from_buffer(const void* address, std::ptrdiff_t n) {
  if (address == nullptr || n <= 0) return {};
  const auto* first = static_cast<const std::uint8_t*>(address);
  return Bytes(first, first + n);
}

Bytes text_to_bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Text bytes_to_text(const Bytes& bytes) {
  // memchr and one block copy: HTTP bodies pass through here whole.
  if (bytes.empty()) return {};
  const auto* begin = reinterpret_cast<const char*>(bytes.data());
  const void* nul = std::memchr(begin, 0, bytes.size());
  const std::size_t byte_count =
      nul == nullptr ? bytes.size() : static_cast<std::size_t>(static_cast<const char*>(nul) - begin);
  return Text(begin, byte_count);
}
