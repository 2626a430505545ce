#include "platform/winhttp/winhttp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/http_server.h"

namespace {

using test_http::HttpServer;
using test_http::Request;
using test_http::Script;

std::u16string wide(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::string ascii(std::u16string_view units) {
  std::string out;
  for (const char16_t u : units) out += static_cast<char>(u);
  return out;
}

struct Handle {
  HINTERNET h = nullptr;
  explicit Handle(HINTERNET handle) : h(handle) {}
  ~Handle() {
    if (h != nullptr) WinHttpCloseHandle(h);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
};

// One request through the calls, step by step, remembering where it stopped.
struct Exchange {
  Handle session;
  Handle connection;
  Handle request;
  std::string failed_at;  // "" when every step succeeded
  DWORD error = 0;
  std::string body;

  Exchange(HINTERNET s, std::uint16_t port, std::u16string verb, std::u16string object, DWORD flags,
           int timeout_ms)
      : session(s),
        connection(WinHttpConnect(session.h, u"127.0.0.1", port, 0)),
        request(WinHttpOpenRequest(connection.h, verb.c_str(), object.c_str(), nullptr, nullptr,
                                   nullptr, flags)) {
    WinHttpSetTimeouts(request.h, timeout_ms, timeout_ms, timeout_ms, timeout_ms);
  }

  bool step(const char* name, BOOL ok) {
    if (ok) return true;
    failed_at = name;
    error = GetLastError();
    return false;
  }

  void run(const std::string& body_to_send = "") {
    void* data = body_to_send.empty() ? nullptr : const_cast<char*>(body_to_send.data());
    const auto size = static_cast<DWORD>(body_to_send.size());
    if (!step("send", WinHttpSendRequest(request.h, nullptr, 0, data, size, size, 0))) return;
    if (!step("receive", WinHttpReceiveResponse(request.h, nullptr))) return;
    for (;;) {
      DWORD available = 0;
      if (!step("available", WinHttpQueryDataAvailable(request.h, &available)) || available == 0) return;
      std::string piece(available, '\0');
      DWORD read = 0;
      if (!step("read", WinHttpReadData(request.h, piece.data(), available, &read))) return;
      body.append(piece, 0, read);
    }
  }

  std::u16string raw_headers() {
    DWORD bytes = 0;
    WinHttpQueryHeaders(request.h, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, nullptr, &bytes, nullptr);
    std::u16string out(bytes / 2, u'\0');
    if (!WinHttpQueryHeaders(request.h, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, out.data(), &bytes,
                             nullptr)) {
      return u"(query failed)";
    }
    out.resize(bytes / 2);
    return out;
  }
};

HINTERNET direct_session() {
  return WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
}

TEST(WinHttpCrackUrl, Components) {
  struct Row {
    const char* name;
    std::string url;
    DWORD want_error;  // 0: success
    INTERNET_SCHEME want_scheme{};
    std::string want_host{};
    INTERNET_PORT want_port{};
    std::string want_path{};
    std::string want_extra{};
  };
  const Row rows[] = {
      {.name = "plain", .url = "http://host/p/q?x=1#f", .want_error = 0,
       .want_scheme = INTERNET_SCHEME_HTTP, .want_host = "host", .want_port = 80,
       .want_path = "/p/q", .want_extra = "?x=1#f"},
      {.name = "https default port, no path", .url = "HTTPS://Host.Test", .want_error = 0,
       .want_scheme = INTERNET_SCHEME_HTTPS, .want_host = "Host.Test", .want_port = 443,
       .want_path = "", .want_extra = ""},
      {.name = "query right after the host", .url = "http://h?x", .want_error = 0,
       .want_scheme = INTERNET_SCHEME_HTTP, .want_host = "h", .want_port = 80, .want_path = "",
       .want_extra = "?x"},
      {.name = "port and user info", .url = "http://u:pw@h:8080/x", .want_error = 0,
       .want_scheme = INTERNET_SCHEME_HTTP, .want_host = "h", .want_port = 8080, .want_path = "/x",
       .want_extra = ""},
      {.name = "ipv6 literal", .url = "http://[::1]:81/", .want_error = 0,
       .want_scheme = INTERNET_SCHEME_HTTP, .want_host = "::1", .want_port = 81, .want_path = "/",
       .want_extra = ""},
      {.name = "empty port takes the default", .url = "https://h:/", .want_error = 0,
       .want_scheme = INTERNET_SCHEME_HTTPS, .want_host = "h", .want_port = 443, .want_path = "/",
       .want_extra = ""},
      {.name = "blank in the path is the caller's", .url = "http://h/a b", .want_error = 0,
       .want_scheme = INTERNET_SCHEME_HTTP, .want_host = "h", .want_port = 80, .want_path = "/a b",
       .want_extra = ""},
      // rejected
      {.name = "empty", .url = "", .want_error = ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
      {.name = "no scheme", .url = "host/path", .want_error = ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
      {.name = "other scheme", .url = "ftp://h/", .want_error = ERROR_WINHTTP_UNRECOGNIZED_SCHEME},
      {.name = "single slash", .url = "http:/h/", .want_error = ERROR_WINHTTP_INVALID_URL},
      {.name = "no host", .url = "http:///p", .want_error = ERROR_WINHTTP_INVALID_URL},
      {.name = "port zero", .url = "http://h:0/", .want_error = ERROR_WINHTTP_INVALID_URL},
      {.name = "port too big", .url = "http://h:65536/", .want_error = ERROR_WINHTTP_INVALID_URL},
      {.name = "port with sign", .url = "http://h:-80/", .want_error = ERROR_WINHTTP_INVALID_URL},
      {.name = "blank in the host", .url = "http://a b/", .want_error = ERROR_WINHTTP_INVALID_URL},
      {.name = "line feed in the host", .url = "http://a\nb/", .want_error = ERROR_WINHTTP_INVALID_URL},
      {.name = "unclosed bracket", .url = "http://[::1/", .want_error = ERROR_WINHTTP_INVALID_URL},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    const std::u16string url = wide(row.url);
    URL_COMPONENTS parts{};
    parts.dwStructSize = sizeof parts;
    parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength =
        parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    SetLastError(0);
    const BOOL ok = WinHttpCrackUrl(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts);
    if (row.want_error != 0) {
      EXPECT_FALSE(ok);
      EXPECT_EQ(GetLastError(), row.want_error);
      continue;
    }
    ASSERT_TRUE(ok);
    EXPECT_EQ(parts.nScheme, row.want_scheme);
    EXPECT_EQ(parts.nPort, row.want_port);
    EXPECT_EQ(ascii({parts.lpszHostName, parts.dwHostNameLength}), row.want_host);
    EXPECT_EQ(ascii({parts.lpszUrlPath, parts.dwUrlPathLength}), row.want_path);
    EXPECT_EQ(ascii({parts.lpszExtraInfo, parts.dwExtraInfoLength}), row.want_extra);
    // Pointers into the caller's string, not copies.
    EXPECT_GE(parts.lpszHostName, url.c_str());
    EXPECT_LE(parts.lpszExtraInfo + parts.dwExtraInfoLength, url.c_str() + url.size());
    EXPECT_EQ(parts.lpszScheme, url.c_str());
  }
}

TEST(WinHttpCrackUrl, CopiesIntoBuffersThatFit) {
  const std::u16string url = u"http://example.test/x";
  WCHAR host[8] = {};
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.lpszHostName = host;
  parts.dwHostNameLength = 8;
  EXPECT_FALSE(WinHttpCrackUrl(url.c_str(), 0, 0, &parts));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(parts.dwHostNameLength, 13u);  // "example.test" and its NUL
  WCHAR bigger[16] = {};
  parts.lpszHostName = bigger;
  parts.dwHostNameLength = 16;
  ASSERT_TRUE(WinHttpCrackUrl(url.c_str(), 0, 0, &parts));
  EXPECT_EQ(std::u16string(bigger), u"example.test");
  EXPECT_EQ(parts.dwHostNameLength, 12u);
}

// Nothing beyond Host, what a body needs and what the caller asked for.
TEST(WinHttpSendRequest, SendsNoHeaderOfItsOwn) {
  struct Row {
    const char* name;
    std::u16string verb;
    std::string body;
    std::u16string headers;
    std::vector<std::string> want_names;
  };
  const Row rows[] = {
      {.name = "get", .verb = u"GET", .body = "", .headers = u"", .want_names = {"Host"}},
      {.name = "post", .verb = u"POST", .body = "", .headers = u"",
       .want_names = {"Host", "Content-Length"}},
      {.name = "big post", .verb = u"POST", .body = std::string(2 << 20, 'b'), .headers = u"",
       .want_names = {"Host", "Content-Length"}},
      {.name = "custom verb", .verb = u"PROPFIND", .body = "x", .headers = u"",
       .want_names = {"Host", "Content-Length"}},
      {.name = "replace and add", .verb = u"GET", .body = "",
       .headers = u"X-A: 1\r\nx-a: 2\r\nX-B: 3\r\nX-B:\r\n",
       .want_names = {"Host", "x-a"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer server([](const Request&) { return test_http::reply_ok("k"); });
    Exchange x(direct_session(), server.port(), row.verb, u"/", 0, 5000);
    if (!row.headers.empty()) {
      ASSERT_TRUE(WinHttpAddRequestHeaders(x.request.h, row.headers.c_str(), static_cast<DWORD>(-1),
                                           WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE));
    }
    x.run(row.body);
    EXPECT_EQ(x.failed_at, "");
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].header_names(), row.want_names);
    EXPECT_EQ(requests[0].body, row.body);
  }
}

TEST(WinHttpAddRequestHeaders, RejectsWhatIsNoHeader) {
  HttpServer server([](const Request&) { return test_http::reply_ok("k"); });
  Exchange x(direct_session(), server.port(), u"GET", u"/", 0, 5000);
  for (const char16_t* bad : {u"no colon here\r\n", u": no name\r\n", u"Bad Name: v\r\n"}) {
    SCOPED_TRACE(ascii(bad));
    EXPECT_FALSE(WinHttpAddRequestHeaders(x.request.h, bad, static_cast<DWORD>(-1),
                                          WINHTTP_ADDREQ_FLAG_ADD));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  // A bad line anywhere adds nothing at all.
  EXPECT_FALSE(WinHttpAddRequestHeaders(x.request.h, u"X-Good: 1\r\nbad\r\n", static_cast<DWORD>(-1),
                                        WINHTTP_ADDREQ_FLAG_ADD));
  x.run();
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_FALSE(server.requests()[0].has_header("X-Good"));
}

TEST(WinHttpQueryHeaders, RawHeadersOfTheFinalResponse) {
  // "middle" in GBK, which the header text carries in the ANSI code page.
  const std::string head =
      "HTTP/1.1 200 OK\r\nx-lower: a\nX-Gbk: \xD6\xD0\r\nContent-Length: 2\r\n\r\n";
  HttpServer server([&](const Request& r) {
    if (r.target == "/first") {
      return Script{test_http::send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 301 Moved\r\nLocation: /second\r\n"
                                    "Content-Length: 0\r\n\r\n")};
    }
    return Script{test_http::send(head + "ok")};
  });
  Exchange x(direct_session(), server.port(), u"GET", u"/first", 0, 5000);
  x.run();
  ASSERT_EQ(x.failed_at, "");
  EXPECT_EQ(x.body, "ok");

  const std::u16string want =
      u"HTTP/1.1 200 OK\r\nx-lower: a\r\nX-Gbk: \u4E2D\r\nContent-Length: 2\r\n\r\n";
  DWORD bytes = 0;
  EXPECT_FALSE(WinHttpQueryHeaders(x.request.h, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, nullptr,
                                   &bytes, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(bytes, (want.size() + 1) * 2);
  std::u16string small(4, u'\0');
  DWORD small_bytes = 8;
  EXPECT_FALSE(WinHttpQueryHeaders(x.request.h, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, small.data(),
                                   &small_bytes, nullptr));
  EXPECT_EQ(small_bytes, bytes);
  EXPECT_EQ(x.raw_headers(), want);
}

TEST(WinHttpQueryHeaders, NotBeforeTheResponse) {
  HttpServer server([](const Request&) { return test_http::reply_ok("k"); });
  Exchange x(direct_session(), server.port(), u"GET", u"/", 0, 5000);
  DWORD bytes = 0;
  EXPECT_FALSE(WinHttpQueryHeaders(x.request.h, WINHTTP_QUERY_RAW_HEADERS_CRLF, nullptr, nullptr,
                                   &bytes, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
}

// Each kind of trouble fails the call of the phase it belongs to, in bounded time.
TEST(WinHttpPhases, FailuresLandInTheirPhase) {
  struct Row {
    const char* name;
    bool to_closed_port;
    DWORD flags;
    Script script;
    Script greeting{};
    int timeout_ms;
    std::string want_failed_at;
    DWORD want_error;
    std::string want_body;
  };
  const Row rows[] = {
      {.name = "refused", .to_closed_port = true, .flags = 0, .script = {}, .timeout_ms = 1000,
       .want_failed_at = "send", .want_error = ERROR_WINHTTP_CANNOT_CONNECT, .want_body = ""},
      {.name = "tls against a plain server", .to_closed_port = false, .flags = WINHTTP_FLAG_SECURE,
       .script = {},
       .greeting = {test_http::send("HTTP/1.1 400 Bad\r\n\r\n"), test_http::close_now()},
       .timeout_ms = 2000, .want_failed_at = "send", .want_error = ERROR_WINHTTP_SECURE_FAILURE,
       .want_body = ""},
      {.name = "closed without answering", .to_closed_port = false, .flags = 0,
       .script = {test_http::close_now()}, .timeout_ms = 2000, .want_failed_at = "receive",
       .want_error = ERROR_WINHTTP_INVALID_SERVER_RESPONSE, .want_body = ""},
      {.name = "silent", .to_closed_port = false, .flags = 0, .script = {test_http::stay_silent()},
       .timeout_ms = 500, .want_failed_at = "receive", .want_error = ERROR_WINHTTP_TIMEOUT,
       .want_body = ""},
      {.name = "lost in the body", .to_closed_port = false, .flags = 0,
       .script = {test_http::send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabcd"),
                  test_http::close_now()},
       .timeout_ms = 2000, .want_failed_at = "read", .want_error = ERROR_WINHTTP_CONNECTION_ERROR,
       .want_body = "abcd"},
      {.name = "silent in the body", .to_closed_port = false, .flags = 0,
       .script = {test_http::send("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nab"),
                  test_http::stay_silent()},
       .timeout_ms = 500, .want_failed_at = "read", .want_error = ERROR_WINHTTP_TIMEOUT,
       .want_body = "ab"},
      {.name = "gaps shorter than the time-out", .to_closed_port = false, .flags = 0,
       .script = [] {
         Script s = test_http::trickle("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n", 64, 0);
         for (const auto& a : test_http::trickle("wxyz", 1, 300)) s.push_back(a);
         s.push_back(test_http::sleep_ms(300));
         return s;
       }(),
       .timeout_ms = 600, .want_failed_at = "", .want_error = 0, .want_body = "wxyz"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer server([&](const Request&) { return row.script; }, row.greeting);
    const auto started = std::chrono::steady_clock::now();
    Exchange x(direct_session(), row.to_closed_port ? test_http::unused_port() : server.port(), u"GET", u"/",
               row.flags, row.timeout_ms);
    x.run();
    EXPECT_LT(std::chrono::steady_clock::now() - started,
              std::chrono::milliseconds(row.timeout_ms + 3000));
    EXPECT_EQ(x.failed_at, row.want_failed_at);
    EXPECT_EQ(x.error, row.want_error);
    EXPECT_EQ(x.body, row.want_body);
  }
}

TEST(WinHttpOpen, ProxyListPerScheme) {
  struct Row {
    const char* name;
    std::string list;  // "P" stands for the proxy's address
    bool want_proxy;
  };
  const Row rows[] = {
      {.name = "per scheme", .list = "http=P", .want_proxy = true},
      {.name = "any scheme", .list = "P", .want_proxy = true},
      {.name = "other scheme only", .list = "https=P", .want_proxy = false},
      {.name = "several entries", .list = "https=127.0.0.1:1;http=P", .want_proxy = true},
      {.name = "blank separated, scheme-less", .list = "ftp=127.0.0.1:1 P", .want_proxy = true},
      {.name = "scheme prefix on the server", .list = "http=http://P", .want_proxy = true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HttpServer proxy([](const Request&) { return test_http::reply_ok("via proxy"); });
    HttpServer origin([](const Request&) { return test_http::reply_ok("direct"); });
    std::string list = row.list;
    list.replace(list.find('P'), 1, proxy.address());
    const std::u16string wide_list = wide(list);
    Exchange x(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NAMED_PROXY, wide_list.c_str(), nullptr, 0),
               origin.port(), u"GET", u"/x", 0, 5000);
    x.run();
    EXPECT_EQ(x.body, row.want_proxy ? "via proxy" : "direct");
    if (row.want_proxy) {
      ASSERT_EQ(proxy.requests().size(), 1u);
      EXPECT_EQ(proxy.requests()[0].target, "http://127.0.0.1:" + std::to_string(origin.port()) + "/x");
      EXPECT_FALSE(proxy.requests()[0].has_header("Proxy-Connection"));
    }
  }
}

TEST(WinHttpOpen, RejectsWhatItDoesNotOffer) {
  EXPECT_EQ(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NAMED_PROXY, u"", nullptr, 0), nullptr);
  EXPECT_EQ(WinHttpOpen(nullptr, 2, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, WINHTTP_FLAG_ASYNC),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
}

// Cookies that a response sets go back within the session, unless switched off for a request.
TEST(WinHttpSession, KeepsCookiesUnlessDisabled) {
  HttpServer server([](const Request& r) {
    if (r.target == "/set") return test_http::reply("200 OK", "Set-Cookie: sid=42; Path=/\r\n", "");
    return test_http::reply_ok("");
  });
  const Handle session(direct_session());
  const Handle connection(WinHttpConnect(session.h, u"127.0.0.1", server.port(), 0));
  auto fetch = [&](const char16_t* path, bool disable) {
    const Handle request(WinHttpOpenRequest(connection.h, u"GET", path, nullptr, nullptr, nullptr, 0));
    if (disable) {
      DWORD value = WINHTTP_DISABLE_COOKIES;
      WinHttpSetOption(request.h, WINHTTP_OPTION_DISABLE_FEATURE, &value, sizeof value);
    }
    WinHttpSendRequest(request.h, nullptr, 0, nullptr, 0, 0, 0);
    WinHttpReceiveResponse(request.h, nullptr);
  };
  fetch(u"/set", false);
  fetch(u"/with", false);
  fetch(u"/without", true);
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(requests[1].header("Cookie"), "sid=42");
  EXPECT_FALSE(requests[2].has_header("Cookie"));

  // A new session starts with no cookies.
  Exchange fresh(direct_session(), server.port(), u"GET", u"/fresh", 0, 5000);
  fresh.run();
  ASSERT_EQ(server.requests().size(), 4u);
  EXPECT_FALSE(server.requests()[3].has_header("Cookie"));
}

TEST(WinHttpHandles, WrongOrUnknownHandles) {
  int not_a_handle = 0;
  EXPECT_FALSE(WinHttpCloseHandle(&not_a_handle));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(WinHttpCloseHandle(nullptr));
  const Handle session(direct_session());
  DWORD value = 1;
  EXPECT_FALSE(WinHttpSetOption(session.h, WINHTTP_OPTION_DISABLE_FEATURE, &value, sizeof value));
  EXPECT_EQ(GetLastError(), ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
  EXPECT_EQ(WinHttpOpenRequest(session.h, u"GET", u"/", nullptr, nullptr, nullptr, 0), nullptr);
  // Closing the parents first leaves an open request usable.
  HttpServer server([](const Request&) { return test_http::reply_ok("still"); });
  HINTERNET s = direct_session();
  HINTERNET c = WinHttpConnect(s, u"127.0.0.1", server.port(), 0);
  HINTERNET r = WinHttpOpenRequest(c, u"GET", u"/", nullptr, nullptr, nullptr, 0);
  EXPECT_TRUE(WinHttpCloseHandle(s));
  EXPECT_TRUE(WinHttpCloseHandle(c));
  EXPECT_TRUE(WinHttpSendRequest(r, nullptr, 0, nullptr, 0, 0, 0));
  EXPECT_TRUE(WinHttpReceiveResponse(r, nullptr));
  EXPECT_TRUE(WinHttpCloseHandle(r));
}

}  // namespace
