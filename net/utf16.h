#pragma once

// The two conversions between Text (code page 936) and the UTF-16 strings of WinHTTP and COM.

#include "text/text.h"

// The UTF-16LE form of text followed by one NUL unit (two zero bytes); an empty text gives an
// empty Bytes with no terminator at all. Bytes that are not valid GBK become U+FFFD.
[[nodiscard]] Bytes text_to_utf16(const Text& text);

// The code-page-936 form of the UTF-16LE units in utf16, up to the first NUL unit; an odd last
// byte is ignored. Characters that code page 936 cannot hold become "?".
[[nodiscard]] Text utf16_to_text(const Bytes& utf16);
