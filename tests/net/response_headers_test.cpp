#include "net/response_headers.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/gui/pending_events.h"

namespace {

struct Outputs {
  Text headers;
  Text status_text = "untouched";
  Text response_cookies;
  Text redirect_location = "untouched";
  std::optional<Text> cookies;
  std::uint64_t pump_calls = 0;
};

Outputs run(const Text& headers, std::optional<Text> cookies = std::nullopt,
            Text response_cookies = "") {
  Outputs out;
  out.headers = headers;
  out.cookies = std::move(cookies);
  out.response_cookies = std::move(response_cookies);
  const std::uint64_t before = pending_events_call_count();
  process_response_headers(out.headers, out.status_text, out.response_cookies,
                           out.redirect_location, out.cookies ? &*out.cookies : nullptr);
  out.pump_calls = pending_events_call_count() - before;
  return out;
}

TEST(ResponseHeaders, Table) {
  struct Row {
    const char* name;
    Text headers;
    std::optional<Text> cookies = {};
    Text want_status;
    Text want_headers = {};  // empty: the input unchanged
    Text want_response_cookies = {};
    Text want_location = "untouched";
    std::optional<Text> want_cookies = {};
    std::uint64_t want_pump_calls;
  };
  const Row rows[] = {
      // status text; the blank line that ends a header block is a line of its own
      {.name = "200 OK", .headers = "HTTP/1.1 200 OK\r\nA: b\r\n\r\n", .want_status = "200 OK",
       .want_pump_calls = 3},
      {.name = "302 Found", .headers = "HTTP/1.1 302 Found\r\n\r\n", .want_status = "302 Found",
       .want_pump_calls = 2},
      {.name = "no CR LF at all", .headers = "HTTP/1.1 200 OK", .want_status = "",
       .want_pump_calls = 1},
      {.name = "CR LF only before byte 10", .headers = "HTTP\r\n/1.1 200", .want_status = "",
       .want_pump_calls = 2},
      {.name = "empty headers", .headers = "", .want_status = "", .want_pump_calls = 0},
      // cookie collection
      {.name = "with and without attributes, not supplied",
       .headers = "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n",
       .want_status = "200 OK", .want_response_cookies = "a=1; b=2", .want_pump_calls = 4},
      {.name = "with and without attributes, supplied empty",
       .headers = "HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n",
       .cookies = "", .want_status = "200 OK", .want_response_cookies = "a=1;b=2",
       .want_cookies = "a=1; b=2", .want_pump_calls = 4},
      {.name = "merge with kept cookies",
       .headers = "HTTP/1.1 200 OK\r\nSet-Cookie: b=3\r\nSet-Cookie: c=deleted; path=/\r\n",
       .cookies = "a=1; b=2; c=4", .want_status = "200 OK",
       .want_response_cookies = "b=3;c=deleted", .want_cookies = "b=3; a=1",
       .want_pump_calls = 3},
      {.name = "lower-case name rewritten and collected",
       .headers = "HTTP/1.1 200 OK\r\nset-cookie: s=9; HttpOnly\r\n", .want_status = "200 OK",
       .want_headers = "HTTP/1.1 200 OK\r\nSet-Cookie: s=9; HttpOnly\r\n",
       .want_response_cookies = "s=9", .want_pump_calls = 2},
      {.name = "mixed case inside other text rewritten too",
       .headers = "HTTP/1.1 200 OK\r\nX-SET-COOKIE-Info: n\r\n", .want_status = "200 OK",
       .want_headers = "HTTP/1.1 200 OK\r\nX-Set-Cookie-Info: n\r\n",
       .want_response_cookies = "X-Set-Cookie-Info: n", .want_pump_calls = 2},
      {.name = "Set-Cookie without colon but with semicolon adds an empty entry",
       .headers = "HTTP/1.1 200 OK\r\nX-Set-Cookie-Info: a; b\r\nSet-Cookie: k=v\r\n",
       .want_status = "200 OK", .want_response_cookies = "; k=v", .want_pump_calls = 3},
      {.name = "every Set-Cookie: removed on a line without semicolon",
       .headers = "HTTP/1.1 200 OK\r\nSet-Cookie: x=1 set-cookie:y\r\n", .want_status = "200 OK",
       .want_headers = "HTTP/1.1 200 OK\r\nSet-Cookie: x=1 Set-Cookie:y\r\n",
       .want_response_cookies = "x=1 y", .want_pump_calls = 2},
      {.name = "no cookie at all", .headers = "HTTP/1.1 204 No Content\r\nA: b\r\n",
       .want_status = "204 No Content", .want_response_cookies = "", .want_pump_calls = 2},
      {.name = "no cookie, supplied cookies kept", .headers = "HTTP/1.1 200 OK\r\n",
       .cookies = "a = 1; b=2", .want_status = "200 OK", .want_response_cookies = "",
       .want_cookies = "a=1; b=2", .want_pump_calls = 1},
      {.name = "GBK value", .headers = "HTTP/1.1 200 OK\r\nSet-Cookie: n=\xD6\xD0; p\r\n",
       .want_status = "200 OK", .want_response_cookies = "n=\xD6\xD0",  // GBK "middle"
       .want_pump_calls = 2},
      // redirect location
      {.name = "second Location wins",
       .headers = "HTTP/1.1 302 Found\r\nLocation: /one\r\nLocation: /two\r\n\r\n",
       .want_status = "302 Found", .want_location = "/two", .want_pump_calls = 4},
      {.name = "lower-case location",
       .headers = "HTTP/1.1 301 Moved\r\nlocation: http://h/x?y=1\r\n",
       .want_status = "301 Moved", .want_location = "http://h/x?y=1", .want_pump_calls = 2},
      {.name = "no blank after colon is not taken",
       .headers = "HTTP/1.1 302 Found\r\nLocation:/x\r\n", .want_status = "302 Found",
       .want_pump_calls = 2},
      {.name = "Content-Location is not Location",
       .headers = "HTTP/1.1 200 OK\r\nContent-Location: /c\r\n", .want_status = "200 OK",
       .want_pump_calls = 2},
      {.name = "empty Location value", .headers = "HTTP/1.1 302 Found\r\nLocation: \r\n",
       .want_status = "302 Found", .want_location = "", .want_pump_calls = 2},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const Outputs out = run(row.headers, row.cookies);
    EXPECT_EQ(out.status_text, row.want_status);
    EXPECT_EQ(out.headers, row.want_headers.empty() ? row.headers : row.want_headers);
    EXPECT_EQ(out.response_cookies, row.want_response_cookies);
    EXPECT_EQ(out.redirect_location, row.want_location);
    EXPECT_EQ(out.cookies, row.want_cookies);
    EXPECT_EQ(out.pump_calls, row.want_pump_calls);
  }
}

TEST(ResponseHeaders, CallersOldResponseCookiesAreReplaced) {
  // Appending to the caller's text and then cutting two bytes turned "x=1" into "x" when the
  // response set no cookie, and ran the caller's text into the first new cookie otherwise.
  EXPECT_EQ(run("HTTP/1.1 200 OK\r\n", std::nullopt, "x=1").response_cookies, "");
  EXPECT_EQ(run("HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\n", std::nullopt, "x=1").response_cookies,
            "a=1");
}

TEST(ResponseHeaders, OversizedInputs) {
  // A 1 MiB cookie value and ten thousand cookie lines: the walk stays linear in the input.
  const Text big_value(1 << 20, 'v');
  Outputs out = run("HTTP/1.1 200 OK\r\nSet-Cookie: big=" + big_value + "; path=/\r\n\r\n");
  EXPECT_TRUE(out.response_cookies == "big=" + big_value);

  Text many = "HTTP/1.1 200 OK\r\n";
  Text want;
  for (int i = 0; i < 10000; ++i) {
    const Text entry = "c" + std::to_string(i) + "=" + std::to_string(i);
    many += "Set-Cookie: " + entry + "; path=/\r\n";
    want += (i == 0 ? "" : "; ") + entry;
  }
  out = run(many + "\r\n", Text("old=1"));
  EXPECT_EQ(out.pump_calls, 10002u);  // the status line, 10,000 lines, the blank line
  EXPECT_TRUE(*out.cookies == want + "; old=1");
  EXPECT_TRUE(out.response_cookies == remove_spaces(want));

  // A header block that is one long line without any CR LF.
  out = run("HTTP/1.1 200 OK Set-Cookie: q=1" + Text(1 << 20, 'x'));
  EXPECT_EQ(out.status_text, "");
  EXPECT_TRUE(out.response_cookies == "HTTP/1.1 200 OK  q=1" + Text(1 << 20, 'x'));
  EXPECT_EQ(out.pump_calls, 1u);
}

}  // namespace
