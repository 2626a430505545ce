#include "tests/support/reference_scanner.h"

namespace reference {
namespace {

bool high(char c) { return static_cast<unsigned char>(c) >= 0x80; }

std::size_t step(std::string_view text, std::size_t i) {
  return high(text[i]) && i + 1 < text.size() ? 2 : 1;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Does needle stand at i, comparing character by character?
bool matches_at(std::string_view text, std::size_t i, std::string_view needle, bool ignore_case) {
  if (text.size() - i < needle.size()) return false;
  bool text_trail = false;
  bool needle_trail = false;
  for (std::size_t k = 0; k < needle.size(); ++k) {
    char t = text[i + k];
    char n = needle[k];
    if (ignore_case && !text_trail) t = lower(t);
    if (ignore_case && !needle_trail) n = lower(n);
    if (t != n) return false;
    text_trail = !text_trail && high(text[i + k]);
    needle_trail = !needle_trail && high(needle[k]);
  }
  return true;
}

bool is_space_at(std::string_view text, std::size_t i) {
  return text[i] == ' ' ||
         (i + 1 < text.size() && text[i] == '\xA1' && text[i + 1] == '\xA1');
}

}  // namespace

std::ptrdiff_t find_text(std::string_view text, std::string_view needle,
                         std::optional<std::ptrdiff_t> start, bool ignore_case) {
  const std::size_t begin = start && *start > 1 ? static_cast<std::size_t>(*start - 1) : 0;
  if (begin >= text.size()) return -1;
  if (needle.empty()) return 1;
  for (std::size_t i = 0; i < text.size(); i += step(text, i)) {
    if (i >= begin && matches_at(text, i, needle, ignore_case)) {
      return static_cast<std::ptrdiff_t>(i + 1);
    }
  }
  return -1;
}

std::string replace_text(std::string_view text, std::string_view old,
                         std::string_view replacement, std::optional<std::ptrdiff_t> start,
                         std::optional<std::ptrdiff_t> count, bool case_sensitive) {
  const std::size_t begin = start && *start > 1 ? static_cast<std::size_t>(*start - 1) : 0;
  if (text.empty() || old.empty() || begin >= text.size() || (count && *count == 0)) {
    return std::string(text);
  }
  std::ptrdiff_t remaining = count && *count > 0 ? *count : 1 << 30;
  std::string out;
  std::size_t i = 0;
  while (i < begin) {
    const std::size_t s = step(text, i);
    out.append(text.substr(i, s));
    i += s;
  }
  while (i < text.size()) {
    if (remaining == 0 || text.size() - i < old.size()) {
      out.append(text.substr(i));
      break;
    }
    if (matches_at(text, i, old, !case_sensitive)) {
      out.append(replacement);
      i += old.size();
      --remaining;
      continue;
    }
    const std::size_t s = step(text, i);
    const bool lone_lead_last = s == 1 && high(text[i]) && i + 1 == text.size();
    if (!(old.size() == 1 && lone_lead_last)) out.append(text.substr(i, s));
    i += s;
  }
  return out;
}

std::vector<std::string> split_text(std::string_view text, std::string_view separator,
                                    std::optional<std::ptrdiff_t> max_count) {
  std::vector<std::string> items;
  if (text.empty() || (max_count && *max_count == 0)) return items;
  if (separator.empty()) return {std::string(text)};
  const std::size_t limit =
      max_count && *max_count > 0 ? static_cast<std::size_t>(*max_count) : 1u << 30;
  std::string piece;
  std::size_t i = 0;
  while (i < text.size()) {
    if (matches_at(text, i, separator, false)) {
      items.push_back(piece);
      piece.clear();
      i += separator.size();
      continue;
    }
    const std::size_t s = step(text, i);
    piece.append(text.substr(i, s));
    i += s;
  }
  if (!piece.empty()) items.push_back(piece);
  if (items.size() > limit) items.resize(limit);
  return items;
}

std::string trim_spaces(std::string_view text) {
  // Characters as (start, size), spaces and a final lone lead byte marked as droppable.
  std::vector<std::pair<std::size_t, std::size_t>> chars;
  std::vector<bool> droppable;
  for (std::size_t i = 0; i < text.size(); i += step(text, i)) {
    const std::size_t s = step(text, i);
    chars.emplace_back(i, s);
    droppable.push_back(is_space_at(text, i) || (s == 1 && high(text[i])));
  }
  std::size_t first = 0;
  while (first < chars.size() && is_space_at(text, chars[first].first)) ++first;
  std::size_t last = chars.size();
  while (last > first && droppable[last - 1]) --last;
  std::string out;
  for (std::size_t c = first; c < last; ++c) out.append(text.substr(chars[c].first, chars[c].second));
  return out;
}

std::string remove_spaces(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); i += step(text, i)) {
    const std::size_t s = step(text, i);
    if (is_space_at(text, i) || (s == 1 && high(text[i]))) continue;
    out.append(text.substr(i, s));
  }
  return out;
}

}  // namespace reference
