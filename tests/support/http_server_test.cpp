#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

namespace {

// A bare socket client, so the server is checked without any HTTP library in between.
std::string exchange(std::uint16_t port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return "connect failed";
  }
  (void)::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  std::string answer;
  for (int rounds = 0; rounds < 8; ++rounds) {
    pollfd p{.fd = fd, .events = POLLIN, .revents = 0};
    if (::poll(&p, 1, 50) <= 0) continue;
    char chunk[4096];
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
    if (n <= 0) break;
    answer.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return answer;
}

TEST(HttpServer, RecordsRequestsAndPlaysScripts) {
  struct Row {
    const char* name;
    std::string request;
    test_http::Script script;
    std::string want_target;
    std::string want_body;
    std::string want_answer;
  };
  const Row rows[] = {
      {.name = "content length body",
       .request = "POST /a?b HTTP/1.1\r\nHost: x\r\nContent-Length: 3\r\n\r\nxyz",
       .script = test_http::reply_ok("hi"),
       .want_target = "/a?b",
       .want_body = "xyz",
       .want_answer = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi"},
      {.name = "chunked body",
       .request = "PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2;x\r\nde\r\n0\r\n\r\n",
       .script = {test_http::send("raw"), test_http::close_now()},
       .want_target = "/",
       .want_body = "abcde",
       .want_answer = "raw"},
      {.name = "absolute form",
       .request = "GET http://h:1/p HTTP/1.1\r\n\r\n",
       .script = test_http::trickle("abcdef", 2, 5),
       .want_target = "http://h:1/p",
       .want_body = "",
       .want_answer = "abcdef"},
      {.name = "repeated bytes",
       .request = "GET / HTTP/1.1\r\n\r\n",
       .script = {test_http::send_repeated("ab", 5), test_http::close_now()},
       .want_target = "/",
       .want_body = "",
       .want_answer = "ababa"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    test_http::HttpServer server([&](const test_http::Request&) { return row.script; });
    ASSERT_TRUE(server.is_listening());
    EXPECT_EQ(exchange(server.port(), row.request), row.want_answer);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].raw, row.request);
    EXPECT_EQ(requests[0].target, row.want_target);
    EXPECT_EQ(requests[0].body, row.want_body);
  }
}

TEST(HttpServer, ProxyAsksForCredentials) {
  test_http::HttpServer server(test_http::proxy_requiring(
      "u", "p", [](const test_http::Request&) { return test_http::reply_ok("in"); }));
  EXPECT_EQ(test_http::basic_credentials("u", "p"), "Basic dTpw");
  EXPECT_NE(exchange(server.port(), "GET http://a/ HTTP/1.1\r\n\r\n").find("407"), std::string::npos);
  EXPECT_NE(exchange(server.port(), "GET http://a/ HTTP/1.1\r\nProxy-Authorization: Basic dTpw\r\n\r\n")
                .find("\r\n\r\nin"),
            std::string::npos);
}

}  // namespace
