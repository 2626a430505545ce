#include "platform/winhttp/winhttp.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/codepage/codepage.h"
#include "platform/winhttp/wide_text.h"
#include "platform/winhttp/winhttp_trace.h"

namespace {

using namespace winhttp_detail;
using Clock = std::chrono::steady_clock;

thread_local WinHttpTraceHook trace_hook = nullptr;

void trace(const std::string& line) {
  if (trace_hook != nullptr) trace_hook(line);
}

struct CurlEasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct CurlMultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct CurlShareDeleter {
  void operator()(CURLSH* share) const { curl_share_cleanup(share); }
};
struct CurlSlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyDeleter>;
using CurlMulti = std::unique_ptr<CURLM, CurlMultiDeleter>;
using CurlShare = std::unique_ptr<CURLSH, CurlShareDeleter>;
using CurlSlist = std::unique_ptr<curl_slist, CurlSlistDeleter>;

void ensure_curl_initialised() {
  static const CURLcode init_result = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)init_result;
}

// ---- handles ----

enum class Kind { Session, Connection, Request };

struct Timeouts {
  int resolve_ms = 0;  // 0: no limit
  int connect_ms = 60000;
  int send_ms = 30000;
  int receive_ms = 30000;
};

struct HandleBase {
  explicit HandleBase(Kind k) : kind(k) {}
  virtual ~HandleBase() = default;
  HandleBase(const HandleBase&) = delete;
  HandleBase& operator=(const HandleBase&) = delete;
  Kind kind;
};

struct Session final : HandleBase {
  Session() : HandleBase(Kind::Session) {}
  DWORD access_type = WINHTTP_ACCESS_TYPE_NO_PROXY;
  std::string proxy_list;
  Timeouts timeouts;
  // The session's cookie jar, shared by its requests.
  CurlShare cookie_share;
};

struct Connection final : HandleBase {
  Connection() : HandleBase(Kind::Connection) {}
  std::shared_ptr<Session> session;
  std::string host;  // UTF-8
  INTERNET_PORT port = 0;
  Timeouts timeouts;
};

enum class Stage { Created, Sent, Received };

struct Header {
  std::string name;
  std::string line;  // name: value, in the ANSI code page
};

struct Request final : HandleBase {
  Request() : HandleBase(Kind::Request) {}
  ~Request() override {
    if (multi && easy && attached) curl_multi_remove_handle(multi.get(), easy.get());
    easy.reset();
    multi.reset();
  }

  std::shared_ptr<Connection> connection;
  std::string verb;
  std::string object;  // escaped, starts with "/"
  bool secure = false;
  Timeouts timeouts;
  std::string server_user, server_password, proxy_user, proxy_password;
  bool has_server_credentials = false;
  bool has_proxy_credentials = false;
  bool cookies_disabled = false;
  bool redirects_disabled = false;
  bool revocation_check = false;
  std::vector<Header> headers;

  Stage stage = Stage::Created;
  std::string body;
  std::size_t body_sent = 0;
  bool head_only = false;

  CurlSlist header_list;
  CurlMulti multi;
  CurlEasy easy;
  bool attached = false;

  bool connected = false;
  bool finished = false;
  CURLcode result = CURLE_OK;
  Clock::time_point last_activity;

  bool in_block = false;
  std::string block;          // header lines of the response being read
  std::string final_headers;  // those of the final response, with the empty line
  bool headers_final = false;

  std::string received;  // body bytes not yet read, from received_index on
  std::size_t received_index = 0;
  bool paused = false;

  [[nodiscard]] std::size_t unread() const { return received.size() - received_index; }
};

std::mutex registry_mutex;
std::unordered_map<HINTERNET, std::shared_ptr<HandleBase>>& registry() {
  static std::unordered_map<HINTERNET, std::shared_ptr<HandleBase>> handles;
  return handles;
}

HINTERNET register_handle(std::shared_ptr<HandleBase> handle) {
  HINTERNET key = handle.get();
  const std::lock_guard lock(registry_mutex);
  registry().emplace(key, std::move(handle));
  return key;
}

template <typename T>
std::shared_ptr<T> find_handle(HINTERNET h, Kind kind) {
  std::shared_ptr<HandleBase> found;
  {
    const std::lock_guard lock(registry_mutex);
    const auto it = registry().find(h);
    if (it != registry().end()) found = it->second;
  }
  if (!found) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if (found->kind != kind) {
    SetLastError(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
    return nullptr;
  }
  return std::static_pointer_cast<T>(found);
}

// ---- URL parts ----

std::string escape_object_name(LPCWSTR object) {
  const std::string utf8 = narrow(CP_UTF8, object);
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(utf8.size() + 1);
  if (utf8.empty() || utf8.front() != '/') out += '/';
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F) {
      out += '%';
      out += hex[byte >> 4];
      out += hex[byte & 0x0F];
    } else {
      out += c;
    }
  }
  return out;
}

// The proxy for a scheme from a WinHTTP proxy list, as "http://host:port", or "" for none.
std::string pick_proxy(std::string_view list, std::string_view scheme) {
  std::string general;
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t end = std::min(list.find_first_of("; \t", at), list.size());
    std::string_view entry = list.substr(at, end - at);
    at = end + 1;
    if (entry.empty()) continue;
    std::string_view entry_scheme;
    if (const std::size_t eq = entry.find('='); eq != std::string_view::npos) {
      entry_scheme = entry.substr(0, eq);
      entry.remove_prefix(eq + 1);
    }
    if (const std::size_t sep = entry.find("://"); sep != std::string_view::npos) {
      entry.remove_prefix(sep + 3);
    }
    if (entry.empty()) continue;
    std::string server(entry);
    if (server.find(':') == std::string::npos) server += ":80";
    if (entry_scheme.empty()) {
      if (general.empty()) general = "http://" + server;
    } else if (equal_folded(entry_scheme, scheme)) {
      return "http://" + server;
    }
  }
  return general;
}

// ---- the transfer ----

DWORD error_for(CURLcode code) {
  switch (code) {
    case CURLE_OK:
      return ERROR_SUCCESS;
    case CURLE_OPERATION_TIMEDOUT:
      return ERROR_WINHTTP_TIMEOUT;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return ERROR_WINHTTP_NAME_NOT_RESOLVED;
    case CURLE_COULDNT_CONNECT:
      return ERROR_WINHTTP_CANNOT_CONNECT;
    case CURLE_URL_MALFORMAT:
      return ERROR_WINHTTP_INVALID_URL;
    case CURLE_UNSUPPORTED_PROTOCOL:
      return ERROR_WINHTTP_UNRECOGNIZED_SCHEME;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return ERROR_WINHTTP_SECURE_FAILURE;
    case CURLE_TOO_MANY_REDIRECTS:
      return ERROR_WINHTTP_REDIRECT_FAILED;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY:
      return ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
    case CURLE_OUT_OF_MEMORY:
      return ERROR_NOT_ENOUGH_MEMORY;
    default:
      return ERROR_WINHTTP_CONNECTION_ERROR;
  }
}

int status_code_of(std::string_view status_line) {
  // "HTTP/1.1 200 OK": the three digits after the first blank.
  const std::size_t blank = status_line.find(' ');
  if (blank == std::string_view::npos || status_line.size() < blank + 4) return 0;
  int code = 0;
  for (std::size_t i = blank + 1; i < blank + 4; ++i) {
    const char c = status_line[i];
    if (c < '0' || c > '9') return 0;
    code = code * 10 + (c - '0');
  }
  return code;
}

// Whether libcurl goes on to another response after this header block.
bool another_response_follows(const Request& r, std::string_view block) {
  const std::string_view status_line = block.substr(0, block.find("\r\n"));
  const int code = status_code_of(status_line);
  if (code >= 100 && code < 200) return true;
  // Past the redirect limit libcurl ends the transfer, and the receive fails.
  if (r.redirects_disabled || code < 300 || code >= 400 || code == 304) return false;
  std::string_view rest = block;
  while (!rest.empty()) {
    const std::size_t end = rest.find("\r\n");
    const std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 2);
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos && equal_folded(line.substr(0, colon), "location")) {
      return true;
    }
  }
  return false;
}

std::size_t on_header(char* data, std::size_t size, std::size_t count, void* user) {
  auto& r = *static_cast<Request*>(user);
  const std::size_t byte_count = size * count;
  r.last_activity = Clock::now();
  if (r.headers_final) return byte_count;  // trailers of a chunked body
  std::string_view line(data, byte_count);
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  if (!r.in_block) {
    r.block.clear();
    r.in_block = true;
  }
  if (!line.empty()) {
    r.block += line;
    r.block += "\r\n";
    return byte_count;
  }
  r.in_block = false;
  if (another_response_follows(r, r.block)) return byte_count;
  r.final_headers = r.block + "\r\n";
  r.headers_final = true;
  return byte_count;
}

// Body bytes wait here until read; beyond this the transfer pauses, so a large body never
// piles up in memory faster than the caller reads it.
constexpr std::size_t receive_buffer_cap = 1 << 20;

std::size_t on_write(char* data, std::size_t size, std::size_t count, void* user) {
  auto& r = *static_cast<Request*>(user);
  const std::size_t byte_count = size * count;
  r.last_activity = Clock::now();
  if (r.head_only) return byte_count;
  if (r.unread() >= receive_buffer_cap) {
    r.paused = true;
    return CURL_WRITEFUNC_PAUSE;
  }
  if (r.received_index == r.received.size()) {
    r.received.clear();
    r.received_index = 0;
  } else if (r.received_index > r.received.size() / 2) {
    r.received.erase(0, r.received_index);
    r.received_index = 0;
  }
  r.received.append(data, byte_count);
  return byte_count;
}

std::size_t on_read(char* buffer, std::size_t size, std::size_t count, void* user) {
  auto& r = *static_cast<Request*>(user);
  const std::size_t n = std::min(size * count, r.body.size() - r.body_sent);
  std::memcpy(buffer, r.body.data() + r.body_sent, n);
  r.body_sent += n;
  r.last_activity = Clock::now();
  return n;
}

// A followed redirect that keeps the body sends it again from the start.
int on_seek(void* user, curl_off_t offset, int origin) {
  auto& r = *static_cast<Request*>(user);
  if (origin != SEEK_SET || offset < 0 || static_cast<std::size_t>(offset) > r.body.size()) {
    return CURL_SEEKFUNC_CANTSEEK;
  }
  r.body_sent = static_cast<std::size_t>(offset);
  return CURL_SEEKFUNC_OK;
}

int on_connected(void* user, char*, char*, int, int) {
  auto& r = *static_cast<Request*>(user);
  r.connected = true;
  r.last_activity = Clock::now();
  return CURL_PREREQFUNC_OK;
}

void stop_transfer(Request& r, CURLcode code) {
  if (r.attached) curl_multi_remove_handle(r.multi.get(), r.easy.get());
  r.attached = false;
  r.finished = true;
  r.result = code;
}

// Drives the transfer until done() holds or the transfer ends. idle_limit_ms bounds the time
// without any activity (0: none); exceeding it ends the transfer as timed out.
template <typename Done>
void drive(Request& r, int idle_limit_ms, Done done) {
  while (!done() && !r.finished) {
    int running = 0;
    curl_multi_perform(r.multi.get(), &running);
    int queued = 0;
    while (CURLMsg* message = curl_multi_info_read(r.multi.get(), &queued)) {
      if (message->msg == CURLMSG_DONE) stop_transfer(r, message->data.result);
    }
    if (done() || r.finished) return;
    int wait_ms = 100;
    if (idle_limit_ms > 0) {
      const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(
                            Clock::now() - r.last_activity)
                            .count();
      if (idle >= idle_limit_ms) {
        stop_transfer(r, CURLE_OPERATION_TIMEDOUT);
        return;
      }
      wait_ms = static_cast<int>(std::min<long long>(wait_ms, idle_limit_ms - idle));
    }
    curl_multi_poll(r.multi.get(), nullptr, 0, wait_ms, nullptr);
  }
}

bool has_header(const Request& r, std::string_view name) {
  return std::any_of(r.headers.begin(), r.headers.end(),
                     [&](const Header& h) { return equal_folded(h.name, name); });
}

bool setup_transfer(Request& r) {
  const Connection& connection = *r.connection;
  const Session& session = *connection.session;
  for (const char c : connection.host) {
    if (is_blank_or_control(static_cast<unsigned char>(c)) || c == '/' || c == '?' || c == '#' ||
        c == '@' || c == '\\') {
      return fail(ERROR_WINHTTP_INVALID_URL);
    }
  }
  const char* scheme = r.secure ? "https" : "http";
  INTERNET_PORT port = connection.port;
  if (port == INTERNET_DEFAULT_PORT) port = r.secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT;
  const bool literal_v6 = connection.host.find(':') != std::string::npos;
  std::string url = std::string(scheme) + "://" + (literal_v6 ? "[" : "") + connection.host +
                    (literal_v6 ? "]" : "") + ":" + std::to_string(port);
  url += r.object.substr(0, r.object.find('#'));

  std::string proxy;
  if (session.access_type == WINHTTP_ACCESS_TYPE_NAMED_PROXY) proxy = pick_proxy(session.proxy_list, scheme);

  r.multi.reset(curl_multi_init());
  r.easy.reset(curl_easy_init());
  if (!r.multi || !r.easy) return fail(ERROR_NOT_ENOUGH_MEMORY);
  CURL* e = r.easy.get();

  CurlSlist list;
  auto append = [&list](const std::string& line) {
    curl_slist* grown = curl_slist_append(list.get(), line.c_str());
    if (grown != nullptr) {
      (void)list.release();
      list.reset(grown);
    }
  };
  for (const Header& h : r.headers) append(h.line);
  // libcurl's own defaults, which the caller did not ask for.
  if (!has_header(r, "Accept")) append("Accept:");
  if (!has_header(r, "Content-Type")) append("Content-Type:");
  if (!has_header(r, "Expect")) append("Expect:");
  if (!has_header(r, "Proxy-Connection")) append("Proxy-Connection:");
  r.header_list = std::move(list);

  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, r.redirects_disabled ? 0L : 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, 10L);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.header_list.get());
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, 256L * 1024L);
  // An empty proxy also keeps libcurl from taking one from the environment.
  curl_easy_setopt(e, CURLOPT_PROXY, proxy.c_str());
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);

  const int resolve_ms = r.timeouts.resolve_ms;
  const int connect_ms = r.timeouts.connect_ms;
  // libcurl's connect time-out covers the name look-up too.
  if (connect_ms > 0) {
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(std::max(resolve_ms, connect_ms)));
  }

  if (r.has_server_credentials) {
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(e, CURLOPT_USERNAME, r.server_user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, r.server_password.c_str());
  }
  if (r.has_proxy_credentials) {
    curl_easy_setopt(e, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    curl_easy_setopt(e, CURLOPT_PROXYUSERNAME, r.proxy_user.c_str());
    curl_easy_setopt(e, CURLOPT_PROXYPASSWORD, r.proxy_password.c_str());
  }
  if (!r.cookies_disabled) {
    curl_easy_setopt(e, CURLOPT_SHARE, session.cookie_share.get());
    curl_easy_setopt(e, CURLOPT_COOKIEFILE, "");
  }

  const bool is_post = r.verb == "POST";
  if (is_post || !r.body.empty()) {
    curl_easy_setopt(e, CURLOPT_POST, 1L);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(r.body.size()));
    curl_easy_setopt(e, CURLOPT_READFUNCTION, on_read);
    curl_easy_setopt(e, CURLOPT_READDATA, &r);
    curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, on_seek);
    curl_easy_setopt(e, CURLOPT_SEEKDATA, &r);
    if (!is_post) curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
  } else if (r.verb == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else if (r.verb != "GET") {
    curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, r.verb.c_str());
  }
  // A HEAD answer has no body whatever its headers say.
  r.head_only = r.verb == "HEAD";

  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, on_header);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, &r);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, on_write);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, &r);
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, on_connected);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, &r);

  if (curl_multi_add_handle(r.multi.get(), e) != CURLM_OK) return fail(ERROR_WINHTTP_INTERNAL_ERROR);
  r.attached = true;
  return TRUE;
}

// Parses header lines; false when one of them is not a header.
bool parse_header_lines(std::string_view text, std::vector<Header>& out) {
  while (!text.empty()) {
    const std::size_t end = std::min(text.find_first_of("\r\n"), text.size());
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.empty()) continue;
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) return false;
    const std::string_view name = line.substr(0, colon);
    for (const char c : name) {
      if (is_blank_or_control(static_cast<unsigned char>(c))) return false;
    }
    out.push_back({std::string(name), std::string(line)});
  }
  return true;
}

std::string_view header_value(const Header& h) {
  std::string_view value = std::string_view(h.line).substr(h.name.size() + 1);
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
  return value;
}

void merge_header(std::vector<Header>& headers, Header h, DWORD modifiers) {
  const bool empty_value = header_value(h).empty();
  // libcurl reads "Name:" as "leave this header out" and "Name;" as an empty header.
  if (empty_value) h.line = h.name + ";";
  const auto same = std::find_if(headers.begin(), headers.end(),
                                 [&](const Header& old) { return equal_folded(old.name, h.name); });
  if ((modifiers & WINHTTP_ADDREQ_FLAG_REPLACE) != 0 && same != headers.end()) {
    if (empty_value) {
      headers.erase(same);
    } else {
      *same = std::move(h);
    }
    return;
  }
  if ((modifiers & WINHTTP_ADDREQ_FLAG_REPLACE) != 0 && empty_value) return;
  headers.push_back(std::move(h));
}

bool add_headers(Request& r, LPCWSTR headers, DWORD length, DWORD modifiers) {
  if (headers == nullptr) return fail(ERROR_INVALID_PARAMETER);
  const std::size_t n = length == 0xFFFFFFFF ? wide_length(headers) : length;
  std::vector<Header> parsed;
  if (!parse_header_lines(narrow(CP_ACP, headers, n), parsed)) return fail(ERROR_INVALID_PARAMETER);
  for (Header& h : parsed) merge_header(r.headers, std::move(h), modifiers);
  return TRUE;
}

}  // namespace

void set_winhttp_trace_hook(WinHttpTraceHook hook) { trace_hook = hook; }

BOOL WinHttpCheckPlatform() { return TRUE; }

HINTERNET WinHttpOpen(LPCWSTR pszAgentW, DWORD dwAccessType, LPCWSTR pszProxyW,
                      LPCWSTR pszProxyBypassW, DWORD dwFlags) {
  (void)pszAgentW;
  (void)pszProxyBypassW;
  ensure_curl_initialised();
  const std::string proxy = narrow(CP_UTF8, pszProxyW);
  trace("WinHttpOpen " + std::to_string(dwAccessType) + " " + proxy);
  const bool known_type = dwAccessType == WINHTTP_ACCESS_TYPE_DEFAULT_PROXY ||
                          dwAccessType == WINHTTP_ACCESS_TYPE_NO_PROXY ||
                          dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  if (!known_type || (dwFlags & WINHTTP_FLAG_ASYNC) != 0 ||
      (dwAccessType == WINHTTP_ACCESS_TYPE_NAMED_PROXY && proxy.empty())) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto session = std::make_shared<Session>();
  session->access_type = dwAccessType;
  session->proxy_list = proxy;
  session->cookie_share.reset(curl_share_init());
  if (!session->cookie_share) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  curl_share_setopt(session->cookie_share.get(), CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);
  return register_handle(std::move(session));
}

HINTERNET WinHttpConnect(HINTERNET hSession, LPCWSTR pswzServerName, INTERNET_PORT nServerPort,
                         DWORD dwReserved) {
  (void)dwReserved;
  auto session = find_handle<Session>(hSession, Kind::Session);
  if (!session) return nullptr;
  if (pswzServerName == nullptr || pswzServerName[0] == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto connection = std::make_shared<Connection>();
  connection->host = narrow(CP_UTF8, pswzServerName);
  connection->port = nServerPort;
  connection->timeouts = session->timeouts;
  connection->session = std::move(session);
  return register_handle(std::move(connection));
}

HINTERNET WinHttpOpenRequest(HINTERNET hConnect, LPCWSTR pwszVerb, LPCWSTR pwszObjectName,
                             LPCWSTR pwszVersion, LPCWSTR pwszReferrer,
                             LPCWSTR* ppwszAcceptTypes, DWORD dwFlags) {
  (void)pwszVersion;
  (void)pwszReferrer;
  (void)ppwszAcceptTypes;
  auto connection = find_handle<Connection>(hConnect, Kind::Connection);
  if (!connection) return nullptr;
  std::string verb = pwszVerb == nullptr || pwszVerb[0] == 0 ? "GET" : narrow(CP_UTF8, pwszVerb);
  for (const char c : verb) {
    if (is_blank_or_control(static_cast<unsigned char>(c))) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return nullptr;
    }
  }
  auto request = std::make_shared<Request>();
  request->verb = std::move(verb);
  request->object = pwszObjectName == nullptr ? "/" : escape_object_name(pwszObjectName);
  request->secure = (dwFlags & WINHTTP_FLAG_SECURE) != 0;
  request->timeouts = connection->timeouts;
  request->connection = std::move(connection);
  return register_handle(std::move(request));
}

BOOL WinHttpSetTimeouts(HINTERNET hInternet, int nResolveTimeout, int nConnectTimeout,
                        int nSendTimeout, int nReceiveTimeout) {
  trace("WinHttpSetTimeouts " + std::to_string(nResolveTimeout) + " " +
        std::to_string(nConnectTimeout) + " " + std::to_string(nSendTimeout) + " " +
        std::to_string(nReceiveTimeout));
  if (nResolveTimeout < -1 || nConnectTimeout < -1 || nSendTimeout < -1 || nReceiveTimeout < -1) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  auto limit = [](int ms) { return ms < 0 ? 0 : ms; };
  const Timeouts timeouts{limit(nResolveTimeout), limit(nConnectTimeout), limit(nSendTimeout),
                          limit(nReceiveTimeout)};
  std::shared_ptr<HandleBase> found;
  {
    const std::lock_guard lock(registry_mutex);
    const auto it = registry().find(hInternet);
    if (it != registry().end()) found = it->second;
  }
  if (!found) return fail(ERROR_INVALID_HANDLE);
  switch (found->kind) {
    case Kind::Session:
      std::static_pointer_cast<Session>(found)->timeouts = timeouts;
      return TRUE;
    case Kind::Request:
      std::static_pointer_cast<Request>(found)->timeouts = timeouts;
      return TRUE;
    case Kind::Connection:
      break;
  }
  return fail(ERROR_WINHTTP_INCORRECT_HANDLE_TYPE);
}

BOOL WinHttpSetCredentials(HINTERNET hRequest, DWORD AuthTargets, DWORD AuthScheme,
                           LPCWSTR pwszUserName, LPCWSTR pwszPassword, LPVOID pAuthParams) {
  (void)pAuthParams;
  auto r = find_handle<Request>(hRequest, Kind::Request);
  if (!r) return FALSE;
  if (r->stage != Stage::Created) return fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  if (AuthScheme != WINHTTP_AUTH_SCHEME_BASIC || pwszUserName == nullptr ||
      (AuthTargets != WINHTTP_AUTH_TARGET_SERVER && AuthTargets != WINHTTP_AUTH_TARGET_PROXY)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (AuthTargets == WINHTTP_AUTH_TARGET_SERVER) {
    r->server_user = narrow(CP_ACP, pwszUserName);
    r->server_password = narrow(CP_ACP, pwszPassword);
    r->has_server_credentials = true;
  } else {
    r->proxy_user = narrow(CP_ACP, pwszUserName);
    r->proxy_password = narrow(CP_ACP, pwszPassword);
    r->has_proxy_credentials = true;
  }
  return TRUE;
}

BOOL WinHttpSetOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength) {
  auto r = find_handle<Request>(hInternet, Kind::Request);
  if (!r) return FALSE;
  if (lpBuffer == nullptr || dwBufferLength != sizeof(DWORD)) return fail(ERROR_INVALID_PARAMETER);
  DWORD value = 0;
  std::memcpy(&value, lpBuffer, sizeof value);
  trace("WinHttpSetOption " + std::to_string(dwOption) + " " + std::to_string(value));
  if (r->stage != Stage::Created) return fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  if (dwOption == WINHTTP_OPTION_DISABLE_FEATURE) {
    if ((value & ~(WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_REDIRECTS)) != 0 || value == 0) {
      return fail(ERROR_INVALID_PARAMETER);
    }
    if ((value & WINHTTP_DISABLE_COOKIES) != 0) r->cookies_disabled = true;
    if ((value & WINHTTP_DISABLE_REDIRECTS) != 0) r->redirects_disabled = true;
    return TRUE;
  }
  if (dwOption == WINHTTP_OPTION_ENABLE_FEATURE) {
    if (value != WINHTTP_ENABLE_SSL_REVOCATION) return fail(ERROR_INVALID_PARAMETER);
    r->revocation_check = true;
    return TRUE;
  }
  return fail(ERROR_WINHTTP_INVALID_OPTION);
}

BOOL WinHttpAddRequestHeaders(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                              DWORD dwModifiers) {
  auto r = find_handle<Request>(hRequest, Kind::Request);
  if (!r) return FALSE;
  if (r->stage != Stage::Created) return fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  return add_headers(*r, lpszHeaders, dwHeadersLength, dwModifiers);
}

BOOL WinHttpSendRequest(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                        LPVOID lpOptional, DWORD dwOptionalLength, DWORD dwTotalLength,
                        DWORD_PTR dwContext) {
  (void)dwContext;
  auto r = find_handle<Request>(hRequest, Kind::Request);
  if (!r) return FALSE;
  if (r->stage != Stage::Created) return fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  if (dwTotalLength != dwOptionalLength || (lpOptional == nullptr && dwOptionalLength > 0)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  if (lpszHeaders != nullptr && dwHeadersLength != 0 &&
      !add_headers(*r, lpszHeaders, dwHeadersLength, WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
    return FALSE;
  }
  if (dwOptionalLength > 0) r->body.assign(static_cast<const char*>(lpOptional), dwOptionalLength);
  if (!setup_transfer(*r)) return FALSE;
  r->stage = Stage::Sent;
  r->last_activity = Clock::now();

  // Until connected, libcurl's connect time-out rules; then the send time-out counts from the
  // last bytes handed over.
  drive(*r, 0, [&] { return r->connected; });
  if (!r->connected) return fail(r->result == CURLE_OK ? ERROR_WINHTTP_CANNOT_CONNECT : error_for(r->result));
  drive(*r, r->timeouts.send_ms,
        [&] { return r->body_sent == r->body.size() || r->in_block || r->headers_final; });
  if (r->finished && r->result == CURLE_OPERATION_TIMEDOUT && !r->in_block && !r->headers_final) {
    return fail(ERROR_WINHTTP_TIMEOUT);
  }
  r->last_activity = Clock::now();
  return TRUE;
}

BOOL WinHttpReceiveResponse(HINTERNET hRequest, LPVOID lpReserved) {
  (void)lpReserved;
  auto r = find_handle<Request>(hRequest, Kind::Request);
  if (!r) return FALSE;
  if (r->stage == Stage::Received) return TRUE;
  if (r->stage != Stage::Sent) return fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  drive(*r, r->timeouts.receive_ms, [&] { return r->headers_final; });
  if (!r->headers_final) {
    return fail(r->result == CURLE_OK ? ERROR_WINHTTP_INVALID_SERVER_RESPONSE : error_for(r->result));
  }
  if (r->head_only && !r->finished) stop_transfer(*r, CURLE_OK);
  r->stage = Stage::Received;
  return TRUE;
}

BOOL WinHttpQueryDataAvailable(HINTERNET hRequest, LPDWORD lpdwNumberOfBytesAvailable) {
  auto r = find_handle<Request>(hRequest, Kind::Request);
  if (!r) return FALSE;
  if (r->stage != Stage::Received) return fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  if (lpdwNumberOfBytesAvailable == nullptr) return fail(ERROR_INVALID_PARAMETER);
  if (r->unread() == 0 && r->paused) {
    r->paused = false;
    curl_easy_pause(r->easy.get(), CURLPAUSE_CONT);
  }
  drive(*r, r->timeouts.receive_ms, [&] { return r->unread() > 0; });
  DWORD available = static_cast<DWORD>(std::min<std::size_t>(r->unread(), 0xFFFFFFFF));
  if (available == 0 && r->finished && r->result != CURLE_OK) available = 1;
  *lpdwNumberOfBytesAvailable = available;
  return TRUE;
}

BOOL WinHttpReadData(HINTERNET hRequest, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                     LPDWORD lpdwNumberOfBytesRead) {
  auto r = find_handle<Request>(hRequest, Kind::Request);
  if (!r) return FALSE;
  if (r->stage != Stage::Received) return fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  if (lpdwNumberOfBytesRead == nullptr || (lpBuffer == nullptr && dwNumberOfBytesToRead > 0)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  *lpdwNumberOfBytesRead = 0;
  if (dwNumberOfBytesToRead == 0) return TRUE;
  if (r->unread() == 0 && r->paused) {
    r->paused = false;
    curl_easy_pause(r->easy.get(), CURLPAUSE_CONT);
  }
  drive(*r, r->timeouts.receive_ms, [&] { return r->unread() > 0; });
  if (r->unread() == 0) {
    if (r->finished && r->result != CURLE_OK) return fail(error_for(r->result));
    return TRUE;
  }
  const std::size_t n = std::min<std::size_t>(dwNumberOfBytesToRead, r->unread());
  std::memcpy(lpBuffer, r->received.data() + r->received_index, n);
  r->received_index += n;
  *lpdwNumberOfBytesRead = static_cast<DWORD>(n);
  if (r->paused && r->unread() < receive_buffer_cap) {
    r->paused = false;
    curl_easy_pause(r->easy.get(), CURLPAUSE_CONT);
  }
  return TRUE;
}

BOOL WinHttpQueryHeaders(HINTERNET hRequest, DWORD dwInfoLevel, LPCWSTR pwszName, LPVOID lpBuffer,
                         LPDWORD lpdwBufferLength, LPDWORD lpdwIndex) {
  (void)pwszName;
  auto r = find_handle<Request>(hRequest, Kind::Request);
  if (!r) return FALSE;
  if (r->stage != Stage::Received) return fail(ERROR_WINHTTP_INCORRECT_HANDLE_STATE);
  if (lpdwBufferLength == nullptr) return fail(ERROR_INVALID_PARAMETER);
  if (dwInfoLevel != WINHTTP_QUERY_RAW_HEADERS_CRLF) return fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
  if (lpdwIndex != nullptr && *lpdwIndex != 0) return fail(ERROR_WINHTTP_HEADER_NOT_FOUND);
  const std::u16string wide = widen_ansi(r->final_headers);
  const std::size_t needed = (wide.size() + 1) * sizeof(WCHAR);
  if (lpBuffer == nullptr || *lpdwBufferLength < needed) {
    *lpdwBufferLength = static_cast<DWORD>(needed);
    return fail(ERROR_INSUFFICIENT_BUFFER);
  }
  std::memcpy(lpBuffer, wide.c_str(), needed);
  *lpdwBufferLength = static_cast<DWORD>(needed - sizeof(WCHAR));
  if (lpdwIndex != nullptr) *lpdwIndex = 1;
  return TRUE;
}

BOOL WinHttpCloseHandle(HINTERNET hInternet) {
  std::shared_ptr<HandleBase> closing;
  {
    const std::lock_guard lock(registry_mutex);
    const auto it = registry().find(hInternet);
    if (it == registry().end()) return fail(ERROR_INVALID_HANDLE);
    closing = std::move(it->second);
    registry().erase(it);
  }
  return TRUE;
}
