#include "net/cookies.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>

namespace {

TEST(TextBetween, Table) {
  struct Row {
    const char* name;
    Text text;
    Text start_marker;
    Text end_marker;
    std::ptrdiff_t start = 0;
    bool ignore_case = false;
    Text want;
  };
  const Row rows[] = {
      // cookie lines as web_request hands them over
      {.name = "space after the colon stays",
       .text = "Set-Cookie: sid=42; path=/", .start_marker = "Set-Cookie:", .end_marker = ";",
       .want = " sid=42"},
      {.name = "end marker right after start marker",
       .text = "Set-Cookie:;x", .start_marker = "Set-Cookie:", .end_marker = ";", .want = ""},
      // missing markers
      {.name = "start marker absent", .text = "Cookie: a=1;", .start_marker = "Set-Cookie:",
       .end_marker = ";", .want = ""},
      {.name = "end marker only before start marker", .text = "a;Set-Cookie: b",
       .start_marker = "Set-Cookie:", .end_marker = ";", .want = ""},
      {.name = "end marker overlapping start marker is not used", .text = "ab=c",
       .start_marker = "ab=", .end_marker = "b=", .want = ""},
      {.name = "empty end marker", .text = "k=v;", .start_marker = "k=", .end_marker = "",
       .want = ""},
      {.name = "empty text", .text = "", .start_marker = "a", .end_marker = "b", .want = ""},
      // the quote placeholder ("#" + GBK word for quotation mark)
      {.name = "placeholder stands for a double quote",
       .text = "{\"key\":\"red\",\"n\":2}",
       .start_marker = "#\xD2\xFD\xBA\xC5key#\xD2\xFD\xBA\xC5:#\xD2\xFD\xBA\xC5",
       .end_marker = "#\xD2\xFD\xBA\xC5", .want = "red"},
      {.name = "placeholder is not matched literally",
       .text = "#\xD2\xFD\xBA\xC5x#\xD2\xFD\xBA\xC5", .start_marker = "#\xD2\xFD\xBA\xC5",
       .end_marker = "#\xD2\xFD\xBA\xC5", .want = ""},
      // start position
      {.name = "start skips an earlier start marker", .text = "a=1;a=2;", .start_marker = "a=",
       .end_marker = ";", .start = 3, .want = "2"},
      {.name = "start applies to the start marker only", .text = "[x];[y]",
       .start_marker = "[", .end_marker = "]", .start = 2, .want = "y"},
      {.name = "start beyond the end", .text = "[x]", .start_marker = "[", .end_marker = "]",
       .start = 9, .want = ""},
      {.name = "empty start marker is found at 1 whatever start is", .text = "ab;cd;",
       .start_marker = "", .end_marker = ";", .start = 4, .want = "ab"},
      {.name = "empty start marker past the end", .text = "ab;", .start_marker = "",
       .end_marker = ";", .start = 9, .want = ""},
      // letter case
      {.name = "ignore case finds lower-case marker", .text = "set-cookie: a=1; path",
       .start_marker = "Set-Cookie:", .end_marker = ";", .ignore_case = true, .want = " a=1"},
      {.name = "case kept by default", .text = "set-cookie: a=1; path",
       .start_marker = "Set-Cookie:", .end_marker = ";", .want = ""},
      {.name = "ignore case folds end marker too", .text = "<b>x</B>", .start_marker = "<b>",
       .end_marker = "</b>", .ignore_case = true, .want = "x"},
      {.name = "letters outside ASCII are not folded",  // full-width A and a
       .text = "\xA3\xC1x;", .start_marker = "\xA3\xE1", .end_marker = ";",
       .ignore_case = true, .want = ""},
      // double-byte boundaries
      {.name = "marker inside a double-byte character is not found",  // GBK char with trail '['
       .text = "\x81[x][y]", .start_marker = "[", .end_marker = "]", .want = "y"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(text_between(row.text, row.start_marker, row.end_marker, row.start,
                           row.ignore_case),
              row.want);
  }
}

TEST(CookieName, Table) {
  struct Row {
    const char* name;
    Text entry;
    Text want;
  };
  const Row rows[] = {
      {.name = "first equals sign splits", .entry = "a=b=c", .want = "a"},
      {.name = "no equals sign", .entry = "flag", .want = "flag"},
      {.name = "empty name", .entry = "=x", .want = ""},
      {.name = "empty entry", .entry = "", .want = ""},
      {.name = "spaces trimmed", .entry = " sid =1", .want = "sid"},
      {.name = "full-width spaces trimmed", .entry = "\xA1\xA1sid\xA1\xA1=1", .want = "sid"},
      {.name = "GBK name", .entry = "\xD6\xD0=1", .want = "\xD6\xD0"},  // GBK "middle"
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(cookie_name(row.entry), row.want);
  }
}

TEST(CookieLists, HasCookieNamedAndIndexInList) {
  struct Row {
    const char* name;
    TextList list;
    Text probe;
    bool want_named;
    std::ptrdiff_t want_index;
  };
  const Row rows[] = {
      {.name = "empty list", .list = {}, .probe = "", .want_named = false, .want_index = -1},
      {.name = "name matches, item does not", .list = {"a=1", "b=2"}, .probe = "b",
       .want_named = true, .want_index = -1},
      {.name = "item matches its own name only when it is a bare name",
       .list = {"x", "flag"}, .probe = "flag", .want_named = true, .want_index = 2},
      {.name = "repeated item gives first index", .list = {"c", "a", "c"}, .probe = "c",
       .want_named = true, .want_index = 1},
      {.name = "exact case", .list = {"SID=1"}, .probe = "sid", .want_named = false,
       .want_index = -1},
      {.name = "empty entry has the empty name", .list = {"a=1", ""}, .probe = "",
       .want_named = true, .want_index = 2},
      {.name = "name is trimmed before comparing", .list = {" a =1"}, .probe = "a",
       .want_named = true, .want_index = -1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(has_cookie_named(row.list, row.probe), row.want_named);
    EXPECT_EQ(index_in_list(row.list, row.probe), row.want_index);
  }
}

TEST(JoinUnique, Table) {
  struct Row {
    const char* name;
    Text text;
    Text separator;
    Text want;
  };
  const Row rows[] = {
      {.name = "repeats dropped, first kept in place", .text = "x|y|x|z|y", .separator = "|",
       .want = "x|y|z"},
      {.name = "empty text", .text = "", .separator = "|", .want = ""},
      {.name = "trailing separator adds no item", .text = "a|b|", .separator = "|",
       .want = "a|b"},
      {.name = "empty items inside are items", .text = "a||b||c", .separator = "|",
       .want = "a||b|c"},
      {.name = "leading empty item", .text = "|a", .separator = "|", .want = "|a"},
      {.name = "two-byte separator", .text = "a; b; a", .separator = "; ", .want = "a; b"},
      {.name = "empty separator keeps the whole text", .text = "aa", .separator = "",
       .want = "aa"},
      {.name = "items compare with exact case", .text = "A|a|A", .separator = "|",
       .want = "A|a"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(join_unique(row.text, row.separator), row.want);
  }
}

TEST(MergeCookies, Table) {
  struct Row {
    const char* name;
    Text current;
    Text received;
    Text want_current;
    Text want_received;
  };
  const Row rows[] = {
      // received replaces old entries of its names
      {.name = "received name wins and comes first", .current = "a=1; b=2", .received = "b=3",
       .want_current = "b=3; a=1", .want_received = "b=3"},
      {.name = "received separators lose their space", .current = "", .received = "a=1; b=2",
       .want_current = "a=1; b=2", .want_received = "a=1;b=2"},
      {.name = "both empty", .current = "", .received = "", .want_current = "",
       .want_received = ""},
      // deletion marks
      {.name = "received deletion keeps old entry out", .current = "a=1; b=2",
       .received = "a=deleted; c=5", .want_current = "c=5; b=2",
       .want_received = "a=deleted;c=5"},
      {.name = "old deletion mark taken first, then dropped", .current = "a=deleted; a=1",
       .received = "", .want_current = "", .want_received = ""},
      {.name = "deletion mark is case-sensitive", .current = "a=DELETED", .received = "",
       .want_current = "a=DELETED", .want_received = ""},
      {.name = "short entries always stay", .current = "deleted", .received = "",
       .want_current = "deleted", .want_received = ""},
      // repeats
      {.name = "old entries of one name: first only", .current = "a=1;a=2", .received = "",
       .want_current = "a=1", .want_received = ""},
      {.name = "received entries of one name all kept", .current = "", .received = "a=1; a=2",
       .want_current = "a=1; a=2", .want_received = "a=1;a=2"},
      {.name = "exact received repeat reduced", .current = "", .received = "a=1; a=1",
       .want_current = "a=1", .want_received = "a=1;a=1"},
      // spaces
      {.name = "spaces around entries removed", .current = "x = 1 ; y=2", .received = "",
       .want_current = "x=1; y=2", .want_received = ""},
      {.name = "spaces inside values removed", .current = "s=a b", .received = "",
       .want_current = "s=ab", .want_received = ""},
      {.name = "full-width spaces removed", .current = "s=a\xA1\xA1" "b", .received = "",
       .want_current = "s=ab", .want_received = ""},
      // empty entries
      {.name = "one empty entry survives", .current = "", .received = "a=1;;b=2",
       .want_current = "a=1; ; b=2", .want_received = "a=1;;b=2"},
      {.name = "second empty entry is a repeat", .current = "", .received = "a=1;;;b=2",
       .want_current = "a=1; ; b=2", .want_received = "a=1;;;b=2"},
      {.name = "leading empty entry", .current = "", .received = ";a=1",
       .want_current = "; a=1", .want_received = ";a=1"},
      {.name = "old empty entry kept out by received one", .current = ";x=1",
       .received = ";a=1", .want_current = "; a=1; x=1", .want_received = ";a=1"},
      // names with and without values
      {.name = "bare name replaces old valued entry", .current = "flag=1; b=2",
       .received = "flag", .want_current = "flag; b=2", .want_received = "flag"},
      {.name = "value with equals signs", .current = "t=a=b", .received = "u=1",
       .want_current = "u=1; t=a=b", .want_received = "u=1"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Text current = row.current;
    Text received = row.received;
    const Text returned = merge_cookies(current, received);
    EXPECT_EQ(current, row.want_current);
    EXPECT_EQ(received, row.want_received);
    EXPECT_EQ(returned, current);
  }
}

// The merge walks name sets instead of rescanning the lists; a literal rendering of the
// merge rules over the public list routines checks that nothing changes the result.
Text literal_merge(Text current, Text received) {
  current = remove_spaces(current);
  received = remove_spaces(received);
  TextList merged = split_text(received, ";");
  for (const Text& entry : split_text(current, ";")) {
    if (!has_cookie_named(merged, cookie_name(entry))) merged.push_back(entry);
  }
  Text joined;
  for (const Text& entry : merged) {
    if (text_right(entry, 8) != "=deleted") joined += entry + "; ";
  }
  joined = text_left(joined, text_len(joined) - 2);
  TextList seen;
  Text unique;
  for (const Text& item : split_text(joined, "; ")) {
    if (index_in_list(seen, item) != -1) continue;
    seen.push_back(item);
    unique += item + "; ";
  }
  return text_left(unique, text_len(unique) - 2);
}

TEST(MergeCookies, AgreesWithLiteralRulesOnGeneratedTexts) {
  // A small alphabet so that names, repeats, deletions and empty entries collide often.
  const std::string_view pieces[] = {"a", "b", "=", "1", ";", " ", "=deleted", "\xA1\xA1",
                                     "\xD6\xD0"};  // full-width space, GBK "middle"
  std::mt19937 random(12345);
  auto make = [&] {
    Text text;
    const std::size_t count = random() % 12;
    for (std::size_t i = 0; i < count; ++i) text += pieces[random() % std::size(pieces)];
    return text;
  };
  for (int round = 0; round < 3000; ++round) {
    Text current = make();
    Text received = make();
    SCOPED_TRACE("current \"" + current + "\" received \"" + received + "\"");
    const Text want = literal_merge(current, received);
    (void)merge_cookies(current, received);
    ASSERT_EQ(current, want);
  }
}

}  // namespace
