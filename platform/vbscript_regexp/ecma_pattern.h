#pragma once

// The regular-expression object's patterns are ECMAScript-3 regular expressions; PCRE2 reads a
// syntax of its own. This turns the first into the second, for PCRE2 compiled in 16-bit code
// units without UTF (every unit one character, lone surrogates included) and with PCRE2_UCP,
// which makes case folding and \s follow Unicode.
//
// What the translation pins down, so that PCRE2 options cannot change it:
// - the dot is any unit but the line terminators \n, \r, U+2028 and U+2029;
// - ^ and $ are the ends of the text, or with multiline also the places next to a line
//   terminator (each unit of \r\n on its own);
// - \d, \w and \b are ASCII (UCP would make them Unicode), \s takes the Unicode spaces;
// - \v is the vertical tab, \cX a control character, \xHH and \uHHHH code units, \0 NUL;
// - a back-reference \n names a group when there are n groups, else it is an octal escape;
// - [] matches nothing, [^] any unit, [ inside a class is literal;
// - a { that does not start a quantifier is literal, as are } and ] outside a class.
// Refused as syntax errors: an unterminated group or class, an unmatched ), (? followed by
// anything but :, = or !, a quantifier with nothing to repeat (also after ^, $, \b, \B), two
// quantifiers in a row (PCRE2 would read "a*+" as possessive), a range out of order, and a
// backslash at the end.

#include <cstdint>
#include <string>
#include <string_view>

struct PcrePattern {
  std::u16string text;         // PCRE2 syntax
  std::uint32_t group_count = 0;
};

[[nodiscard]] bool translate_ecma_pattern(std::u16string_view source, bool multiline,
                                          PcrePattern* out);
