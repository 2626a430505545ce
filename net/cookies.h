#pragma once

// Cookie text and the routines web_request uses to collect and merge it.
//
// Cookie text is a sequence of name=value entries joined by "; ". An entry's name is the text
// before its first "=" with spaces trimmed (an entry without "=" is a name by itself). When
// cookie text is read, all spaces are removed first and the text is cut at every ";", so an
// empty piece between two semicolons is an entry whose name is empty. An entry ending in
// "=deleted" is a deletion mark. Entries and list items compare byte for byte, case-sensitive.
// None of these routines can fail.

#include <cstddef>
#include <string_view>

#include "text/text.h"

// The bytes strictly between the first start_marker found at or after start (below 1: the
// beginning) and the first end_marker after it. In both markers the placeholder "#" followed
// by the GBK word for quotation mark stands for a double quote. Empty when either marker is
// missing; an empty end_marker gives empty, and an empty start_marker counts as found at
// position 1 whatever start is. ignore_case folds ASCII letters in both searches.
[[nodiscard]] Text text_between(std::string_view text, std::string_view start_marker,
                                std::string_view end_marker, std::ptrdiff_t start = 0,
                                bool ignore_case = false);

// The entry's name, trimmed: "a=b=c" gives "a", "flag" gives "flag", "=x" gives "".
[[nodiscard]] Text cookie_name(std::string_view entry);

// True when some entry of the list has exactly this name; false for an empty list.
[[nodiscard]] bool has_cookie_named(const TextList& list, std::string_view name);

// 1-based index of the first item equal to item, or -1.
[[nodiscard]] std::ptrdiff_t index_in_list(const TextList& list, std::string_view item);

// The items of text as split_text cuts them at separator, each kept at its first occurrence
// and joined by separator; empty when no item is kept.
[[nodiscard]] Text join_unique(std::string_view text, std::string_view separator);

// Folds received into current. Both lose all their spaces first and are written back at once;
// current then becomes the received entries in their order followed by the old entries whose
// name was not received (the first of each name), with deletion marks and exact repeats left
// out. Returns a copy of the new current. Two empty texts merge to an empty text.
Text merge_cookies(Text& current, Text& received);
