#include "net/cookies.h"

#include <string>
#include <unordered_set>

namespace {

constexpr std::string_view quote_placeholder = "#\xD2\xFD\xBA\xC5";  // "#" + GBK "quotation mark"
constexpr std::string_view deletion_mark = "=deleted";
constexpr std::string_view entry_separator = "; ";

}  // namespace

Text text_between(std::string_view text, std::string_view start_marker,
                  std::string_view end_marker, std::ptrdiff_t start, bool ignore_case) {
  const Text start_copy = replace_text(start_marker, quote_placeholder, "\"");
  const Text end_copy = replace_text(end_marker, quote_placeholder, "\"");
  const std::ptrdiff_t start_pos = find_text(text, start_copy, start, ignore_case);
  if (start_pos == -1) return {};
  const std::ptrdiff_t begin = start_pos + text_len(start_copy);
  const std::ptrdiff_t end_pos = find_text(text, end_copy, begin, ignore_case);
  if (end_pos == -1) return {};
  return text_mid(text, begin, end_pos - begin);
}

Text cookie_name(std::string_view entry) {
  const std::ptrdiff_t eq_pos = find_text(entry, "=");
  return trim_spaces(eq_pos == -1 ? Text(entry) : text_left(entry, eq_pos - 1));
}

bool has_cookie_named(const TextList& list, std::string_view name) {
  for (const Text& entry : list) {
    if (cookie_name(entry) == name) return true;
  }
  return false;
}

std::ptrdiff_t index_in_list(const TextList& list, std::string_view item) {
  for (std::size_t index = 0; index < list.size(); ++index) {
    if (list[index] == item) return static_cast<std::ptrdiff_t>(index) + 1;
  }
  return -1;
}

Text join_unique(std::string_view text, std::string_view separator) {
  const TextList items = split_text(text, separator);
  // A set answers what index_in_list would over the items kept so far, without the linear
  // walk that makes thousands of entries quadratic.
  std::unordered_set<std::string_view> seen;
  Text joined;
  for (const Text& item : items) {
    if (!seen.insert(item).second) continue;
    joined += item;
    joined += separator;
  }
  return text_left(joined, text_len(joined) - text_len(separator));
}

Text merge_cookies(Text& current, Text& received) {
  current = remove_spaces(current);
  received = remove_spaces(received);
  const TextList old_entries = split_text(current, ";");
  TextList merged = split_text(received, ";");

  // The names of everything in merged, kept in step with it: the same answer as
  // has_cookie_named over merged, in constant time per entry.
  std::unordered_set<Text> merged_names;
  for (const Text& entry : merged) merged_names.insert(cookie_name(entry));
  for (const Text& entry : old_entries) {
    if (merged_names.insert(cookie_name(entry)).second) merged.push_back(entry);
  }

  Text joined;
  for (const Text& entry : merged) {
    if (text_right(entry, text_len(deletion_mark)) == deletion_mark) continue;
    joined += entry;
    joined += entry_separator;
  }
  joined = text_left(joined, text_len(joined) - text_len(entry_separator));
  current = join_unique(joined, entry_separator);
  return current;
}
