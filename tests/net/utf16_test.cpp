#include "net/utf16.h"

#include <gtest/gtest.h>

namespace {

Bytes units(std::initializer_list<char16_t> list) {
  Bytes out;
  for (char16_t u : list) {
    out.push_back(static_cast<std::uint8_t>(u & 0xFF));
    out.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return out;
}

TEST(TextToUtf16, Table) {
  struct Row {
    const char* name;
    Text text;
    Bytes want;
  };
  const Row rows[] = {
      {.name = "empty has no terminator", .text = "", .want = {}},
      {.name = "ascii", .text = "ab", .want = units({u'a', u'b', 0})},
      {.name = "gbk", .text = "\xD6\xD0", .want = units({0x4E2D, 0})},
      {.name = "invalid keeps neighbours", .text = "a\xD6" "1", .want = units({u'a', 0xFFFD, u'1', 0})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(text_to_utf16(row.text), row.want);
  }
}

TEST(Utf16ToText, Table) {
  struct Row {
    const char* name;
    Bytes utf16;
    Text want;
  };
  Bytes odd = units({u'a', u'b'});
  odd.push_back('c');
  const Row rows[] = {
      {.name = "empty", .utf16 = {}, .want = ""},
      {.name = "with terminator", .utf16 = units({u'a', 0}), .want = "a"},
      {.name = "without terminator", .utf16 = units({u'a', 0x4E2D}), .want = "a\xD6\xD0"},
      {.name = "stops at first NUL unit", .utf16 = units({u'a', 0, u'b'}), .want = "a"},
      {.name = "odd last byte ignored", .utf16 = odd, .want = "ab"},
      {.name = "one byte only", .utf16 = {'x'}, .want = ""},
      {.name = "default char", .utf16 = units({0x00C5, u'!'}), .want = "?!"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(utf16_to_text(row.utf16), row.want);
  }
}

}  // namespace
