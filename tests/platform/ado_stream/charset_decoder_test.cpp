#include "platform/ado_stream/charset_decoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace {

std::u16string decode(std::string_view charset, std::string_view bytes) {
  const std::optional<CharsetId> id = find_charset(charset);
  if (!id) return u"<unknown>";
  return decode_charset(*id, reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

TEST(CharsetDecoder, NamesAndDecoding) {
  struct Row {
    const char* name;
    std::string charset;
    std::string bytes;
    std::u16string want;
  };
  const Row rows[] = {
      // UTF-8
      {.name = "utf-8", .charset = "utf-8", .bytes = "a\xE4\xB8\xAD", .want = u"a\u4E2D"},
      {.name = "UTF-8 upper case", .charset = "UTF-8", .bytes = "\xE4\xB8\xAD", .want = u"\u4E2D"},
      {.name = "utf8 alias", .charset = "utf8", .bytes = "x", .want = u"x"},
      {.name = "byte-order mark dropped", .charset = "utf-8", .bytes = "\xEF\xBB\xBFok",
       .want = u"ok"},
      {.name = "mark only at the start", .charset = "utf-8", .bytes = "a\xEF\xBB\xBF",
       .want = u"a\uFEFF"},
      {.name = "four-byte sequence", .charset = "utf-8", .bytes = "\xF0\x9F\x98\x80",
       .want = u"\U0001F600"},
      {.name = "invalid byte, decoding goes on", .charset = "utf-8", .bytes = "a\xFF" "b",
       .want = u"a\uFFFDb"},
      {.name = "truncated sequence at the end", .charset = "utf-8", .bytes = "a\xE4\xB8",
       .want = u"a\uFFFD"},
      // code page 936 under its names
      {.name = "gb2312 euro as Windows decodes it", .charset = "gb2312", .bytes = "\x80",
       .want = u"\u20AC"},
      {.name = "GBK upper case", .charset = "GBK", .bytes = "\xD6\xD0", .want = u"\u4E2D"},
      {.name = "GB2312 upper case", .charset = "GB2312", .bytes = "\xD6\xD0", .want = u"\u4E2D"},
      {.name = "gbk lead without trail", .charset = "gbk", .bytes = "\xD6" "1",
       .want = u"\uFFFD1"},
      {.name = "gb18030 four-byte", .charset = "gb18030", .bytes = "\x81\x30\x81\x30",
       .want = u"\u0080"},
      // other double-byte sets
      {.name = "big5", .charset = "big5", .bytes = "\xA4\xA4", .want = u"\u4E2D"},
      {.name = "Big5 mixed case", .charset = "Big5", .bytes = "\xA4\xA4", .want = u"\u4E2D"},
      {.name = "big5 bad trail keeps the next byte", .charset = "big5", .bytes = "\xA4" "1x",
       .want = u"\uFFFD1x"},
      {.name = "shift_jis", .charset = "shift_jis", .bytes = "\x93\xFA", .want = u"\u65E5"},
      {.name = "Shift_JIS", .charset = "Shift_JIS", .bytes = "\x82\xA0", .want = u"\u3042"},
      {.name = "euc-kr", .charset = "euc-kr", .bytes = "\xC7\xD1", .want = u"\uD55C"},
      {.name = "ks_c_5601-1987", .charset = "ks_c_5601-1987", .bytes = "\xC7\xD1",
       .want = u"\uD55C"},
      {.name = "big5 incomplete at the end", .charset = "big5", .bytes = "a\xA4",
       .want = u"a\uFFFD"},
      // single-byte sets
      {.name = "iso-8859-1", .charset = "iso-8859-1", .bytes = "\xE9", .want = u"\u00E9"},
      {.name = "windows-1252 euro", .charset = "windows-1252", .bytes = "\x80", .want = u"\u20AC"},
      {.name = "windows-1252 unmapped byte", .charset = "windows-1252", .bytes = "a\x81" "b",
       .want = u"a\uFFFDb"},
      {.name = "us-ascii high byte", .charset = "US-ASCII", .bytes = "a\xC0", .want = u"a\uFFFD"},
      // UTF-16
      {.name = "unicode is UTF-16LE", .charset = "unicode", .bytes = std::string("a\0\x2D\x4E", 4),
       .want = u"a\u4E2D"},
      {.name = "Unicode mark dropped", .charset = "Unicode",
       .bytes = std::string("\xFF\xFE" "a\0", 4), .want = u"a"},
      {.name = "odd last byte", .charset = "unicode", .bytes = std::string("a\0b", 3),
       .want = u"a\uFFFD"},
      {.name = "utf-16be", .charset = "utf-16be", .bytes = std::string("\0a", 2), .want = u"a"},
      // empty input
      {.name = "empty utf-8", .charset = "utf-8", .bytes = "", .want = u""},
      {.name = "empty big5", .charset = "big5", .bytes = "", .want = u""},
      {.name = "empty gbk", .charset = "gbk", .bytes = "", .want = u""},
      // names not known
      {.name = "unknown name", .charset = "x-klingon", .bytes = "a", .want = u"<unknown>"},
      {.name = "empty name", .charset = "", .bytes = "a", .want = u"<unknown>"},
      {.name = "200-character name", .charset = std::string(200, 'a'), .bytes = "a",
       .want = u"<unknown>"},
      {.name = "iconv suffix not passed through", .charset = "utf-8//TRANSLIT", .bytes = "a",
       .want = u"<unknown>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(decode(row.charset, row.bytes), row.want);
  }
}

// The index of the first unit where two decodings differ, or -1: keeps a failure readable
// when the texts run to hundreds of thousands of units.
std::ptrdiff_t first_difference(const std::u16string& got, const std::u16string& want) {
  const std::size_t common = std::min(got.size(), want.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (got[i] != want[i]) return static_cast<std::ptrdiff_t>(i);
  }
  return got.size() == want.size() ? -1 : static_cast<std::ptrdiff_t>(common);
}

TEST(CharsetDecoder, EveryInvalidByteOfALongBodyIsReplacedOnce) {
  // A long body alternating a valid character and a byte the set does not use: a decoder that
  // stopped at the first bad byte, or lost the character after it, shows here.
  struct Row {
    const char* name;
    const char* charset;
    std::string_view unit;  // one valid character, then one invalid byte
  };
  const Row rows[] = {
      {.name = "utf-8", .charset = "utf-8", .unit = "\xE4\xB8\xAD\xFF"},  // "middle", 0xFF
      {.name = "big5", .charset = "big5", .unit = "\xA4\xA4\xFF"},        // "middle", 0xFF
      {.name = "shift_jis", .charset = "shift_jis", .unit = "\x93\xFA\xA0"},  // "day", 0xA0
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    std::string bytes;
    for (int i = 0; i < 100000; ++i) bytes += row.unit;
    std::u16string want;
    const std::u16string one = decode(row.charset, row.unit.substr(0, row.unit.size() - 1));
    for (int i = 0; i < 100000; ++i) want += one + u"\uFFFD";
    EXPECT_EQ(first_difference(decode(row.charset, bytes), want), -1);
  }
}

}  // namespace
