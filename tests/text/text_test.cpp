#include "text/text.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/reference_scanner.h"

// GBK bytes used below:
//   "\xD6\xD0"  the character for "middle", two bytes
//   "\xA1\xA1"  full-width space
//   "\x81\x41"  a double-byte character whose trail byte is the ASCII letter A
//   "\x81"      a lead byte; alone at the end it is a lone lead byte

namespace {

using std::nullopt;
using std::optional;
using std::ptrdiff_t;

TEST(TextSlices, LeftRightMid) {
  struct Row {
    const char* name;
    std::string text;
    ptrdiff_t start;
    ptrdiff_t n;
    std::string left, right, mid;
  };
  const Row rows[] = {
      {.name = "empty", .text = "", .start = 1, .n = 2, .left = "", .right = "", .mid = ""},
      {.name = "zero", .text = "abc", .start = 1, .n = 0, .left = "", .right = "", .mid = ""},
      {.name = "negative", .text = "abc", .start = 1, .n = -1, .left = "", .right = "", .mid = ""},
      {.name = "inside", .text = "abcd", .start = 2, .n = 2, .left = "ab", .right = "cd", .mid = "bc"},
      {.name = "too long", .text = "abc", .start = 3, .n = 9, .left = "abc", .right = "abc", .mid = "c"},
      {.name = "start 0", .text = "abc", .start = 0, .n = 1, .left = "a", .right = "c", .mid = ""},
      {.name = "start past end", .text = "abc", .start = 4, .n = 1, .left = "a", .right = "c", .mid = ""},
      // Raw bytes: a double-byte character may be cut in two.
      {.name = "cuts pair", .text = "\xD6\xD0z", .start = 2, .n = 1, .left = "\xD6", .right = "z", .mid = "\xD0"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(text_left(row.text, row.n), row.left);
    EXPECT_EQ(text_right(row.text, row.n), row.right);
    EXPECT_EQ(text_mid(row.text, row.start, row.n), row.mid);
  }
  EXPECT_EQ(text_len("\xD6\xD0z"), 3);
}

struct FindRow {
  const char* name;
  std::string text;
  std::string needle;
  optional<ptrdiff_t> start;
  bool ignore_case;
  ptrdiff_t want;
};

const FindRow find_rows[] = {
    // empty inputs
    {.name = "empty text", .text = "", .needle = "a", .start = nullopt, .ignore_case = false, .want = -1},
    {.name = "empty both", .text = "", .needle = "", .start = nullopt, .ignore_case = false, .want = -1},
    {.name = "empty needle", .text = "ab", .needle = "", .start = nullopt, .ignore_case = false, .want = 1},
    {.name = "empty needle gives 1 not start", .text = "ab", .needle = "", .start = 2, .ignore_case = false, .want = 1},
    {.name = "empty needle past end", .text = "ab", .needle = "", .start = 3, .ignore_case = false, .want = -1},
    // start
    {.name = "plain", .text = "abcabc", .needle = "bc", .start = nullopt, .ignore_case = false, .want = 2},
    {.name = "from start", .text = "abcabc", .needle = "bc", .start = 3, .ignore_case = false, .want = 5},
    {.name = "start below 1", .text = "abcabc", .needle = "bc", .start = -5, .ignore_case = false, .want = 2},
    {.name = "start at last byte", .text = "abc", .needle = "c", .start = 3, .ignore_case = false, .want = 3},
    {.name = "start beyond end", .text = "abc", .needle = "c", .start = 4, .ignore_case = false, .want = -1},
    {.name = "needle longer than text", .text = "ab", .needle = "abc", .start = nullopt, .ignore_case = false, .want = -1},
    // double-byte boundaries
    {.name = "trail byte looks like needle", .text = "\x81\x41", .needle = "A", .start = nullopt, .ignore_case = false, .want = -1},
    {.name = "after pair", .text = "\x81\x41\x41", .needle = "A", .start = nullopt, .ignore_case = false, .want = 3},
    {.name = "across boundary", .text = "a\xD6\xD0\xD6\xD0", .needle = "\xD0\xD6", .start = nullopt, .ignore_case = false, .want = -1},
    {.name = "pair found", .text = "a\xD6\xD0\xD6\xD0", .needle = "\xD6\xD0", .start = 3, .ignore_case = false, .want = 4},
    {.name = "start inside pair moves on", .text = "\xD6\xD0\xD0", .needle = "\xD0", .start = 2, .ignore_case = false, .want = 3},
    {.name = "A1 trail before A1 is no space", .text = "\xB0\xA1\xA1\xA1", .needle = "\xA1\xA1", .start = nullopt, .ignore_case = false, .want = 3},
    {.name = "lone lead at end", .text = "a\x81", .needle = "\x81", .start = nullopt, .ignore_case = false, .want = 2},
    // case folding
    {.name = "exact case", .text = "xABC", .needle = "abc", .start = nullopt, .ignore_case = false, .want = -1},
    {.name = "ignore case", .text = "xABC", .needle = "abc", .start = nullopt, .ignore_case = true, .want = 2},
    {.name = "trail letter not folded", .text = "\x81\x61", .needle = "\x81\x41", .start = nullopt, .ignore_case = true, .want = -1},
    {.name = "high bytes never fold", .text = "\xC1\xC1", .needle = "\xE1\xE1", .start = nullopt, .ignore_case = true, .want = -1},
    {.name = "folded needle after pair", .text = "\x81\x41Z", .needle = "z", .start = nullopt, .ignore_case = true, .want = 3},
};

TEST(FindText, Table) {
  for (const FindRow& row : find_rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(find_text(row.text, row.needle, row.start, row.ignore_case), row.want);
  }
}

// An ASCII prefix moves every answer by its length: positions count from the whole text.
TEST(FindText, ShiftedBehindPrefix) {
  const std::string prefix = "pre";
  const auto shift = static_cast<ptrdiff_t>(prefix.size());
  for (const FindRow& row : find_rows) {
    SCOPED_TRACE(row.name);
    const optional<ptrdiff_t> start = row.start ? optional(std::max<ptrdiff_t>(*row.start, 1) + shift)
                                                : optional<ptrdiff_t>(shift + 1);
    ptrdiff_t want = row.want;
    if (want > 0 && !row.needle.empty()) want += shift;
    if (row.text.empty() && row.needle.empty()) want = -1;
    EXPECT_EQ(find_text(prefix + row.text, row.needle, start, row.ignore_case), want);
  }
}

TEST(ReplaceText, Table) {
  struct Row {
    const char* name;
    std::string text, old, replacement;
    optional<ptrdiff_t> start, count;
    bool case_sensitive;
    std::string want;
  };
  const Row rows[] = {
      // unchanged
      {.name = "empty text", .text = "", .old = "a", .replacement = "b", .start = nullopt, .count = nullopt, .case_sensitive = true, .want = ""},
      {.name = "empty old", .text = "a\x81", .old = "", .replacement = "b", .start = nullopt, .count = nullopt, .case_sensitive = true, .want = "a\x81"},
      {.name = "count 0", .text = "a\x81", .old = "a", .replacement = "b", .start = nullopt, .count = 0, .case_sensitive = true, .want = "a\x81"},
      {.name = "start beyond end", .text = "a\x81", .old = "a", .replacement = "b", .start = 3, .count = nullopt, .case_sensitive = true, .want = "a\x81"},
      // replacing
      {.name = "all", .text = "a-b-c", .old = "-", .replacement = "+", .start = nullopt, .count = nullopt, .case_sensitive = true, .want = "a+b+c"},
      {.name = "removal", .text = "a-b-c", .old = "-", .replacement = "", .start = nullopt, .count = nullopt, .case_sensitive = true, .want = "abc"},
      {.name = "count", .text = "a-b-c", .old = "-", .replacement = "+", .start = nullopt, .count = 1, .case_sensitive = true, .want = "a+b-c"},
      {.name = "negative count is all", .text = "a-b-c", .old = "-", .replacement = "+", .start = nullopt, .count = -1, .case_sensitive = true, .want = "a+b+c"},
      {.name = "start", .text = "a-b-c", .old = "-", .replacement = "+", .start = 3, .count = nullopt, .case_sensitive = true, .want = "a-b+c"},
      {.name = "no overlap", .text = "aaa", .old = "aa", .replacement = "b", .start = nullopt, .count = nullopt, .case_sensitive = true, .want = "ba"},
      {.name = "not rescanned", .text = "ab", .old = "a", .replacement = "aa", .start = nullopt, .count = nullopt, .case_sensitive = true, .want = "aab"},
      {.name = "ignore case", .text = "Set-COOKIE set-cookie", .old = "set-cookie", .replacement = "Set-Cookie", .start = nullopt, .count = nullopt, .case_sensitive = false, .want = "Set-Cookie Set-Cookie"},
      {.name = "trail byte kept", .text = "\x81\x41" "A", .old = "A", .replacement = "b", .start = nullopt, .count = nullopt, .case_sensitive = true, .want = "\x81\x41" "b"},
      // the lone lead byte at the end
      {.name = "single-byte old drops lone lead", .text = "ab\x81", .old = "a", .replacement = "x", .start = nullopt, .count = nullopt, .case_sensitive = true, .want = "xb"},
      {.name = "lone lead that is old", .text = "ab\x81", .old = "\x81", .replacement = "x", .start = nullopt, .count = nullopt, .case_sensitive = true, .want = "abx"},
      {.name = "multi-byte old keeps lone lead", .text = "ab\x81", .old = "ab", .replacement = "x", .start = nullopt, .count = nullopt, .case_sensitive = true, .want = "x\x81"},
      {.name = "count used up keeps lone lead", .text = "ab\x81", .old = "a", .replacement = "x", .start = nullopt, .count = 1, .case_sensitive = true, .want = "xb\x81"},
      {.name = "pair at end is no lone lead", .text = "a\x81\x41", .old = "a", .replacement = "x", .start = nullopt, .count = nullopt, .case_sensitive = true, .want = "x\x81\x41"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(replace_text(row.text, row.old, row.replacement, row.start, row.count,
                           row.case_sensitive),
              row.want);
  }
}

TEST(SplitText, Table) {
  struct Row {
    const char* name;
    std::string text;
    optional<std::string> separator;
    optional<ptrdiff_t> max_count;
    TextList want;
  };
  const Row rows[] = {
      {.name = "empty text", .text = "", .separator = nullopt, .max_count = nullopt, .want = {}},
      {.name = "default comma", .text = "a,b", .separator = nullopt, .max_count = nullopt, .want = {"a", "b"}},
      {.name = "empty separator", .text = "a,b", .separator = "", .max_count = nullopt, .want = {"a,b"}},
      {.name = "max 0", .text = "a,b", .separator = nullopt, .max_count = 0, .want = {}},
      {.name = "max 1", .text = "a,b,c", .separator = nullopt, .max_count = 1, .want = {"a"}},
      {.name = "empty pieces", .text = ",a,,b", .separator = nullopt, .max_count = nullopt, .want = {"", "a", "", "b"}},
      {.name = "trailing separator", .text = "a,b,", .separator = nullopt, .max_count = nullopt, .want = {"a", "b"}},
      {.name = "only separator", .text = ",", .separator = nullopt, .max_count = nullopt, .want = {""}},
      {.name = "crlf", .text = "a\r\nb\r\n\r\n", .separator = "\r\n", .max_count = nullopt, .want = {"a", "b", ""}},
      {.name = "no cut in pair", .text = "\x81,a,b", .separator = nullopt, .max_count = nullopt, .want = {"\x81,a", "b"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(split_text(row.text, row.separator, row.max_count), row.want);
  }
}

TEST(Spaces, TrimAndRemove) {
  struct Row {
    const char* name;
    std::string text, trimmed, removed;
  };
  const Row rows[] = {
      {.name = "empty", .text = "", .trimmed = "", .removed = ""},
      {.name = "ascii", .text = "  a b  ", .trimmed = "a b", .removed = "ab"},
      {.name = "full width", .text = "\xA1\xA1" "a\xA1\xA1" "b\xA1\xA1", .trimmed = "a\xA1\xA1" "b", .removed = "ab"},
      {.name = "tab and newline stay", .text = "\ta\r\n", .trimmed = "\ta\r\n", .removed = "\ta\r\n"},
      {.name = "only spaces", .text = " \xA1\xA1 ", .trimmed = "", .removed = ""},
      // 0xB0 0xA1 is a character; the A1 A1 after it is a full-width space.
      {.name = "A1 trail is no half space", .text = "\xB0\xA1\xA1\xA1", .trimmed = "\xB0\xA1", .removed = "\xB0\xA1"},
      {.name = "A1 trail then A1 lone", .text = "\xB0\xA1\xA1", .trimmed = "\xB0\xA1", .removed = "\xB0\xA1"},
      {.name = "lone lead goes", .text = "a \x81", .trimmed = "a", .removed = "a"},
      {.name = "pair with space trail", .text = " \x81 ", .trimmed = "\x81 ", .removed = "\x81 "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(trim_spaces(row.text), row.trimmed);
    EXPECT_EQ(remove_spaces(row.text), row.removed);
  }
}

TEST(CompareTexts, Table) {
  struct Row {
    const char* name;
    std::string a, b;
    bool case_sensitive;
    int want;
  };
  const Row rows[] = {
      {.name = "equal", .a = "abc", .b = "abc", .case_sensitive = true, .want = 0},
      {.name = "empty", .a = "", .b = "", .case_sensitive = true, .want = 0},
      {.name = "prefix", .a = "ab", .b = "abc", .case_sensitive = true, .want = -1},
      {.name = "case differs", .a = "Location: ", .b = "location: ", .case_sensitive = true, .want = -1},
      {.name = "case folded", .a = "LOCATION: ", .b = "location: ", .case_sensitive = false, .want = 0},
      {.name = "high bytes unsigned", .a = "\xD6", .b = "a", .case_sensitive = true, .want = 1},
      {.name = "trail letters not folded", .a = "\x81\x41", .b = "\x81\x61", .case_sensitive = false, .want = -1},
      {.name = "letter after pair folded", .a = "\x81\x41" "A", .b = "\x81\x41" "a", .case_sensitive = false, .want = 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(compare_texts(row.a, row.b, row.case_sensitive), row.want);
  }
}

TEST(BytePrimitives, Table) {
  const Bytes bytes = {'a', 0, 'b'};
  EXPECT_EQ(bytes_len(bytes), 3);
  EXPECT_EQ(bytes_left(bytes, 2), (Bytes{'a', 0}));
  EXPECT_EQ(bytes_left(bytes, -1), Bytes{});
  EXPECT_EQ(bytes_left(bytes, 9), bytes);
  EXPECT_EQ(blank_bytes(3), (Bytes{0, 0, 0}));
  EXPECT_EQ(blank_bytes(-2), Bytes{});
  EXPECT_EQ(bytes_from_buffer("xyz", 2), (Bytes{'x', 'y'}));
  EXPECT_EQ(bytes_from_buffer(nullptr, 2), Bytes{});
  EXPECT_EQ(text_to_bytes("ab"), (Bytes{'a', 'b'}));
  EXPECT_EQ(bytes_to_text(bytes), "a");
  EXPECT_EQ(bytes_to_text(Bytes{'x', 'y'}), "xy");
  EXPECT_EQ(bytes_to_text(Bytes{}), "");
}

// Every text of up to four bytes from an alphabet that holds the troublesome cases: ASCII
// letters in both cases, a lead byte, 0xA1 (half of a full-width space) and a space.
std::vector<std::string> small_texts(std::size_t max_size) {
  const std::string alphabet = std::string("aA ") + '\x81' + '\xA1';
  std::vector<std::string> texts = {""};
  for (std::size_t from = 0; from < texts.size(); ++from) {
    if (texts[from].size() == max_size) continue;
    for (char c : alphabet) texts.push_back(texts[from] + c);
  }
  return texts;
}

TEST(AgainstReference, FindReplaceSplitSpaces) {
  const auto texts = small_texts(4);
  const auto needles = small_texts(2);
  for (const std::string& text : texts) {
    ASSERT_EQ(trim_spaces(text), reference::trim_spaces(text)) << text;
    ASSERT_EQ(remove_spaces(text), reference::remove_spaces(text)) << text;
    for (const std::string& needle : needles) {
      ASSERT_EQ(split_text(text, needle, nullopt), reference::split_text(text, needle, nullopt))
          << text << " / " << needle;
      ASSERT_EQ(split_text(text, needle, 2), reference::split_text(text, needle, 2));
      for (const optional<ptrdiff_t> start : {optional<ptrdiff_t>(), optional<ptrdiff_t>(2),
                                              optional<ptrdiff_t>(3), optional<ptrdiff_t>(5)}) {
        for (const bool fold : {false, true}) {
          ASSERT_EQ(find_text(text, needle, start, fold),
                    reference::find_text(text, needle, start, fold))
              << '"' << text << "\" / \"" << needle << '"';
          for (const optional<ptrdiff_t> count : {optional<ptrdiff_t>(), optional<ptrdiff_t>(1)}) {
            ASSERT_EQ(replace_text(text, needle, "x", start, count, !fold),
                      reference::replace_text(text, needle, "x", start, count, !fold))
                << '"' << text << "\" / \"" << needle << '"';
          }
        }
      }
    }
  }
}

}  // namespace
