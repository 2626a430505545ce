#include "platform/codepage/codepage.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string to_wide(UINT code_page, const std::string& bytes) {
  const int n = MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()),
                                    nullptr, 0);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  if (n > 0) {
    EXPECT_EQ(MultiByteToWideChar(code_page, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  out.data(), n),
              n);
  }
  return out;
}

std::string to_bytes(UINT code_page, const std::u16string& wide) {
  const int n = WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                                    nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  if (n > 0) {
    EXPECT_EQ(WideCharToMultiByte(code_page, 0, wide.data(), static_cast<int>(wide.size()),
                                  out.data(), n, nullptr, nullptr),
              n);
  }
  return out;
}

TEST(CodePage936, Decodes) {
  struct Row {
    const char* name;
    std::string gbk;
    std::u16string want;
  };
  const Row rows[] = {
      {.name = "ascii", .gbk = "ab", .want = u"ab"},
      {.name = "pair", .gbk = "\xD6\xD0\xCE\xC4", .want = u"\u4E2D\u6587"},  // "Chinese"
      {.name = "euro is 0x80", .gbk = "\x80", .want = u"\u20AC"},
      {.name = "full-width space", .gbk = "\xA1\xA1", .want = u"\u3000"},
      {.name = "trail below 0x80", .gbk = "\x81\x40", .want = u"\u4E02"},
      // Invalid sequences lose no valid neighbour.
      {.name = "lone lead at end", .gbk = "a\xD6", .want = u"a\uFFFD"},
      {.name = "lead before no trail", .gbk = "\xD6" "1", .want = u"\uFFFD" "1"},
      {.name = "lead before 0x7F", .gbk = "\xD6\x7F", .want = u"\uFFFD\x7F"},
      {.name = "0xFF", .gbk = "\xFF" "a", .want = u"\uFFFD" "a"},
      {.name = "unmapped pair", .gbk = "\xAA\xA1" "b", .want = u"\uFFFD" "b"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(to_wide(936, row.gbk), row.want);
    EXPECT_EQ(to_wide(CP_ACP, row.gbk), row.want);
  }
}

TEST(CodePage936, Encodes) {
  struct Row {
    const char* name;
    std::u16string wide;
    std::string want;
  };
  const Row rows[] = {
      {.name = "pair", .wide = u"\u4E2Dx", .want = "\xD6\xD0x"},
      {.name = "euro", .wide = u"\u20AC", .want = "\x80"},
      {.name = "not in code page", .wide = u"a\u00C5b", .want = "a?b"},  // Å
      {.name = "surrogate pair is one char", .wide = u"\U0001F600!", .want = "?!"},
      {.name = "lone surrogate", .wide = u"\xD800z", .want = "?z"},
      {.name = "U+FFFD", .wide = u"\uFFFD", .want = "?"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(to_bytes(936, row.wide), row.want);
  }
}

TEST(CodePage936, EveryMappedPairRoundTrips) {
  int mapped = 0;
  for (int lead = 0x81; lead <= 0xFE; ++lead) {
    for (int trail = 0x40; trail <= 0xFE; ++trail) {
      const std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
      if (trail == 0x7F) continue;  // no trail byte
      const std::u16string wide = to_wide(936, pair);
      if (wide == u"\uFFFD") continue;
      ASSERT_EQ(wide.size(), 1u) << std::hex << lead << ' ' << trail;
      ++mapped;
      EXPECT_EQ(to_bytes(936, wide), pair) << std::hex << lead << ' ' << trail;
    }
  }
  EXPECT_GT(mapped, 21000);  // GBK holds 21886 characters
}

TEST(CodePageContract, LengthsAndFailures) {
  // -1: NUL-terminated, the count includes the terminator.
  EXPECT_EQ(MultiByteToWideChar(936, 0, "\xD6\xD0" "a", -1, nullptr, 0), 3);
  char16_t small[1];
  SetLastError(0);
  EXPECT_EQ(MultiByteToWideChar(936, 0, "ab", 2, small, 1), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(MultiByteToWideChar(936, 0, "ab", 0, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(MultiByteToWideChar(1252, 0, "ab", 2, nullptr, 0), 0);
  EXPECT_EQ(MultiByteToWideChar(936, MB_ERR_INVALID_CHARS, "\xFF", 1, nullptr, 0), 0);
  EXPECT_EQ(GetLastError(), ERROR_NO_UNICODE_TRANSLATION);

  EXPECT_EQ(WideCharToMultiByte(936, WC_COMPOSITECHECK, u"\u4E2D", -1, nullptr, 0, nullptr,
                                nullptr),
            3);
  char out[2];
  EXPECT_EQ(WideCharToMultiByte(936, 0, u"\u4E2Da", 2, out, 2, nullptr, nullptr), 0);
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  BOOL used_default = FALSE;
  EXPECT_EQ(WideCharToMultiByte(936, 0, u"\u00C5", 1, out, 2, "*", &used_default), 1);
  EXPECT_EQ(out[0], '*');
  EXPECT_TRUE(used_default);
}

TEST(CodePageUtf8, BothWays) {
  EXPECT_EQ(to_wide(CP_UTF8, "a\xE4\xB8\xAD\xF0\x9F\x98\x80"), u"a\u4E2D\U0001F600");
  EXPECT_EQ(to_wide(CP_UTF8, "\xE4\xB8" "a\xC0\x80"), u"\uFFFD" "a\uFFFD\uFFFD");
  EXPECT_EQ(to_bytes(CP_UTF8, u"a\u4E2D\U0001F600"), "a\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(to_bytes(CP_UTF8, u"\xDC00"), "\xEF\xBF\xBD");
}

}  // namespace
