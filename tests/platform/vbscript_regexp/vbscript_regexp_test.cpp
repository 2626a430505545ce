#include "platform/vbscript_regexp/vbscript_regexp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <span>
#include <cstdio>
#include <string>

#include "automation/automation.h"
#include "platform/com/dispatch_object.h"

namespace {

Variant wide(std::u16string_view text) {
  Variant v;
  VARIANT* slot = v.receive();
  slot->vt = VT_BSTR;
  slot->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  return v;
}

// ASCII as it is, everything else as \uXXXX, so failures print readably.
std::string shown(const Variant& value) {
  if (value.type() == VT_EMPTY) return "undef";
  if (value.type() != VT_BSTR) return "?";
  std::string out;
  const BSTR text = value.get().bstrVal;
  for (UINT i = 0; i < SysStringLen(text); ++i) {
    const char16_t c = text[i];
    if (c >= 0x20 && c < 0x7F && c != u'\\') {
      out.push_back(static_cast<char>(c));
    } else {
      char buffer[8];
      std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(c));
      out += buffer;
    }
  }
  return out;
}

struct Options {
  bool ignore_case = false;
  bool multiline = false;
  bool global = false;
};

class RegexpTest : public ::testing::Test {
 public:
  void SetUp() override {
    CoInitialize(nullptr);
    objects_before_ = dispatch_object_count();
  }
  void TearDown() override {
    EXPECT_EQ(dispatch_object_count(), objects_before_);  // nothing outlived its references
    CoUninitialize();
  }

  static ObjectRef make(std::u16string_view pattern, Options options) {
    ObjectRef regexp;
    EXPECT_TRUE(create_object(regexp, "VBScript.RegExp"));
    EXPECT_TRUE(write_property(regexp, "Pattern", wide(pattern)));
    EXPECT_TRUE(write_property(regexp, "IgnoreCase", options.ignore_case));
    EXPECT_TRUE(write_property(regexp, "Multiline", options.multiline));
    EXPECT_TRUE(write_property(regexp, "Global", options.global));
    return regexp;
  }

  // Every match as "FirstIndex:Value(group,...)"; "error" when Execute fails.
  static std::string execute(const ObjectRef& regexp, std::u16string_view subject) {
    const ObjectRef matches = call_method<ObjectRef>(regexp, "Execute", {wide(subject)});
    if (matches.empty()) return "error";
    std::string out;
    const auto count = static_cast<int>(read_property<double>(matches, "Count"));
    for (int i = 0; i < count; ++i) {
      const ObjectRef match = read_property<ObjectRef>(matches, "Item", {i});
      const Variant value = read_property<Variant>(match, "Value");
      EXPECT_EQ(read_property<double>(match, "Length"), SysStringLen(value.get().bstrVal));
      if (!out.empty()) out += ' ';
      out += variant_to_text(read_property<Variant>(match, "FirstIndex")) + ":" + shown(value);
      const ObjectRef groups = read_property<ObjectRef>(match, "SubMatches");
      const auto group_count = static_cast<int>(read_property<double>(groups, "Count"));
      for (int g = 0; g < group_count; ++g) {
        out += g == 0 ? "(" : ",";
        out += shown(read_property<Variant>(groups, "Item", {g}));
      }
      if (group_count > 0) out += ")";
    }
    return out;
  }

 private:
  long objects_before_ = 0;
};

struct SearchRow {
  const char* name;
  std::u16string pattern;
  std::u16string subject;
  Options options = {};
  std::string want;
};

void expect_searches(std::span<const SearchRow> rows) {
  for (const SearchRow& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(RegexpTest::execute(RegexpTest::make(row.pattern, row.options), row.subject), row.want);
  }
}

constexpr Options global{.global = true};
constexpr Options multiline_global{.multiline = true, .global = true};
constexpr Options ignore_case{.ignore_case = true};

TEST_F(RegexpTest, LineTerminatorsAndAnchors) {
  const SearchRow rows[] = {
      // the dot stops at \n, \r, U+2028 and U+2029 only
      {.name = "dot and LF", .pattern = u"a.c", .subject = u"a\nc", .want = ""},
      {.name = "dot and CR", .pattern = u"a.c", .subject = u"a\rc", .want = ""},
      {.name = "dot and LS", .pattern = u"a.c", .subject = u"a\u2028c", .want = ""},
      {.name = "dot and PS", .pattern = u"a.c", .subject = u"a\u2029c", .want = ""},
      {.name = "dot and NEL", .pattern = u"a.c", .subject = u"a\u0085c", .want = "0:a\\u0085c"},
      {.name = "dot and VT", .pattern = u"a.c", .subject = u"a\vc", .want = "0:a\\u000Bc"},
      {.name = "dot and lone surrogate", .pattern = u"a.c", .subject = u"a\xD800" u"c", .want = "0:a\\uD800c"},
      {.name = "pair is two units", .pattern = u"a..c", .subject = u"a\U0001F600c", .want = "0:a\\uD83D\\uDE00c"},
      // ^ and $ are the ends of the text unless Multiline
      {.name = "^ not after LF", .pattern = u"^b", .subject = u"a\nb", .want = ""},
      {.name = "^ after LF, multiline", .pattern = u"^b", .subject = u"a\nb", .options = multiline_global, .want = "2:b"},
      {.name = "^ after LS, multiline", .pattern = u"^b", .subject = u"a\u2028b", .options = multiline_global, .want = "2:b"},
      {.name = "$ not before final LF", .pattern = u"a$", .subject = u"a\n", .want = ""},
      {.name = "$ before LF, multiline", .pattern = u"a$", .subject = u"a\nb", .options = multiline_global, .want = "0:a"},
      {.name = "CR LF are two line ends", .pattern = u"^$", .subject = u"a\r\n", .options = multiline_global, .want = "2: 3:"},
      {.name = "^ once without multiline", .pattern = u"^", .subject = u"ab", .options = global, .want = "0:"},
      {.name = "$ at the very end", .pattern = u"$", .subject = u"a\n", .options = global, .want = "2:"},
  };
  expect_searches(rows);
}

TEST_F(RegexpTest, GlobalSearchesAndGroups) {
  const SearchRow rows[] = {
      // an empty match moves the search on by one unit
      {.name = "star", .pattern = u"a*", .subject = u"baaac", .options = global, .want = "0: 1:aaa 4: 5:"},
      {.name = "empty pattern", .pattern = u"", .subject = u"ab", .options = global, .want = "0: 1: 2:"},
      {.name = "empty pattern, empty text", .pattern = u"", .subject = u"", .options = global, .want = "0:"},
      {.name = "empty match inside a pair", .pattern = u"(?:)", .subject = u"\U0001F600", .options = global, .want = "0: 1: 2:"},
      {.name = "not global: first only", .pattern = u"\\d", .subject = u"a1b2", .want = "1:1"},
      {.name = "global", .pattern = u"\\d", .subject = u"a1b2", .options = global, .want = "1:1 3:2"},
      // groups that take no part
      {.name = "other branch", .pattern = u"(a)|(b)", .subject = u"b", .want = "0:b(undef,b)"},
      {.name = "optional group", .pattern = u"(a)?b", .subject = u"b", .want = "0:b(undef)"},
      {.name = "reference to a group that took no part", .pattern = u"(a)?\\1b", .subject = u"b", .want = "0:b(undef)"},
      {.name = "forward reference", .pattern = u"\\1(a)", .subject = u"aa", .want = "0:a(a)"},
      {.name = "back-reference", .pattern = u"(\\w)\\1", .subject = u"abccd", .want = "2:cc(c)"},
      {.name = "number beyond the groups is octal", .pattern = u"(a)\\2", .subject = u"a\x02", .want = "0:a\\u0002(a)"},
      {.name = "lazy", .pattern = u"a+?", .subject = u"aaa", .want = "0:a"},
      {.name = "lazy group", .pattern = u",\"t\":\"(.*?)\",", .subject = u",\"t\":\"x\",\"u\":\"y\",", .want = "0:,\"t\":\"x\",(x)"},
      {.name = "look-ahead", .pattern = u"a(?=b)", .subject = u"acab", .want = "2:a"},
      {.name = "negative look-ahead", .pattern = u"a(?!b)", .subject = u"abac", .want = "2:a"},
  };
  expect_searches(rows);
}

TEST_F(RegexpTest, ClassesAndCaseFolding) {
  const SearchRow rows[] = {
      // \w, \d and \b are ASCII; \s takes the Unicode spaces
      {.name = "\\w ASCII", .pattern = u"\\w+", .subject = u"\u00E91_x", .want = "1:1_x"},
      {.name = "\\d ASCII", .pattern = u"\\d", .subject = u"\u06635", .want = "1:5"},
      {.name = "\\b ASCII", .pattern = u"\\b", .subject = u"\u00E9 a", .options = global, .want = "2: 3:"},
      {.name = "\\B", .pattern = u"\\B", .subject = u"ab", .options = global, .want = "1:"},
      {.name = "\\s Unicode", .pattern = u"\\s", .subject = u"a\u3000b\u00A0c\tx", .options = global, .want = "1:\\u3000 3:\\u00A0 5:\\u0009"},
      {.name = "\\S", .pattern = u"\\S+", .subject = u" \u4E2Dx ", .want = "1:\\u4E2Dx"},
      {.name = "Kelvin sign is no \\w", .pattern = u"\\w", .subject = u"\u212A", .options = ignore_case, .want = ""},
      // classes
      {.name = "empty class", .pattern = u"a[]", .subject = u"a", .want = ""},
      {.name = "negated empty class", .pattern = u"[^]", .subject = u"\n", .want = "0:\\u000A"},
      {.name = "dash after class escape", .pattern = u"[\\d-z]+", .subject = u"x-5z", .want = "1:-5z"},
      {.name = "backspace in class", .pattern = u"[\\b]", .subject = u"a\b", .want = "1:\\u0008"},
      {.name = "not non-digit", .pattern = u"[^\\D]", .subject = u"a5", .want = "1:5"},
      {.name = "non-word or digit", .pattern = u"[\\W\\d]", .subject = u"a-5", .options = global, .want = "1:- 2:5"},
      {.name = "bracket in class", .pattern = u"[[:]+", .subject = u"a[:]", .want = "1:[:"},
      {.name = "dot in class", .pattern = u"[.]", .subject = u"a.", .want = "1:."},
      // letters of every script fold
      {.name = "Greek", .pattern = u"\u03C3", .subject = u"\u03A3", .options = ignore_case, .want = "0:\\u03A3"},
      {.name = "Cyrillic range", .pattern = u"[\u0430-\u044F]+", .subject = u"\u041F\u0420\u0418", .options = ignore_case, .want = "0:\\u041F\\u0420\\u0418"},
      {.name = "accented Latin", .pattern = u"\u00E9", .subject = u"\u00C9", .options = ignore_case, .want = "0:\\u00C9"},
      {.name = "case kept", .pattern = u"\u00E9", .subject = u"\u00C9", .want = ""},
      {.name = "back-reference folds", .pattern = u"(a)\\1", .subject = u"aA", .options = ignore_case, .want = "0:aA(a)"},
      // escapes
      {.name = "unit escapes", .pattern = u"\\x41\\u0042\\cJ\\v\\0\\f", .subject = std::u16string(u"AB\n\v\0\f", 6), .want = "0:AB\\u000A\\u000B\\u0000\\u000C"},
      {.name = "short \\u is a letter", .pattern = u"\\u004", .subject = u"u004", .want = "0:u004"},
      {.name = "identity escapes", .pattern = u"\\A\\z\\$", .subject = u"Az$", .want = "0:Az$"},
      {.name = "literal brace", .pattern = u"a{,2}", .subject = u"a{,2}", .want = "0:a{,2}"},
      {.name = "counted", .pattern = u"x{2}", .subject = u"xxx", .want = "0:xx"},
  };
  expect_searches(rows);
}

TEST_F(RegexpTest, SyntaxErrorsRaiseErrors) {
  const std::u16string patterns[] = {
      u"(", u")", u"a)", u"[a", u"\\", u"a**", u"a+*", u"*a", u"a|*", u"^*", u"\\b+",
      u"(?<n>a)", u"(?i)a", u"a{2,1}", u"[z-a]", u"{1}", u"a*+", u"a{2}{3}",
  };
  for (const std::u16string& pattern : patterns) {
    SCOPED_TRACE(shown(wide(pattern)));
    const ObjectRef regexp = make(pattern, {});
    EXPECT_EQ(execute(regexp, u"a"), "error");
    EXPECT_EQ(call_method<Variant>(regexp, "Replace", {wide(u"a"), wide(u"b")}).type(), VT_EMPTY);
    EXPECT_EQ(call_method<Variant>(regexp, "Test", {wide(u"a")}).type(), VT_EMPTY);
  }
}

TEST_F(RegexpTest, ReplaceEscapes) {
  struct Row {
    const char* name;
    std::u16string pattern;
    std::u16string replacement;
    Options options = {};
    std::u16string want;
  };
  const Row rows[] = {
      {.name = "group", .pattern = u"(b)", .replacement = u"[$1]", .want = u"a[b]c"},
      {.name = "whole match", .pattern = u"(b)", .replacement = u"$&$&", .want = u"abbc"},
      {.name = "before", .pattern = u"(b)", .replacement = u"$`", .want = u"aac"},
      {.name = "after", .pattern = u"(b)", .replacement = u"$'", .want = u"acc"},
      {.name = "dollar", .pattern = u"(b)", .replacement = u"$$", .want = u"a$c"},
      {.name = "no such group", .pattern = u"(b)", .replacement = u"$2", .want = u"a$2c"},
      {.name = "two digits", .pattern = u"(b)", .replacement = u"$01", .want = u"abc"},
      {.name = "one of two digits", .pattern = u"(b)", .replacement = u"$10", .want = u"ab0c"},
      {.name = "dollar zero", .pattern = u"(b)", .replacement = u"$0", .want = u"a$0c"},
      {.name = "trailing dollar", .pattern = u"(b)", .replacement = u"$", .want = u"a$c"},
      {.name = "other letter", .pattern = u"(b)", .replacement = u"$x", .want = u"a$xc"},
      {.name = "group that took no part", .pattern = u"(x)?b", .replacement = u"[$1]", .want = u"a[]c"},
      {.name = "first only", .pattern = u"\\w", .replacement = u"-", .want = u"-bc"},
      {.name = "every match", .pattern = u"\\w", .replacement = u"-", .options = global, .want = u"---"},
      {.name = "empty matches", .pattern = u"b*", .replacement = u"-", .options = global, .want = u"-a--c-"},
      {.name = "twelve groups", .pattern = u"(a)(b)(c)()()()()()()()()(x?)", .replacement = u"$12$11$1", .want = u"a"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const ObjectRef regexp = make(row.pattern, row.options);
    const Variant got = call_method<Variant>(regexp, "Replace", {wide(u"abc"), wide(row.replacement)});
    EXPECT_EQ(shown(got), shown(wide(row.want)));
  }
}

TEST_F(RegexpTest, MembersAndRefusals) {
  ObjectRef regexp;
  ASSERT_TRUE(create_object(regexp, "vbscript.regexp"));
  // defaults
  EXPECT_EQ(read_property<Variant>(regexp, "IgnoreCase").type(), VT_BOOL);
  EXPECT_FALSE(read_property<bool>(regexp, "IgnoreCase"));
  EXPECT_FALSE(read_property<bool>(regexp, "Multiline"));
  EXPECT_FALSE(read_property<bool>(regexp, "Global"));
  EXPECT_EQ(read_property<Variant>(regexp, "Pattern").type(), VT_BSTR);
  EXPECT_EQ(read_property<Text>(regexp, "Pattern"), "");
  EXPECT_FALSE(write_property(regexp, "Singleline", true));
  EXPECT_FALSE(write_property(regexp, "Global", "maybe"));

  EXPECT_TRUE(write_property(regexp, "Pattern", "(b)(c)?"));
  EXPECT_TRUE(read_property<bool>(regexp, "Test", {"abc"}) == false);  // a method, not a get
  EXPECT_TRUE(call_method<bool>(regexp, "Test", {"abc"}));
  EXPECT_FALSE(call_method<bool>(regexp, "Test", {"ABC"}));
  // A change of option after a search applies to the next one.
  EXPECT_TRUE(write_property(regexp, "IgnoreCase", true));
  EXPECT_TRUE(call_method<bool>(regexp, "Test", {"ABC"}));
  EXPECT_EQ(call_method<Variant>(regexp, "Execute", {"a", "b"}).type(), VT_EMPTY);  // two args

  const ObjectRef matches = call_method<ObjectRef>(regexp, "Execute", {"abd"});
  ASSERT_FALSE(matches.empty());
  EXPECT_EQ(read_property<double>(matches, "Count"), 1);
  for (const double bad : {-1.0, 1.0, 0.5e10}) {
    SCOPED_TRACE(bad);
    EXPECT_TRUE(read_property<ObjectRef>(matches, "Item", {bad}).empty());
  }
  EXPECT_TRUE(read_property<ObjectRef>(matches, "Item", {"x"}).empty());
  const ObjectRef match = read_property<ObjectRef>(matches, "Item", {0.0});
  EXPECT_EQ(read_property<double>(match, "FirstIndex"), 1);
  const ObjectRef groups = read_property<ObjectRef>(match, "SubMatches");
  EXPECT_EQ(read_property<double>(groups, "Count"), 2);
  EXPECT_EQ(read_property<Text>(groups, "Item", {0}), "b");
  EXPECT_EQ(read_property<Variant>(groups, "Item", {1}).type(), VT_EMPTY);
  EXPECT_EQ(read_property<Variant>(groups, "Item", {2}).type(), VT_EMPTY);
  // The collection keeps its own copy of the text: a later search changes nothing in it.
  EXPECT_TRUE(write_property(regexp, "Pattern", "d"));
  (void)call_method<ObjectRef>(regexp, "Execute", {"zzz"});
  EXPECT_EQ(read_property<Text>(match, "Value"), "b");
}

TEST_F(RegexpTest, RepeatedGroupOverALongText) {
  // Each repetition of a group holds a frame of the JIT stack; with a stack of a few MiB the
  // search ran out after some hundred thousand and failed.
  const std::u16string subject(1'000'000, u'a');
  const ObjectRef regexp = make(u"(.)*$", {});
  const ObjectRef matches = call_method<ObjectRef>(regexp, "Execute", {wide(subject)});
  ASSERT_FALSE(matches.empty());
  const ObjectRef match = read_property<ObjectRef>(matches, "Item", {0});
  EXPECT_EQ(read_property<double>(match, "Length"), 1'000'000);
}

TEST_F(RegexpTest, RunawaySearchIsStopped) {
  // Without the limit these backtrack for longer than the test may run.
  // No required unit is missing from the text, so nothing short-cuts the backtracking.
  const std::u16string subject = std::u16string(40, u'a') + u"!";
  for (const std::u16string pattern : {u"^(a+)+$", u"(a|a)+$", u"(.*a){20}$"}) {
    SCOPED_TRACE(shown(wide(pattern)));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(execute(make(pattern, {}), subject), "error");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  }
}

}  // namespace
