#pragma once

// The text decoding behind the stream object's ReadText: bytes in a named character set to
// UTF-16. Internal to the stream stand-in; the program reaches it only through automation.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A character set the decoder knows, resolved from the name a page or caller gives.
struct CharsetId {
  const char* iconv_name;  // the name iconv knows it by
  bool is_code_page_936;   // decoded with Windows' table for code page 936
  bool is_utf8;            // decoded with the UTF-8 rules of the code-page layer
};

// Resolves IANA names and their common aliases in any letter case ("utf-8", "UTF8", "gb2312",
// "Shift_JIS", "ks_c_5601-1987", "unicode" for UTF-16LE...). Empty for names it does not know,
// names of more than 64 bytes included. "gb2312", "GBK" and their aliases resolve to code page
// 936 as Windows decodes it (0x80 is the euro sign); "big5", "shift_jis" and "euc-kr" to the
// Windows code pages that extend them, as browsers read pages that declare them.
[[nodiscard]] std::optional<CharsetId> find_charset(std::string_view name);

// The bytes decoded to UTF-16 units. A leading byte-order mark of UTF-8 (or of UTF-16 for the
// UTF-16 sets) is not part of the text. A byte that does not decode becomes U+FFFD and decoding
// goes on with the byte after it; an incomplete sequence at the end becomes one U+FFFD.
[[nodiscard]] std::u16string decode_charset(const CharsetId& charset, const std::uint8_t* bytes,
                                            std::size_t byte_count);
