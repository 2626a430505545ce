#include "net/web_request.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <string>
#include <vector>

#include "platform/gui/pending_events.h"
#include "platform/winhttp/winhttp_trace.h"
#include "tests/support/http_server.h"

namespace {

using test_http::HttpServer;
using test_http::Request;
using test_http::Script;

constexpr const char* default_user_agent =
    "Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)";

// "713 failed to read data!" in GBK.
constexpr const char* read_failed_message = "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";

// "711 " and so on: the number that begins every failure message.
std::string number_of(const Text& status) { return status.substr(0, 3); }

thread_local std::vector<std::string> traced;
void record_trace(std::string_view line) { traced.emplace_back(line); }

struct TraceScope {
  TraceScope() {
    traced.clear();
    set_winhttp_trace_hook(record_trace);
  }
  ~TraceScope() { set_winhttp_trace_hook(nullptr); }
};

// The out-parameters, filled with values a call must not overwrite unless it reaches them.
struct Outputs {
  Text response_cookies = "old cookies";
  Text response_headers = "old headers";
  Text redirect_location = "old location";
  Text status_text = "old status";
  Bytes response_bytes = {'o', 'l', 'd'};

  WebRequestArgs wire(WebRequestArgs args) {
    args.response_cookies = &response_cookies;
    args.response_headers = &response_headers;
    args.redirect_location = &redirect_location;
    args.status_text = &status_text;
    args.response_bytes = &response_bytes;
    return args;
  }
  void expect_untouched_but_status() const {
    EXPECT_EQ(response_cookies, "old cookies");
    EXPECT_EQ(response_headers, "old headers");
    EXPECT_EQ(redirect_location, "old location");
    EXPECT_EQ(response_bytes, (Bytes{'o', 'l', 'd'}));
  }
};

TEST(WebRequest, MethodsAndBodiesOnTheWire) {
  struct Row {
    const char* name;
    int method;
    Text body;
    std::string want_line_start;
    std::string want_content_length;  // "" when the header must be absent
    Text want_page;
  };
  const Row rows[] = {
      {.name = "get", .method = 0, .body = "", .want_line_start = "GET / HTTP/1.1",
       .want_content_length = "", .want_page = "answer"},
      {.name = "post without body", .method = 1, .body = "", .want_line_start = "POST / HTTP/1.1",
       .want_content_length = "0", .want_page = "answer"},
      {.name = "post", .method = 1, .body = "a=1&b=2", .want_line_start = "POST / HTTP/1.1",
       .want_content_length = "7", .want_page = "answer"},
      {.name = "head keeps its body and reads none", .method = 2, .body = "xy",
       .want_line_start = "HEAD / HTTP/1.1", .want_content_length = "2", .want_page = ""},
      {.name = "head", .method = 2, .body = "", .want_line_start = "HEAD / HTTP/1.1",
       .want_content_length = "", .want_page = ""},
      {.name = "put", .method = 3, .body = "data", .want_line_start = "PUT / HTTP/1.1",
       .want_content_length = "4", .want_page = "answer"},
      {.name = "get with a body", .method = 0, .body = "q", .want_line_start = "GET / HTTP/1.1",
       .want_content_length = "1", .want_page = "answer"},
      {.name = "unknown method 4 is get", .method = 4, .body = "", .want_line_start = "GET / HTTP/1.1",
       .want_content_length = "", .want_page = "answer"},
      {.name = "negative method is get", .method = -1, .body = "", .want_line_start = "GET / HTTP/1.1",
       .want_content_length = "", .want_page = "answer"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer server([](const Request&) { return test_http::reply_ok("answer"); });
    Bytes bytes;
    const Text page = web_request(
        {.url = server.url(), .method = row.method, .request_body = row.body, .timeout_seconds = 5,
         .response_bytes = &bytes});
    EXPECT_EQ(page, row.want_page);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].request_line, row.want_line_start);
    EXPECT_EQ(requests[0].body, row.body);
    EXPECT_EQ(requests[0].has_header("Content-Length"), !row.want_content_length.empty());
    EXPECT_EQ(requests[0].header("Content-Length"), row.want_content_length);
    EXPECT_FALSE(requests[0].has_header("Expect"));
    EXPECT_FALSE(requests[0].has_header("Transfer-Encoding"));
  }
}

TEST(WebRequest, DefaultHeaders) {
  const std::string all_defaults =
      std::string("User-Agent: ") + default_user_agent +
      "\r\n"
      "Accept: text/html, application/xhtml+xml, */*\r\n"
      "Accept-Encoding: gbk, GB2312\r\n"
      "Accept-Language: zh-cn\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\n"
      "Cache-Control: no-cache\r\n";
  Text empty_cookies;
  Text some_cookies = "a=1; b=2";
  struct Row {
    const char* name;
    Text extra_headers;
    Text* cookies;
    std::string want_after_host;  // every header line after Host, exactly
  };
  const Row rows[] = {
      {.name = "all defaults, nothing of the library's own", .extra_headers = "", .cookies = nullptr,
       .want_after_host = all_defaults},
      // searched strings
      {.name = "lower-case user agent suppresses the default", .extra_headers = "user-agent: me\r\n",
       .cookies = nullptr,
       .want_after_host = "user-agent: me\r\n" + all_defaults.substr(all_defaults.find("Accept:"))},
      {.name = "x-user-agent suppresses it too (substring)", .extra_headers = "X-User-Agent: me\r\n",
       .cookies = nullptr,
       .want_after_host = "X-User-Agent: me\r\n" + all_defaults.substr(all_defaults.find("Accept:"))},
      {.name = "accept without a blank does not suppress", .extra_headers = "Accept:x/y\r\n",
       .cookies = nullptr,
       // The default replaces the caller's line of the same name.
       .want_after_host = "Accept: text/html, application/xhtml+xml, */*\r\nUser-Agent: " +
                          std::string(default_user_agent) +
                          "\r\n"
                          "Accept-Encoding: gbk, GB2312\r\n"
                          "Accept-Language: zh-cn\r\n"
                          "Content-Type: application/x-www-form-urlencoded\r\n"
                          "Cache-Control: no-cache\r\n"},
      {.name = "content-type is searched with exact case", .extra_headers = "content-type: text/plain\r\n",
       .cookies = nullptr,
       .want_after_host = "Content-Type: application/x-www-form-urlencoded\r\nUser-Agent: " +
                          std::string(default_user_agent) +
                          "\r\n"
                          "Accept: text/html, application/xhtml+xml, */*\r\n"
                          "Accept-Encoding: gbk, GB2312\r\n"
                          "Accept-Language: zh-cn\r\n"
                          "Cache-Control: no-cache\r\n"},
      {.name = "exact content-type suppresses", .extra_headers = "Content-Type: text/plain\r\n",
       .cookies = nullptr,
       .want_after_host = "Content-Type: text/plain\r\nUser-Agent: " + std::string(default_user_agent) +
                          "\r\n"
                          "Accept: text/html, application/xhtml+xml, */*\r\n"
                          "Accept-Encoding: gbk, GB2312\r\n"
                          "Accept-Language: zh-cn\r\n"
                          "Cache-Control: no-cache\r\n"},
      {.name = "extra headers without a final line break run into the first default",
       .extra_headers = "X-Last: 1", .cookies = nullptr,
       .want_after_host = "X-Last: 1User-Agent: " + std::string(default_user_agent) + "\r\n" +
                          all_defaults.substr(all_defaults.find("Accept:"))},
      // cookies
      {.name = "cookies given", .extra_headers = "", .cookies = &some_cookies,
       .want_after_host = all_defaults + "Cookie: a=1; b=2\r\n"},
      {.name = "cookies given empty add no line", .extra_headers = "", .cookies = &empty_cookies,
       .want_after_host = all_defaults},
      {.name = "a cookie line of the caller wins", .extra_headers = "cookie: z=9\r\n",
       .cookies = &some_cookies, .want_after_host = "cookie: z=9\r\n" + all_defaults},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer server([](const Request&) { return test_http::reply_ok("ok"); });
    const Text page = web_request({.url = server.url(), .cookies = row.cookies,
                                   .extra_headers = row.extra_headers, .timeout_seconds = 5});
    EXPECT_EQ(page, "ok");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    const std::string host_line = "Host: " + server.address() + "\r\n";
    ASSERT_EQ(requests[0].head.substr(0, host_line.size()), host_line);
    EXPECT_EQ(requests[0].head.substr(host_line.size()), row.want_after_host);
  }
}

// What no server sees: the time-out values, the feature options and the proxy setting.
TEST(WebRequest, SettingsHandedToWinHttp) {
  Text cookies;
  struct Row {
    const char* name;
    std::string url;
    int timeout_seconds;
    Text* cookies;
    bool no_redirect;
    Text proxy_address;
    std::vector<std::string> want;
  };
  const std::string closed = "127.0.0.1:" + std::to_string(test_http::unused_port());
  const Row rows[] = {
      {.name = "time-out left out", .url = "http://" + closed + "/", .timeout_seconds = 0,
       .cookies = nullptr, .no_redirect = false, .proxy_address = "",
       .want = {"WinHttpOpen 1 ", "WinHttpSetTimeouts 30000 30000 30000 30000",
                "WinHttpSetOption 63 1"}},
      {.name = "negative time-out", .url = "http://" + closed + "/", .timeout_seconds = -3,
       .cookies = nullptr, .no_redirect = false, .proxy_address = "",
       .want = {"WinHttpOpen 1 ", "WinHttpSetTimeouts 30000 30000 30000 30000",
                "WinHttpSetOption 63 1"}},
      {.name = "five seconds, cookies kept", .url = "http://" + closed + "/", .timeout_seconds = 5,
       .cookies = &cookies, .no_redirect = false, .proxy_address = "",
       .want = {"WinHttpOpen 1 ", "WinHttpSetTimeouts 5000 5000 5000 5000",
                "WinHttpSetOption 79 1"}},
      // former faults
      // Without the clamp, seconds times 1000 overflows int: a negative time-out, 705.
      {.name = "huge time-out held to the largest int", .url = "http://" + closed + "/",
       .timeout_seconds = std::numeric_limits<int>::max(), .cookies = nullptr, .no_redirect = false,
       .proxy_address = "",
       .want = {"WinHttpOpen 1 ", "WinHttpSetTimeouts 2147483647 2147483647 2147483647 2147483647",
                "WinHttpSetOption 63 1"}},
      {.name = "no redirect", .url = "http://" + closed + "/", .timeout_seconds = 1,
       .cookies = nullptr, .no_redirect = true, .proxy_address = "",
       .want = {"WinHttpOpen 1 ", "WinHttpSetTimeouts 1000 1000 1000 1000", "WinHttpSetOption 63 1",
                "WinHttpSetOption 63 2"}},
      {.name = "proxy for http", .url = "http://" + closed + "/", .timeout_seconds = 1,
       .cookies = nullptr, .no_redirect = false, .proxy_address = closed,
       .want = {"WinHttpOpen 3 http=" + closed, "WinHttpSetTimeouts 1000 1000 1000 1000",
                "WinHttpSetOption 63 1"}},
      {.name = "proxy for https unchanged", .url = "https://" + closed + "/", .timeout_seconds = 1,
       .cookies = nullptr, .no_redirect = false, .proxy_address = closed,
       .want = {"WinHttpOpen 3 " + closed, "WinHttpSetTimeouts 1000 1000 1000 1000",
                "WinHttpSetOption 63 1"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const TraceScope scope;
    Text status;
    (void)web_request({.url = row.url, .cookies = row.cookies, .no_redirect = row.no_redirect,
                       .proxy_address = row.proxy_address, .timeout_seconds = row.timeout_seconds,
                       .status_text = &status});
    EXPECT_EQ(traced, row.want);
    EXPECT_EQ(number_of(status), "711");
  }
}

TEST(WebRequest, ProxyAndServerCredentials) {
  struct Row {
    const char* name;
    bool through_proxy;
    Text server_user, server_password, proxy_user, proxy_password;
    std::string want_target;
    std::string want_authorization;
    std::string want_proxy_authorization;
    Text want_page;
  };
  const Row rows[] = {
      {.name = "direct without credentials", .through_proxy = false, .server_user = "",
       .server_password = "", .proxy_user = "", .proxy_password = "", .want_target = "/p?q=1",
       .want_authorization = "", .want_proxy_authorization = "", .want_page = "page"},
      {.name = "server credentials", .through_proxy = false, .server_user = "u",
       .server_password = "p", .proxy_user = "", .proxy_password = "", .want_target = "/p?q=1",
       .want_authorization = "Basic dTpw", .want_proxy_authorization = "", .want_page = "page"},
      {.name = "server user without password sets none", .through_proxy = false,
       .server_user = "u", .server_password = "", .proxy_user = "", .proxy_password = "",
       .want_target = "/p?q=1", .want_authorization = "", .want_proxy_authorization = "",
       .want_page = "page"},
      {.name = "server password without user sets none", .through_proxy = false,
       .server_user = "", .server_password = "p", .proxy_user = "", .proxy_password = "",
       .want_target = "/p?q=1", .want_authorization = "", .want_proxy_authorization = "",
       .want_page = "page"},
      {.name = "proxy with its credentials", .through_proxy = true, .server_user = "",
       .server_password = "", .proxy_user = "pu", .proxy_password = "pp",
       .want_target = "http://origin.test:8080/p?q=1", .want_authorization = "",
       .want_proxy_authorization = "Basic cHU6cHA=", .want_page = "page"},
      {.name = "proxy user alone is not sent", .through_proxy = true, .server_user = "",
       .server_password = "", .proxy_user = "pu", .proxy_password = "",
       .want_target = "http://origin.test:8080/p?q=1", .want_authorization = "",
       .want_proxy_authorization = "", .want_page = "needs credentials"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer server(test_http::proxy_requiring("pu", "pp", [](const Request&) {
      return test_http::reply_ok("page");
    }));
    HttpServer origin([](const Request&) { return test_http::reply_ok("page"); });
    const std::string url =
        row.through_proxy ? "http://origin.test:8080/p?q=1" : origin.url("/p?q=1");
    Text status;
    const Text page = web_request(
        {.url = url, .server_user = row.server_user, .server_password = row.server_password,
         .proxy_address = row.through_proxy ? Text(server.address()) : Text{},
         .proxy_user = row.proxy_user, .proxy_password = row.proxy_password, .timeout_seconds = 5,
         .status_text = &status});
    const auto requests = row.through_proxy ? server.requests() : origin.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, row.want_target);
    EXPECT_EQ(requests[0].header("Authorization"), row.want_authorization);
    EXPECT_EQ(requests[0].header("Proxy-Authorization"), row.want_proxy_authorization);
    if (row.want_page == "needs credentials") {
      EXPECT_EQ(page, "");
    } else {
      EXPECT_EQ(page, row.want_page);
    }
  }
}

TEST(WebRequest, HttpsGoesToTheProxyUnchanged) {
  HttpServer proxy([](const Request&) {
    return test_http::reply("407 Proxy Authentication Required", "", "");
  });
  Text status;
  (void)web_request({.url = "https://origin.test/x", .proxy_address = proxy.address(),
                     .timeout_seconds = 5, .status_text = &status});
  const auto requests = proxy.requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].request_line, "CONNECT origin.test:443 HTTP/1.1");
}

TEST(WebRequest, Redirects) {
  Text cookies;
  struct Row {
    const char* name;
    bool no_redirect;
    Text* cookies;
    Text want_page;
    std::vector<std::string> want_targets;
    std::string want_cookie_on_second;
  };
  const Row rows[] = {
      {.name = "followed, session cookie sent along", .no_redirect = false, .cookies = &cookies,
       .want_page = "final", .want_targets = {"/start", "/end"}, .want_cookie_on_second = "s=1"},
      {.name = "followed, cookie handling off", .no_redirect = false, .cookies = nullptr,
       .want_page = "final", .want_targets = {"/start", "/end"}, .want_cookie_on_second = ""},
      {.name = "not followed: the 3xx body is the page", .no_redirect = true, .cookies = nullptr,
       .want_page = "moved", .want_targets = {"/start"}, .want_cookie_on_second = ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer server([](const Request& r) {
      if (r.target == "/start") {
        return test_http::reply("302 Found", "Location: /end\r\nSet-Cookie: s=1; path=/\r\n", "moved");
      }
      return test_http::reply_ok("final");
    });
    Text headers;
    const Text page = web_request({.url = server.url("/start"), .cookies = row.cookies,
                                   .response_headers = &headers, .no_redirect = row.no_redirect,
                                   .timeout_seconds = 5});
    EXPECT_EQ(page, row.want_page);
    const auto requests = server.requests();
    std::vector<std::string> targets;
    for (const Request& r : requests) targets.push_back(r.target);
    EXPECT_EQ(targets, row.want_targets);
    if (requests.size() == 2) {
      EXPECT_EQ(requests[1].header("Cookie"), row.want_cookie_on_second);
    }
    // The headers are those of the response that was returned.
    EXPECT_EQ(headers.substr(0, 12), row.no_redirect ? "HTTP/1.1 302" : "HTTP/1.1 200");
  }
}

TEST(WebRequest, SuccessWritesHeadersBodyAndPage) {
  const std::string head =
      "HTTP/1.1 200 OK\r\nX-Odd-Case: Value\r\nset-cookie: a=1\r\nContent-Length: 7\r\n\r\n";
  HttpServer server([&](const Request&) {
    return Script{test_http::send(head + std::string("ab\0cd\0e", 7))};
  });
  Outputs out;
  const auto events_before = pending_events_call_count();
  const Text page = web_request(out.wire({.url = server.url(), .timeout_seconds = 5}));
  // Nine on leaving, one per header line (five with the blank one), one after the
  // character-set search.
  EXPECT_EQ(pending_events_call_count() - events_before, 9u + 5u + 1u);
  EXPECT_EQ(page, "ab");
  EXPECT_EQ(out.response_bytes, (Bytes{'a', 'b', 0, 'c', 'd', 0, 'e'}));
  EXPECT_EQ(out.response_headers.substr(0, 36), head.substr(0, 36));
  EXPECT_EQ(out.response_headers.substr(out.response_headers.size() - 4), "\r\n\r\n");
}

struct FailureRow {
  const char* name;
  std::string url;  // "{}" stands for the server's address
  Script script;
  Script greeting{};
  Text extra_headers;
  int timeout_seconds;
  std::string want_number;
  std::uint64_t want_events;
};

std::string with_server(std::string url, const HttpServer& server) {
  const std::size_t at = url.find("{}");
  if (at != std::string::npos) url.replace(at, 2, server.address());
  return url;
}

TEST(WebRequest, FailuresLeaveTheOtherOutputsAlone) {
  const std::string closed = "127.0.0.1:" + std::to_string(test_http::unused_port());
  const FailureRow rows[] = {
      // the URL
      {.name = "empty url", .url = "", .script = {}, .extra_headers = "", .timeout_seconds = 1,
       .want_number = "701", .want_events = 1},
      {.name = "no scheme", .url = "127.0.0.1/x", .script = {}, .extra_headers = "",
       .timeout_seconds = 1, .want_number = "701", .want_events = 1},
      {.name = "other scheme", .url = "ftp://127.0.0.1/", .script = {}, .extra_headers = "",
       .timeout_seconds = 1, .want_number = "701", .want_events = 1},
      {.name = "port out of range", .url = "http://127.0.0.1:70000/", .script = {},
       .extra_headers = "", .timeout_seconds = 1, .want_number = "701", .want_events = 1},
      {.name = "port not a number", .url = "http://127.0.0.1:8o/", .script = {},
       .extra_headers = "", .timeout_seconds = 1, .want_number = "701", .want_events = 1},
      {.name = "line break in the host", .url = "http://127.0.0.1\r\nX: y/", .script = {},
       .extra_headers = "", .timeout_seconds = 1, .want_number = "701", .want_events = 1},
      // the headers
      {.name = "extra header line without a colon", .url = "http://{}/", .script = {},
       .extra_headers = "not a header\r\n", .timeout_seconds = 1, .want_number = "710",
       .want_events = 6},
      // sending
      {.name = "connection refused", .url = "http://" + closed + "/", .script = {},
       .extra_headers = "", .timeout_seconds = 1, .want_number = "711", .want_events = 7},
      {.name = "tls to a plain server", .url = "https://{}/", .script = {},
       .greeting = {test_http::send("HTTP/1.1 200 OK\r\n\r\n"), test_http::close_now()},
       .extra_headers = "", .timeout_seconds = 2, .want_number = "711", .want_events = 7},
      // receiving
      {.name = "closed without an answer", .url = "http://{}/", .script = {test_http::close_now()},
       .extra_headers = "", .timeout_seconds = 2, .want_number = "712", .want_events = 8},
      {.name = "silent past the time-out", .url = "http://{}/", .script = {test_http::stay_silent()},
       .extra_headers = "", .timeout_seconds = 1, .want_number = "712", .want_events = 8},
      {.name = "no status line", .url = "http://{}/",
       .script = {test_http::send("hello there\r\n\r\nbody"), test_http::close_now()},
       .extra_headers = "", .timeout_seconds = 2, .want_number = "712", .want_events = 8},
      {.name = "redirects without end", .url = "http://{}/",
       .script = test_http::reply("302 Found", "Location: /again\r\n", ""), .extra_headers = "",
       .timeout_seconds = 2, .want_number = "712", .want_events = 8},
      {.name = "headers cut off", .url = "http://{}/",
       .script = {test_http::send("HTTP/1.1 200 OK\r\nContent-Le"), test_http::close_now()},
       .extra_headers = "", .timeout_seconds = 2, .want_number = "712", .want_events = 8},
  };
  for (const FailureRow& row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer server([&](const Request&) { return row.script; }, row.greeting);
    Outputs out;
    Text cookies = "kept=1";
    const auto events_before = pending_events_call_count();
    const auto started = std::chrono::steady_clock::now();
    const Text page = web_request(out.wire({.url = with_server(row.url, server), .cookies = &cookies,
                                            .extra_headers = row.extra_headers,
                                            .timeout_seconds = row.timeout_seconds}));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(row.timeout_seconds + 3));
    EXPECT_EQ(page, "");
    EXPECT_EQ(number_of(out.status_text), row.want_number) << out.status_text;
    EXPECT_EQ(pending_events_call_count() - events_before, row.want_events);
    EXPECT_EQ(cookies, "kept=1");
    out.expect_untouched_but_status();
  }
}

TEST(WebRequest, FailureMessagesAreGbk) {
  Text status;
  (void)web_request({.url = "", .status_text = &status});
  // "701 failed to parse the URL!" in GBK.
  EXPECT_EQ(status, "701 \xBD\xE2\xCE\xF6URL\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC!");
}

// A body that breaks off is no failure exit: what arrived is kept and the call goes on.
TEST(WebRequest, BodyCutShortKeepsWhatArrived) {
  struct Row {
    const char* name;
    Script script;
    int timeout_seconds;
    Bytes want_bytes;
  };
  const Row rows[] = {
      {.name = "content length not reached",
       .script = {test_http::send("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc"),
                  test_http::close_now()},
       .timeout_seconds = 2, .want_bytes = {'a', 'b', 'c'}},
      {.name = "chunked encoding gone wrong",
       .script = {test_http::send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
                                  "3\r\nabc\r\nzz\r\n"),
                  test_http::close_now()},
       .timeout_seconds = 2, .want_bytes = {'a', 'b', 'c'}},
      {.name = "silent in the middle of the body",
       .script = {test_http::send("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nab"),
                  test_http::stay_silent()},
       .timeout_seconds = 1, .want_bytes = {'a', 'b'}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer server([&](const Request&) { return row.script; });
    Outputs out;
    const auto events_before = pending_events_call_count();
    const Text page = web_request(out.wire({.url = server.url(), .timeout_seconds = row.timeout_seconds}));
    // Without the read failure kept, the status said "200 OK" over a partial page.
    EXPECT_EQ(out.status_text, read_failed_message);
    EXPECT_EQ(out.response_bytes, row.want_bytes);
    EXPECT_EQ(page, bytes_to_text(row.want_bytes));
    EXPECT_EQ(out.response_headers.substr(0, 15), "HTTP/1.1 200 OK");
    // Nine on leaving, one per header line (status, Content-Length or Transfer-Encoding, the
    // blank line), one after the character-set search.
    EXPECT_EQ(pending_events_call_count() - events_before, 9u + 3u + 1u);
  }
}

TEST(WebRequest, ObjectNameCannotBreakTheRequestLine) {
  struct Row {
    const char* name;
    std::string path;
    std::string want_target;
  };
  const Row rows[] = {
      {.name = "bare host is /", .path = "", .want_target = "/"},
      {.name = "query kept", .path = "/a/b?x=1&y=2", .want_target = "/a/b?x=1&y=2"},
      {.name = "query on a bare host is dropped", .path = "?x=1", .want_target = "/"},
      {.name = "blank and line break escaped", .path = "/a b\r\nX-Injected: 1",
       .want_target = "/a%20b%0D%0AX-Injected:%201"},
      // GBK for the two characters of "middle text", sent as UTF-8.
      {.name = "gbk escaped as utf-8", .path = "/\xD6\xD0\xCE\xC4", .want_target = "/%E4%B8%AD%E6%96%87"},
      {.name = "dot segments left alone", .path = "/a/../b", .want_target = "/a/../b"},
      {.name = "other punctuation passes", .path = "/a<b>{c}|d^e`f\"g%41", .want_target = "/a<b>{c}|d^e`f\"g%41"},
      {.name = "fragment not sent", .path = "/p?q#frag", .want_target = "/p?q"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer server([](const Request&) { return test_http::reply_ok("ok"); });
    const Text page = web_request({.url = "http://" + server.address() + row.path, .timeout_seconds = 5});
    EXPECT_EQ(page, "ok");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, row.want_target);
    EXPECT_FALSE(requests[0].has_header("X-Injected"));
  }
}

TEST(WebRequest, AwkwardServers) {
  const std::string long_line = "X-Long: " + std::string(70 * 1024, 'v') + "\r\n";
  std::string many_headers;
  for (int i = 0; i < 20000; ++i) many_headers += "X-H" + std::to_string(i) + ": value\r\n";
  struct Row {
    const char* name;
    Script script;
    int timeout_seconds;
    Text want_page;
    std::string want_status_number;  // the response's status code, or a failure number
  };
  const Row rows[] = {
      {.name = "one byte a second stays within the time-out",
       .script = [] {
         Script s{test_http::send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n")};
         for (const auto& a : test_http::trickle("abc", 1, 700)) s.push_back(a);
         return s;
       }(),
       .timeout_seconds = 1, .want_page = "abc", .want_status_number = "200"},
      {.name = "header line over 64 KiB",
       .script = test_http::reply("200 OK", long_line, "fine"),
       .timeout_seconds = 5, .want_page = "fine", .want_status_number = "200"},
      {.name = "huge header block",
       .script = test_http::reply("200 OK", many_headers, "fine"),
       .timeout_seconds = 5, .want_page = "", .want_status_number = "712"},
      {.name = "http/1.0 without length ends at close",
       .script = {test_http::send("HTTP/1.0 200 OK\r\n\r\nto the end"), test_http::close_now()},
       .timeout_seconds = 5, .want_page = "to the end", .want_status_number = "200"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer server([&](const Request&) { return row.script; });
    Text status = "untouched";
    const Text page =
        web_request({.url = server.url(), .timeout_seconds = row.timeout_seconds, .status_text = &status});
    EXPECT_EQ(page, row.want_page);
    if (row.want_status_number.empty()) {
      EXPECT_NE(status.substr(0, 1), "7") << status;
    } else {
      EXPECT_EQ(number_of(status), row.want_status_number);
    }
  }
}

TEST(WebRequest, LargeBodyArrivesWhole) {
  constexpr std::uint64_t byte_count = 64ull << 20;
  HttpServer server([](const Request&) {
    return Script{test_http::send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(byte_count) +
                                  "\r\n\r\n"),
                  test_http::send_repeated("0123456789abcdef", byte_count)};
  });
  Bytes bytes;
  const Text page = web_request({.url = server.url(), .timeout_seconds = 10, .response_bytes = &bytes});
  ASSERT_EQ(bytes.size(), byte_count);
  EXPECT_EQ(page.size(), byte_count);
  EXPECT_EQ(page.substr(byte_count - 16), "0123456789abcdef");
  EXPECT_EQ(bytes[12345678], "0123456789abcdef"[12345678 % 16]);
}

}  // namespace
