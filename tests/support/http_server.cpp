#include "tests/support/http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <chrono>

namespace test_http {

namespace {

constexpr int poll_slice_ms = 50;
// A request head larger than this is not from any client under test; the connection closes.
constexpr std::size_t max_head_bytes = 1 << 20;

char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equal_folded(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Calls f(name, value) for each header line of head.
template <typename F>
void for_each_header(std::string_view head, F f) {
  while (!head.empty()) {
    const std::size_t end = head.find("\r\n");
    const std::string_view line = head.substr(0, end);
    head = end == std::string_view::npos ? std::string_view{} : head.substr(end + 2);
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    if (!f(line.substr(0, colon), trim(line.substr(colon + 1)))) return;
  }
}

bool parse_size(std::string_view digits, int base, std::uint64_t& out) {
  digits = trim(digits);
  if (digits.empty()) return false;
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), out, base);
  return result.ec == std::errc{} && result.ptr == digits.data() + digits.size();
}

// Reads from a socket with bounded waits; gives up when the server stops or the peer leaves.
class Reader {
 public:
  Reader(int fd, const std::atomic<bool>& stopping) : fd_(fd), stopping_(stopping) {}

  // Makes sure at least want bytes are buffered.
  bool fill(std::size_t want) {
    while (buffer_.size() < want) {
      if (!read_some()) return false;
    }
    return true;
  }

  // Reads until the buffer holds needle; its index (from the start of the buffer) or npos.
  std::size_t find(std::string_view needle, std::size_t limit) {
    std::size_t from = 0;
    for (;;) {
      const std::size_t at = buffer_.find(needle, from);
      if (at != std::string::npos) return at;
      if (buffer_.size() > limit) return std::string::npos;
      from = buffer_.size() >= needle.size() ? buffer_.size() - needle.size() + 1 : 0;
      if (!read_some()) return std::string::npos;
    }
  }

  std::string take(std::size_t count) {
    std::string out = buffer_.substr(0, count);
    buffer_.erase(0, count);
    return out;
  }

  // Waits until the peer closes (or the server stops), throwing away what arrives.
  void drain_until_closed() {
    while (read_some()) buffer_.clear();
  }

 private:
  bool read_some() {
    while (!stopping_.load()) {
      pollfd p{.fd = fd_, .events = POLLIN, .revents = 0};
      const int ready = ::poll(&p, 1, poll_slice_ms);
      if (ready < 0 && errno != EINTR) return false;
      if (ready <= 0) continue;
      char chunk[16384];
      const ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      buffer_.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
    return false;
  }

  int fd_;
  const std::atomic<bool>& stopping_;
  std::string buffer_;
};

// Reads one request; false when the connection ended first.
bool read_request(Reader& reader, Request& request) {
  const std::size_t head_end = reader.find("\r\n\r\n", max_head_bytes);
  if (head_end == std::string::npos) return false;
  std::string head = reader.take(head_end + 4);
  request.raw = head;
  const std::size_t line_end = head.find("\r\n");
  request.request_line = head.substr(0, line_end);
  request.head = head.substr(line_end + 2, head.size() - line_end - 4);
  const std::size_t first_space = request.request_line.find(' ');
  request.method = request.request_line.substr(0, first_space);
  if (first_space != std::string::npos) {
    const std::size_t second_space = request.request_line.find(' ', first_space + 1);
    request.target = request.request_line.substr(first_space + 1, second_space - first_space - 1);
  }

  std::uint64_t content_length = 0;
  bool chunked = false;
  for_each_header(request.head, [&](std::string_view name, std::string_view value) {
    if (equal_folded(name, "content-length")) parse_size(value, 10, content_length);
    if (equal_folded(name, "transfer-encoding") && equal_folded(value, "chunked")) chunked = true;
    return true;
  });

  if (!chunked) {
    if (!reader.fill(content_length)) return false;
    request.body = reader.take(content_length);
    request.raw += request.body;
    return true;
  }
  for (;;) {
    const std::size_t size_end = reader.find("\r\n", max_head_bytes);
    if (size_end == std::string::npos) return false;
    std::string size_line = reader.take(size_end + 2);
    request.raw += size_line;
    std::uint64_t chunk_size = 0;
    const std::string_view digits = std::string_view(size_line).substr(0, size_line.find_first_of(";\r"));
    if (!parse_size(digits, 16, chunk_size)) return false;
    if (chunk_size == 0) {
      // Trailers, if any, end with an empty line.
      const std::size_t trailer_end = reader.find("\r\n", max_head_bytes);
      if (trailer_end == std::string::npos) return false;
      request.raw += reader.take(trailer_end + 2);
      return true;
    }
    if (!reader.fill(chunk_size + 2)) return false;
    std::string data = reader.take(chunk_size + 2);
    request.raw += data;
    request.body += data.substr(0, chunk_size);
  }
}

bool write_all(int fd, std::string_view bytes, const std::atomic<bool>& stopping) {
  while (!bytes.empty()) {
    if (stopping.load()) return false;
    pollfd p{.fd = fd, .events = POLLOUT, .revents = 0};
    const int ready = ::poll(&p, 1, poll_slice_ms);
    if (ready < 0 && errno != EINTR) return false;
    if (ready <= 0) continue;
    const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool write_repeated(int fd, std::string_view pattern, std::uint64_t byte_count,
                    const std::atomic<bool>& stopping) {
  if (pattern.empty()) return true;
  std::string block;
  constexpr std::size_t block_bytes = 256 * 1024;
  while (block.size() < block_bytes + pattern.size()) block += pattern;
  std::size_t phase = 0;  // where in the pattern the next byte lies
  while (byte_count > 0) {
    const std::size_t n = byte_count < block_bytes ? static_cast<std::size_t>(byte_count) : block_bytes;
    if (!write_all(fd, std::string_view(block).substr(phase, n), stopping)) return false;
    phase = (phase + n) % pattern.size();
    byte_count -= n;
  }
  return true;
}

void pause_for(int ms, const std::atomic<bool>& stopping) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!stopping.load() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms < 10 ? ms : 10));
  }
}

constexpr char base64_alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(std::string_view in) {
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                       (static_cast<unsigned char>(in[i + 1]) << 8) |
                       static_cast<unsigned char>(in[i + 2]);
    for (int shift = 18; shift >= 0; shift -= 6) out += base64_alphabet[(v >> shift) & 63];
  }
  if (i + 1 == in.size()) {
    const unsigned v = static_cast<unsigned char>(in[i]) << 16;
    out += base64_alphabet[(v >> 18) & 63];
    out += base64_alphabet[(v >> 12) & 63];
    out += "==";
  } else if (i + 2 == in.size()) {
    const unsigned v = (static_cast<unsigned char>(in[i]) << 16) |
                       (static_cast<unsigned char>(in[i + 1]) << 8);
    out += base64_alphabet[(v >> 18) & 63];
    out += base64_alphabet[(v >> 12) & 63];
    out += base64_alphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

}  // namespace

std::string Request::header(std::string_view name) const {
  std::string found;
  for_each_header(head, [&](std::string_view n, std::string_view value) {
    if (!equal_folded(n, name)) return true;
    found = value;
    return false;
  });
  return found;
}

bool Request::has_header(std::string_view name) const {
  bool found = false;
  for_each_header(head, [&](std::string_view n, std::string_view) {
    found = equal_folded(n, name);
    return !found;
  });
  return found;
}

std::vector<std::string> Request::header_names() const {
  std::vector<std::string> names;
  for_each_header(head, [&](std::string_view n, std::string_view) {
    names.emplace_back(n);
    return true;
  });
  return names;
}

Action send(std::string bytes) { return {Action::Kind::Send, std::move(bytes), 0, 0}; }

Action send_repeated(std::string pattern, std::uint64_t byte_count) {
  return {Action::Kind::SendRepeated, std::move(pattern), byte_count, 0};
}

Action sleep_ms(int ms) { return {Action::Kind::Sleep, {}, 0, ms}; }
Action close_now() { return {Action::Kind::Close, {}, 0, 0}; }
Action stay_silent() { return {Action::Kind::Silent, {}, 0, 0}; }

Script reply(std::string_view status_line, std::string_view headers, std::string_view body) {
  std::string head = "HTTP/1.1 ";
  head += status_line;
  head += "\r\n";
  head += headers;
  bool has_length = false;
  for_each_header(headers, [&](std::string_view name, std::string_view value) {
    has_length = equal_folded(name, "content-length") ||
                 (equal_folded(name, "transfer-encoding") && equal_folded(value, "chunked"));
    return !has_length;
  });
  if (!has_length) head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  head += "\r\n";
  head += body;
  return {send(std::move(head))};
}

Script reply_ok(std::string_view body) { return reply("200 OK", "", body); }

Script trickle(std::string_view bytes, std::size_t piece_size, int delay_ms) {
  Script script;
  if (piece_size == 0) piece_size = 1;
  for (std::size_t at = 0; at < bytes.size(); at += piece_size) {
    if (at > 0) script.push_back(sleep_ms(delay_ms));
    script.push_back(send(std::string(bytes.substr(at, piece_size))));
  }
  return script;
}

std::string basic_credentials(std::string_view user, std::string_view password) {
  std::string pair(user);
  pair += ':';
  pair += password;
  return "Basic " + base64(pair);
}

Handler proxy_requiring(std::string user, std::string password, Handler inner) {
  return [want = basic_credentials(user, password), inner = std::move(inner)](const Request& r) {
    if (r.header("Proxy-Authorization") != want) {
      return reply("407 Proxy Authentication Required",
                   "Proxy-Authenticate: Basic realm=\"test\"\r\n", "");
    }
    return inner(r);
  };
}

std::uint16_t unused_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof addr;
  std::uint16_t port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) == 0) {
    port = ntohs(addr.sin_port);
  }
  ::close(fd);
  return port;
}

HttpServer::HttpServer(Handler handler, Script greeting)
    : handler_(std::move(handler)), greeting_(std::move(greeting)) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = 0;
  socklen_t size = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 64) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
    ::close(fd);
    return;
  }
  listen_fd_ = fd;
  port_ = ntohs(addr.sin_port);
  accept_thread_ = std::thread([this] { accept_loop(); });
}

HttpServer::~HttpServer() {
  stopping_.store(true);
  if (accept_thread_.joinable()) accept_thread_.join();
  // The accept loop has ended, so no thread is added any more.
  for (std::thread& t : connection_threads_) t.join();
  if (listen_fd_ >= 0) ::close(listen_fd_);
}

std::string HttpServer::address() const { return "127.0.0.1:" + std::to_string(port_); }

std::string HttpServer::url(std::string_view path) const {
  return "http://" + address() + std::string(path);
}

std::vector<Request> HttpServer::requests() const {
  const std::lock_guard lock(mutex_);
  return requests_;
}

std::size_t HttpServer::connection_count() const {
  const std::lock_guard lock(mutex_);
  return connection_count_;
}

void HttpServer::record(const Request& request) {
  const std::lock_guard lock(mutex_);
  requests_.push_back(request);
}

void HttpServer::accept_loop() {
  while (!stopping_.load()) {
    pollfd p{.fd = listen_fd_, .events = POLLIN, .revents = 0};
    if (::poll(&p, 1, poll_slice_ms) <= 0) continue;
    const int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    const std::lock_guard lock(mutex_);
    const std::size_t index = connection_count_++;
    connection_threads_.emplace_back([this, fd, index] { serve(fd, index); });
  }
}

namespace {

// Plays a script; false once the connection is to end.
bool play(const Script& script, int fd, Reader& reader, const std::atomic<bool>& stopping) {
  for (const Action& action : script) {
    switch (action.kind) {
      case Action::Kind::Send:
        if (!write_all(fd, action.bytes, stopping)) return false;
        break;
      case Action::Kind::SendRepeated:
        if (!write_repeated(fd, action.bytes, action.repeat_count, stopping)) return false;
        break;
      case Action::Kind::Sleep:
        pause_for(action.ms, stopping);
        break;
      case Action::Kind::Close:
        return false;
      case Action::Kind::Silent:
        reader.drain_until_closed();
        return false;
    }
  }
  return true;
}

}  // namespace

void HttpServer::serve(int fd, std::size_t connection_index) {
  Reader reader(fd, stopping_);
  bool open = play(greeting_, fd, reader, stopping_);
  for (std::size_t index = 0; open && !stopping_.load(); ++index) {
    Request request;
    if (!read_request(reader, request)) break;
    request.connection = connection_index;
    request.index_on_connection = index;
    record(request);
    open = play(handler_(request), fd, reader, stopping_);
  }
  ::close(fd);
}

}  // namespace test_http
