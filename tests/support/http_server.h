#pragma once

// A real HTTP/1.1 server on 127.0.0.1 for the tests, on a port the system picks. Each request
// that arrives is recorded exactly as it came off the wire and handed to the test's handler,
// which answers with a script of actions: raw bytes (well-formed or not), pauses, bytes in small
// pieces, an early close, silence. It also stands in for a forward proxy: a request in absolute
// form ("GET http://host:port/path HTTP/1.1") or a CONNECT is recorded and answered like any
// other, so the handler decides what a proxy would say (407, or the page itself).
//
// Every connection runs on its own thread; every wait is a poll of at most 50 ms that also
// watches for shutdown, so the destructor always joins promptly.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace test_http {

struct Request {
  std::string raw;           // request line, headers and body as they arrived
  std::string request_line;  // without its CR LF
  std::string method;
  std::string target;        // origin form "/p?q", absolute form, or "host:port" for CONNECT
  std::string head;          // header lines after the request line, each with its CR LF
  std::string body;          // per Content-Length or de-chunked
  std::size_t connection = 0;  // 0-based index of the connection it came on
  std::size_t index_on_connection = 0;

  // The value of the first header with this name (case-insensitive), or "" when absent.
  [[nodiscard]] std::string header(std::string_view name) const;
  [[nodiscard]] bool has_header(std::string_view name) const;
  // The header names in the order they were sent.
  [[nodiscard]] std::vector<std::string> header_names() const;
};

struct Action {
  enum class Kind {
    Send,          // write bytes
    SendRepeated,  // write repeat_count bytes cycling through bytes, generated as it goes
    Sleep,         // pause for ms
    Close,         // close the connection now
    Silent,        // say nothing more and keep the connection open until the peer leaves
  };
  Kind kind = Kind::Send;
  std::string bytes;
  std::uint64_t repeat_count = 0;
  int ms = 0;
};
using Script = std::vector<Action>;

// When the script ends without Close or Silent, the connection waits for the next request.
using Handler = std::function<Script(const Request&)>;

[[nodiscard]] Action send(std::string bytes);
[[nodiscard]] Action send_repeated(std::string pattern, std::uint64_t byte_count);
[[nodiscard]] Action sleep_ms(int ms);
[[nodiscard]] Action close_now();
[[nodiscard]] Action stay_silent();

// A complete answer: status line (without CR LF), header lines (each ended by CR LF) and a
// body; a Content-Length header is added unless headers already hold one or say chunked.
[[nodiscard]] Script reply(std::string_view status_line, std::string_view headers,
                           std::string_view body);
// "200 OK" with the body.
[[nodiscard]] Script reply_ok(std::string_view body);
// The bytes split into pieces of piece_size with a pause of delay_ms before each but the first.
[[nodiscard]] Script trickle(std::string_view bytes, std::size_t piece_size, int delay_ms);
// "Basic " and the base64 of user:password, as an Authorization header carries it.
[[nodiscard]] std::string basic_credentials(std::string_view user, std::string_view password);
// A proxy that wants Basic credentials: 407 with Proxy-Authenticate unless the request carries
// them, else what inner answers.
[[nodiscard]] Handler proxy_requiring(std::string user, std::string password, Handler inner);

// A port on 127.0.0.1 that nothing listens on (just released by the system), for refusals.
[[nodiscard]] std::uint16_t unused_port();

class HttpServer {
 public:
  // greeting, when given, is played on each connection as soon as it is accepted, before any
  // request is read (a server that answers a TLS hello with plain text, say).
  explicit HttpServer(Handler handler, Script greeting = {});
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  [[nodiscard]] bool is_listening() const { return listen_fd_ >= 0; }
  [[nodiscard]] std::uint16_t port() const { return port_; }
  // "127.0.0.1:port".
  [[nodiscard]] std::string address() const;
  // "http://127.0.0.1:port" followed by path.
  [[nodiscard]] std::string url(std::string_view path = "/") const;

  [[nodiscard]] std::vector<Request> requests() const;
  [[nodiscard]] std::size_t connection_count() const;

 private:
  void accept_loop();
  void serve(int fd, std::size_t connection_index);
  void record(const Request& request);

  Handler handler_;
  Script greeting_;
  int listen_fd_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stopping_{false};
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::vector<std::thread> connection_threads_;
  std::size_t connection_count_ = 0;
  std::thread accept_thread_;
};

}  // namespace test_http
