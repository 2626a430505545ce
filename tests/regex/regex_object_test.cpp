#include "regex/regex_object.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "platform/com/com.h"
#include "platform/com/dispatch_object.h"

namespace {

// GBK bytes used below.
const Text middle = "\xD6\xD0";                 // the character for "middle"
const Text marker = "#\xD2\xFD\xBA\xC5";        // "#" and the word for "quote"

struct Options {
  std::optional<bool> case_sensitive = std::nullopt;
  std::optional<bool> multiline = std::nullopt;
  std::optional<bool> global = std::nullopt;
  std::optional<bool> quote_marker = std::nullopt;
};

bool create_with(RegexObject& regex, const Text& pattern, const Text& subject, const Options& o) {
  return regex.create(pattern, subject, o.case_sensitive, o.multiline, o.global, o.quote_marker);
}

// Each test checks that its instances gave back every object and COM initialisation.
class RegexObjectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    com_before_ = com_initialization_count();
    objects_before_ = dispatch_object_count();
  }
  void TearDown() override {
    EXPECT_EQ(com_initialization_count(), com_before_);
    EXPECT_EQ(dispatch_object_count(), objects_before_);
  }

 private:
  ULONG com_before_ = 0;
  long objects_before_ = 0;
};

TEST_F(RegexObjectTest, CreateAndSubmatchText) {
  struct Row {
    const char* name;
    Text pattern;
    Text subject;
    Options options = {};
    bool want_created = true;
    int want_count;
    int match_index = 1;
    int submatch_index = 1;
    Text want_text;
    int want_position;
  };
  const Row rows[] = {
      // default options: ignore case, ^ and $ per line, every match
      {.name = "defaults", .pattern = "^(b)", .subject = "a\nB\nb", .want_count = 2, .match_index = 2, .want_text = "b", .want_position = 4},
      {.name = "case sensitive", .pattern = "^(b)", .subject = "a\nB\nb", .options = {.case_sensitive = true}, .want_count = 1, .want_text = "b", .want_position = 4},
      {.name = "not multi-line", .pattern = "^(b)", .subject = "a\nB\nb", .options = {.multiline = false}, .want_count = 0, .want_text = "", .want_position = 0},
      {.name = "not global", .pattern = "^(b)", .subject = "a\nB\nb", .options = {.global = false}, .want_count = 1, .want_text = "B", .want_position = 2},
      {.name = "no dot-matches-all", .pattern = "a(.)b", .subject = "a\nb", .want_count = 0, .want_text = "", .want_position = 0},
      // the Parts' cases
      {.name = "no match", .pattern = "z(z)", .subject = "xabx", .want_count = 0, .want_text = "", .want_position = 0},
      {.name = "syntax error", .pattern = "a(b", .subject = "xabx", .want_created = false, .want_count = 0, .want_text = "", .want_position = 0},
      {.name = "xabx", .pattern = "a(b)", .subject = "xabx", .want_count = 1, .want_text = "b", .want_position = 2},
      {.name = "double-byte before", .pattern = "(b)", .subject = middle + "ab", .want_count = 1, .want_text = "b", .want_position = 3},
      {.name = "match index 0", .pattern = "(b)", .subject = "ab", .want_count = 1, .match_index = 0, .want_text = "", .want_position = 0},
      {.name = "match index past the end", .pattern = "(b)", .subject = "ab", .want_count = 1, .match_index = 2, .want_text = "", .want_position = 0},
      {.name = "negative match index", .pattern = "(b)", .subject = "ab", .want_count = 1, .match_index = -1, .want_text = "", .want_position = 0},
      {.name = "submatch index 5 of one group", .pattern = "(b)", .subject = "ab", .want_count = 1, .submatch_index = 5, .want_text = "", .want_position = 0},
      {.name = "submatch index 0", .pattern = "(b)", .subject = "ab", .want_count = 1, .submatch_index = 0, .want_text = "", .want_position = 0},
      {.name = "group that took no part", .pattern = "(x)?b", .subject = "ab", .want_count = 1, .want_text = "", .want_position = 0},
      {.name = "group text earlier in its match", .pattern = "a(a)", .subject = "xaa", .want_count = 1, .want_text = "a", .want_position = 1},
      // quote markers
      {.name = "quote marker", .pattern = "," + marker + "t" + marker + ":" + marker + "(.*?)" + marker, .subject = ",\"t\":\"v\"", .options = {.quote_marker = true}, .want_count = 1, .want_text = "v", .want_position = 6},
      {.name = "marker literal without the option", .pattern = marker + "(b)", .subject = "a" + marker + "b", .want_count = 1, .want_text = "b", .want_position = 6},
      {.name = "marker is no quote without the option", .pattern = marker + "(b)", .subject = "a\"b", .want_count = 0, .want_text = "", .want_position = 0},
      // the system's own patterns
      {.name = "stream name", .pattern = ",\"flvtitle\":\"(.*?)\",\"sound\"", .subject = "x,\"FLVTITLE\":\"s1\",\"sound\":1", .want_count = 1, .want_text = "s1", .want_position = 14},
      {.name = "character set", .pattern = "<meta.+?charset=[^\\w]?([-\\w]+)", .subject = "<META http-equiv=x content=\"text/html; charset=UTF-8\">", .want_count = 1, .want_text = "UTF-8", .want_position = 47},
      {.name = "quoted character set", .pattern = "<meta.+?charset=[^\\w]?([-\\w]+)", .subject = "<meta charset=\"gb2312\">", .want_count = 1, .want_text = "gb2312", .want_position = 15},
      // bad input
      {.name = "empty subject", .pattern = "(a)", .subject = "", .want_count = 0, .want_text = "", .want_position = -2},
      {.name = "empty pattern", .pattern = "", .subject = "ab", .want_count = 3, .want_text = "", .want_position = 0},
      {.name = "invalid GBK before", .pattern = "(b)", .subject = "\xFF" "ab", .want_count = 1, .want_text = "b", .want_position = 2},
      {.name = "runaway search", .pattern = "^(a+)+$", .subject = std::string(40, 'a') + "!", .want_created = false, .want_count = 0, .want_text = "", .want_position = 0},
      // former faults
      // The unit offset taken as a byte offset starts the search before the match, at an
      // earlier "b" after the double-byte characters, and gave position 6.
      {.name = "earlier copy before the match", .pattern = "(b)$", .subject = middle + middle + middle + "b_b", .options = {.multiline = false}, .want_count = 1, .want_text = "b", .want_position = 8},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RegexObject regex;
    EXPECT_EQ(create_with(regex, row.pattern, row.subject, row.options), row.want_created);
    EXPECT_EQ(regex.match_count(), row.want_count);
    int position = 99;
    EXPECT_EQ(regex.submatch_text(row.match_index, row.submatch_index, &position), row.want_text);
    EXPECT_EQ(position, row.want_position);
    EXPECT_EQ(regex.submatch_text(row.match_index, row.submatch_index), row.want_text);
  }
}

TEST_F(RegexObjectTest, MatchQueries) {
  struct Row {
    const char* name;
    Text pattern;
    Text subject;
    Options options = {};
    int match_index;
    Text want_text;
    int want_position;
    int want_groups;
    Text replacement = "#";
    Text want_replaced;
  };
  const Row rows[] = {
      {.name = "second digit", .pattern = "\\d", .subject = "a1b2", .match_index = 2, .want_text = "2", .want_position = 3, .want_groups = 0, .want_replaced = "a#b#"},
      {.name = "not global", .pattern = "\\d", .subject = "a1b2", .options = {.global = false}, .match_index = 2, .want_text = "", .want_position = 0, .want_groups = 0, .want_replaced = "a#b2"},
      {.name = "two groups", .pattern = "(\\w)-(\\w)", .subject = "x-y", .match_index = 1, .want_text = "x-y", .want_position = 0, .want_groups = 2, .replacement = "$2-$1", .want_replaced = "y-x"},
      {.name = "double-byte before", .pattern = "b", .subject = middle + "ab", .match_index = 1, .want_text = "b", .want_position = 3, .want_groups = 0, .want_replaced = middle + "a#"},
      {.name = "double-byte match", .pattern = "." + middle, .subject = "a" + middle + middle, .match_index = 1, .want_text = "a" + middle, .want_position = 0, .want_groups = 0, .want_replaced = "#" + middle},
      {.name = "case folded", .pattern = "B", .subject = "abc", .match_index = 1, .want_text = "b", .want_position = 1, .want_groups = 0, .want_replaced = "a#c"},
      {.name = "no match", .pattern = "(z)", .subject = "abc", .match_index = 1, .want_text = "", .want_position = 0, .want_groups = 0, .want_replaced = "abc"},
      {.name = "syntax error", .pattern = "(", .subject = "abc", .match_index = 1, .want_text = "", .want_position = 0, .want_groups = 0, .want_replaced = ""},
      {.name = "index 0", .pattern = "b", .subject = "abc", .match_index = 0, .want_text = "", .want_position = 0, .want_groups = 0, .want_replaced = "a#c"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    RegexObject regex;
    create_with(regex, row.pattern, row.subject, row.options);
    int position = 99;
    EXPECT_EQ(regex.match_text(row.match_index, &position), row.want_text);
    EXPECT_EQ(position, row.want_position);
    EXPECT_EQ(regex.submatch_count(), row.want_groups);
    EXPECT_EQ(regex.replace(row.replacement), row.want_replaced);
    EXPECT_EQ(regex.pattern_text(), row.pattern);
    regex.no_op();
    EXPECT_EQ(regex.match_text(row.match_index), row.want_text);
  }
}

TEST_F(RegexObjectTest, PatternTextAfterQuoteMarkers) {
  RegexObject regex;
  EXPECT_TRUE(regex.create("a" + marker + "b" + marker, "a\"b\"", std::nullopt, std::nullopt,
                           std::nullopt, true));
  EXPECT_EQ(regex.pattern_text(), "a\"b\"");
  EXPECT_EQ(regex.match_count(), 1);
}

TEST_F(RegexObjectTest, EmptyValuesBeforeCreateAndAfterDestroy) {
  RegexObject regex;
  auto expect_empty = [&regex](int want_position) {
    EXPECT_EQ(regex.pattern_text(), "");
    EXPECT_EQ(regex.replace("x"), "");
    EXPECT_EQ(regex.match_count(), 0);
    EXPECT_EQ(regex.submatch_count(), 0);
    EXPECT_EQ(regex.match_text(1), "");
    int position = 99;
    EXPECT_EQ(regex.submatch_text(1, 1, &position), "");
    // Before create the subject is the number 0, which reads as the one-byte text "0".
    EXPECT_EQ(position, want_position);
    regex.no_op();
  };
  {
    SCOPED_TRACE("before create");
    expect_empty(0);
  }
  // A create that fails after a good one leaves nothing of the good one.
  EXPECT_TRUE(regex.create("(b)", "abab"));
  EXPECT_EQ(regex.match_count(), 2);
  EXPECT_FALSE(regex.create("(b", "abab"));
  EXPECT_EQ(regex.match_count(), 0);
  EXPECT_EQ(regex.submatch_text(1, 1), "");
  EXPECT_EQ(regex.replace("x"), "");

  const ULONG count = com_initialization_count();
  regex.destroy();
  EXPECT_EQ(com_initialization_count(), count - 1);
  {
    SCOPED_TRACE("after destroy");
    expect_empty(-2);
    EXPECT_FALSE(regex.create("(b)", "ab"));
    EXPECT_EQ(regex.copy(), nullptr);
  }
  regex.destroy();  // once only
  EXPECT_EQ(com_initialization_count(), count - 1);
}

TEST_F(RegexObjectTest, InstancesKeepTheComCountBalanced) {
  const ULONG before = com_initialization_count();
  auto first = std::make_unique<RegexObject>();
  EXPECT_EQ(com_initialization_count(), before + 1);
  EXPECT_TRUE(first->create("(b)", "ab"));
  auto second = std::make_unique<RegexObject>();
  std::unique_ptr<RegexObject> twin = first->copy();
  EXPECT_EQ(com_initialization_count(), before + 3);

  // The copy shares the objects; a create on the source releases only the source's.
  EXPECT_TRUE(first->create("(a)", "xa"));
  EXPECT_EQ(twin->submatch_text(1, 1), "b");
  EXPECT_EQ(first->submatch_text(1, 1), "a");
  int position = 0;
  EXPECT_EQ(twin->match_text(1, &position), "b");
  EXPECT_EQ(position, 1);

  first.reset();  // out of order
  EXPECT_TRUE(second->create("x", "x"));
  auto third = std::make_unique<RegexObject>();
  twin->destroy();
  twin.reset();
  second.reset();
  EXPECT_EQ(com_initialization_count(), before + 1);
  third.reset();
  EXPECT_EQ(com_initialization_count(), before);
}

TEST_F(RegexObjectTest, LargeSubjectInBoundedTime) {
  // 64 MiB of mixed ASCII and double-byte text with the stream name near the end.
  Text page;
  page.reserve(64u << 20);
  while (page.size() < (64u << 20) - 64) page += "<p>" + middle + "abc</p>\n";
  page += ",\"flvtitle\":\"room" + middle + "\",\"sound\"";
  const auto start = std::chrono::steady_clock::now();
  RegexObject regex;
  EXPECT_TRUE(regex.create(",\"flvtitle\":\"(.*?)\",\"sound\"", page));
  EXPECT_EQ(regex.submatch_text(1, 1), "room" + middle);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
}

}  // namespace
