#include "net/web_request.h"

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

#include "net/page_charset.h"
#include "net/response_headers.h"
#include "net/utf16.h"
#include "platform/gui/pending_events.h"
#include "platform/winhttp/winhttp.h"

namespace {

// The numbers are part of the messages callers see; none is renumbered or reused.
enum class RequestStatus {
  PlatformUnsupported = 700,  // WinHttpCheckPlatform returned false
  UrlNotParsed = 701,         // WinHttpCrackUrl failed
  SessionNotCreated = 702,    // WinHttpOpen gave no handle
  ConnectionNotCreated = 703, // WinHttpConnect gave no handle
  RequestNotCreated = 704,    // WinHttpOpenRequest gave no handle
  TimeoutsNotSet = 705,       // WinHttpSetTimeouts failed
  CredentialsNotSet = 707,    // a WinHttpSetCredentials call failed
  CookieOptionNotSet = 708,   // the feature option could not be set
  RedirectOptionNotSet = 709, // the redirect option could not be set
  HeadersNotAdded = 710,      // WinHttpAddRequestHeaders failed
  SendFailed = 711,           // WinHttpSendRequest failed
  NoResponse = 712,           // WinHttpReceiveResponse failed
  ReadFailed = 713,           // WinHttpReadData failed while the body was read
};

Text status_message(RequestStatus status) {
  switch (status) {
    case RequestStatus::PlatformUnsupported:
      // "this system does not support the WinHttp service!"
      return "700 \xB5\xB1\xC7\xB0\xCF\xB5\xCD\xB3\xB2\xBB\xD6\xA7\xB3\xD6WinHttp\xB7\xFE\xCE\xF1!";
    case RequestStatus::UrlNotParsed:
      // "failed to parse the URL!"
      return "701 \xBD\xE2\xCE\xF6URL\xB5\xD8\xD6\xB7\xCA\xA7\xB0\xDC!";
    case RequestStatus::SessionNotCreated:
      // "failed to create the WinHttp session!"
      return "702 \xB4\xB4\xBD\xA8WinHttp\xBB\xE1\xBB\xB0\xCA\xA7\xB0\xDC!";
    case RequestStatus::ConnectionNotCreated:
      // "failed to create the WinHttp connection!"
      return "703 \xB4\xB4\xBD\xA8WinHttp\xC1\xAC\xBD\xD3\xCA\xA7\xB0\xDC!";
    case RequestStatus::RequestNotCreated:
      // "failed to create the WinHttp request!"
      return "704 \xB4\xB4\xBD\xA8WinHttp\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
    case RequestStatus::TimeoutsNotSet:
      // "failed to set the time-outs!"
      return "705 \xC9\xE8\xD6\xC3\xB3\xAC\xCA\xB1\xCA\xB1\xBC\xE4\xCA\xA7\xB0\xDC!";
    case RequestStatus::CredentialsNotSet:
      // "failed to set the proxy credentials!"
      return "707 \xC9\xE8\xD6\xC3\xB4\xFA\xC0\xED\xC6\xBE\xD6\xA4\xCA\xA7\xB0\xDC!";
    case RequestStatus::CookieOptionNotSet:
      // "failed to forbid automatic cookie setting!"
      return "708 \xBD\xFB\xD6\xB9\xD7\xD4\xB6\xAF\xC9\xE8\xD6\xC3" "Cookies\xCA\xA7\xB0\xDC!";
    case RequestStatus::RedirectOptionNotSet:
      // "failed to set redirection!"
      return "709 \xD6\xD8\xB6\xA8\xCF\xF2\xC9\xE8\xD6\xC3\xCA\xA7\xB0\xDC!";
    case RequestStatus::HeadersNotAdded:
      // "failed to set the request headers!"
      return "710 \xC9\xE8\xD6\xC3\xD0\xAD\xD2\xE9\xCD\xB7\xCA\xA7\xB0\xDC!";
    case RequestStatus::SendFailed:
      // "failed to send the request!"
      return "711 \xB7\xA2\xCB\xCD\xC7\xEB\xC7\xF3\xCA\xA7\xB0\xDC!";
    case RequestStatus::NoResponse:
      // "the server did not respond!"
      return "712 \xB7\xFE\xCE\xF1\xC6\xF7\xCE\xB4\xCF\xEC\xD3\xA6!";
    case RequestStatus::ReadFailed:
      // "failed to read data!"
      return "713 \xB6\xC1\xC8\xA1\xCA\xFD\xBE\xDD\xCA\xA7\xB0\xDC!";
  }
  return {};
}

// Owns one WinHTTP handle. Declared in the order of opening, so they close in reverse.
class WinHttpHandle {
 public:
  WinHttpHandle() = default;
  explicit WinHttpHandle(HINTERNET handle) : handle_(handle) {}
  ~WinHttpHandle() {
    if (handle_ != nullptr) WinHttpCloseHandle(handle_);
  }
  WinHttpHandle(const WinHttpHandle&) = delete;
  WinHttpHandle& operator=(const WinHttpHandle&) = delete;
  WinHttpHandle& operator=(WinHttpHandle&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  [[nodiscard]] HINTERNET get() const { return handle_; }
  [[nodiscard]] explicit operator bool() const { return handle_ != nullptr; }

 private:
  HINTERNET handle_ = nullptr;
};

// WinHTTP gets an empty string, never a null pointer, for an empty text.
LPCWSTR wide(const Bytes& utf16) {
  return utf16.empty() ? u"" : reinterpret_cast<LPCWSTR>(utf16.data());
}

DWORD unit_count(const Bytes& utf16) {
  return utf16.empty() ? 0 : static_cast<DWORD>(utf16.size() / 2 - 1);
}

void append_units(Bytes& to, LPCWSTR units, DWORD count) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(units);
  to.insert(to.end(), bytes, bytes + 2 * static_cast<std::size_t>(count));
}

LPCWSTR verb_for(int method) {
  switch (method) {
    case 1:
      return u"POST";
    case 2:
      return u"HEAD";
    case 3:
      return u"PUT";
    default:
      return u"GET";
  }
}

struct DefaultHeader {
  const char* searched;
  bool ignore_case;
  const char* line;
};

// In the order they are appended; each search also sees the lines appended before it.
constexpr DefaultHeader default_headers[] = {
    {"User-Agent: ", true,
     "User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)"},
    {"Accept: ", true, "Accept: text/html, application/xhtml+xml, */*"},
    {"Accept-Encoding: ", true, "Accept-Encoding: gbk, GB2312"},
    {"Accept-Language: ", true, "Accept-Language: zh-cn"},
    {"Content-Type:", false, "Content-Type: application/x-www-form-urlencoded"},
    {"Cache-Control: ", true, "Cache-Control: no-cache"},
};

Text request_headers(const WebRequestArgs& args) {
  Text headers = args.extra_headers;
  for (const DefaultHeader& d : default_headers) {
    if (find_text(headers, d.searched, std::nullopt, d.ignore_case) == -1) {
      headers += d.line;
      headers += "\r\n";
    }
  }
  if (args.cookies != nullptr && !args.cookies->empty() &&
      find_text(headers, "Cookie: ", std::nullopt, true) == -1) {
    headers += "Cookie: ";
    headers += *args.cookies;
    headers += "\r\n";
  }
  return headers;
}

void process_pending_events_times(int count) {
  for (int i = 0; i < count; ++i) process_pending_events();
}

// The body as it arrives, in pieces joined once at the end, so no byte is copied more than
// once on the way in and memory stays near the body's size. Small reads share a piece, so a
// server that trickles a byte at a time costs no bookkeeping per byte.
class BodyPieces {
 public:
  // Room for byte_count more bytes, valid until the next call.
  std::uint8_t* room_for(std::size_t byte_count) {
    if (pieces_.empty() || pieces_.back().capacity - pieces_.back().byte_count < byte_count) {
      const std::size_t capacity = std::max(byte_count, min_piece_bytes);
      pieces_.push_back({std::make_unique_for_overwrite<std::uint8_t[]>(capacity), capacity, 0});
    }
    Piece& last = pieces_.back();
    return last.data.get() + last.byte_count;
  }
  void keep(std::size_t byte_count) {
    pieces_.back().byte_count += byte_count;
    total_ += byte_count;
  }
  // Joins the pieces, freeing each as soon as it is copied.
  Bytes join() {
    Bytes body;
    body.reserve(total_);
    for (Piece& p : pieces_) {
      body.insert(body.end(), p.data.get(), p.data.get() + p.byte_count);
      p.data.reset();
    }
    pieces_.clear();
    return body;
  }

 private:
  static constexpr std::size_t min_piece_bytes = 64 * 1024;
  struct Piece {
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t capacity;
    std::size_t byte_count;
  };
  std::vector<Piece> pieces_;
  std::size_t total_ = 0;
};

}  // namespace

Text web_request(const WebRequestArgs& args) {
  // Out-parameters the caller left out are written into these and dropped.
  Text scratch_status, scratch_headers, scratch_response_cookies, scratch_location;
  Bytes scratch_bytes;
  Text& status_text = args.status_text != nullptr ? *args.status_text : scratch_status;

  // Made before the platform check and declared before the handles, so they outlive them and
  // go last on every path.
  PageCharsetObjects charset_objects;

  int stages_done = 0;
  // Failure exits of the request path: the message, one message-pump step per stage that had
  // succeeded, and the handles close as the function returns.
  auto fail = [&](RequestStatus status) {
    status_text = status_message(status);
    process_pending_events_times(stages_done);
    return Text{};
  };
  auto fail_at_once = [&](RequestStatus status) {
    status_text = status_message(status);
    return Text{};
  };

  if (!WinHttpCheckPlatform()) return fail(RequestStatus::PlatformUnsupported);
  ++stages_done;

  const Bytes url = text_to_utf16(args.url);
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = static_cast<DWORD>(-1);
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  parts.dwUrlPathLength = static_cast<DWORD>(-1);
  parts.dwExtraInfoLength = static_cast<DWORD>(-1);
  if (!WinHttpCrackUrl(wide(url), unit_count(url), 0, &parts)) {
    return fail(RequestStatus::UrlNotParsed);
  }
  ++stages_done;

  const Text host = utf16_to_text(
      bytes_from_buffer(parts.lpszHostName, 2 * static_cast<std::ptrdiff_t>(parts.dwHostNameLength)));
  Bytes object_name;
  if (static_cast<int>(parts.dwUrlPathLength) < 1) {
    append_units(object_name, u"/", 1);
  } else {
    append_units(object_name, parts.lpszUrlPath, parts.dwUrlPathLength);
    append_units(object_name, parts.lpszExtraInfo, parts.dwExtraInfoLength);
  }
  object_name.push_back(0);
  object_name.push_back(0);
  const INTERNET_PORT port = parts.nPort;
  const bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

  const DWORD access_type =
      args.proxy_address.empty() ? WINHTTP_ACCESS_TYPE_NO_PROXY : WINHTTP_ACCESS_TYPE_NAMED_PROXY;
  const Text proxy_name = args.proxy_address.empty() ? Text{}
                          : secure                   ? args.proxy_address
                                                     : "http=" + args.proxy_address;
  const Bytes proxy_name_utf16 = text_to_utf16(proxy_name);

  const WinHttpHandle session(
      WinHttpOpen(nullptr, access_type, wide(proxy_name_utf16), WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) return fail(RequestStatus::SessionNotCreated);
  ++stages_done;

  const Bytes host_utf16 = text_to_utf16(host);
  const WinHttpHandle connection(WinHttpConnect(session.get(), wide(host_utf16), port, 0));
  if (!connection) return fail(RequestStatus::ConnectionNotCreated);
  ++stages_done;

  const WinHttpHandle request(WinHttpOpenRequest(
      connection.get(), verb_for(args.method), reinterpret_cast<LPCWSTR>(object_name.data()),
      nullptr, WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, secure ? WINHTTP_FLAG_SECURE : 0));
  if (!request) return fail(RequestStatus::RequestNotCreated);
  ++stages_done;

  // Held to what an int of milliseconds can say: beyond about 24 days the product would
  // overflow and come out negative.
  constexpr int max_timeout_seconds = std::numeric_limits<int>::max() / 1000;
  const int timeout_ms = args.timeout_seconds < 1                    ? 30000
                         : args.timeout_seconds > max_timeout_seconds ? std::numeric_limits<int>::max()
                                                                      : args.timeout_seconds * 1000;
  if (!WinHttpSetTimeouts(request.get(), timeout_ms, timeout_ms, timeout_ms, timeout_ms)) {
    return fail(RequestStatus::TimeoutsNotSet);
  }
  ++stages_done;

  if (!args.server_user.empty() && !args.server_password.empty()) {
    const Bytes user = text_to_utf16(args.server_user);
    const Bytes password = text_to_utf16(args.server_password);
    if (!WinHttpSetCredentials(request.get(), WINHTTP_AUTH_TARGET_SERVER, WINHTTP_AUTH_SCHEME_BASIC,
                               wide(user), wide(password), nullptr)) {
      return fail_at_once(RequestStatus::CredentialsNotSet);
    }
  }
  if (!args.proxy_user.empty() && !args.proxy_password.empty()) {
    const Bytes user = text_to_utf16(args.proxy_user);
    const Bytes password = text_to_utf16(args.proxy_password);
    if (!WinHttpSetCredentials(request.get(), WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC,
                               wide(user), wide(password), nullptr)) {
      return fail_at_once(RequestStatus::CredentialsNotSet);
    }
  }
  // A caller that keeps cookies gets WinHTTP's own cookie handling; the other option switches
  // it off. The value 1 means revocation checking for the first, cookies for the second.
  DWORD feature = 1;
  const DWORD feature_option =
      args.cookies != nullptr ? WINHTTP_OPTION_ENABLE_FEATURE : WINHTTP_OPTION_DISABLE_FEATURE;
  if (!WinHttpSetOption(request.get(), feature_option, &feature, sizeof feature)) {
    return fail_at_once(RequestStatus::CookieOptionNotSet);
  }
  if (args.no_redirect) {
    DWORD no_redirects = WINHTTP_DISABLE_REDIRECTS;
    if (!WinHttpSetOption(request.get(), WINHTTP_OPTION_DISABLE_FEATURE, &no_redirects,
                          sizeof no_redirects)) {
      return fail_at_once(RequestStatus::RedirectOptionNotSet);
    }
  }

  const Bytes headers = text_to_utf16(request_headers(args));
  if (!WinHttpAddRequestHeaders(request.get(), wide(headers), unit_count(headers),
                                WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE)) {
    return fail(RequestStatus::HeadersNotAdded);
  }
  ++stages_done;

  Bytes request_body = text_to_bytes(args.request_body);
  const auto body_length = static_cast<DWORD>(request_body.size());
  if (!WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          request_body.empty() ? WINHTTP_NO_REQUEST_DATA : request_body.data(),
                          body_length, body_length, 0)) {
    return fail(RequestStatus::SendFailed);
  }
  ++stages_done;

  if (!WinHttpReceiveResponse(request.get(), nullptr)) return fail(RequestStatus::NoResponse);
  ++stages_done;

  BodyPieces pieces;
  bool read_failed = false;
  for (;;) {
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request.get(), &available) || available < 1) break;
    std::uint8_t* piece = pieces.room_for(available);
    DWORD read = 0;
    if (!WinHttpReadData(request.get(), piece, available, &read)) {
      status_text = status_message(RequestStatus::ReadFailed);
      read_failed = true;
      break;
    }
    pieces.keep(read);
  }
  Bytes body = pieces.join();

  Text page;
  DWORD header_bytes = 0;
  DWORD header_index = 0;
  (void)WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF,
                            WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &header_bytes,
                            &header_index);
  Bytes raw_headers = blank_bytes(header_bytes);
  header_index = 0;
  if (WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_RAW_HEADERS_CRLF,
                          WINHTTP_HEADER_NAME_BY_INDEX, raw_headers.data(), &header_bytes,
                          &header_index)) {
    Text& response_headers =
        args.response_headers != nullptr ? *args.response_headers : scratch_headers;
    response_headers = utf16_to_text(raw_headers);
    process_response_headers(
        response_headers, status_text,
        args.response_cookies != nullptr ? *args.response_cookies : scratch_response_cookies,
        args.redirect_location != nullptr ? *args.redirect_location : scratch_location,
        args.cookies);
    // A body cut short must not read as a complete answer: the status line's text would say
    // "200 OK" over a partial page, so the read failure keeps the status.
    if (read_failed) status_text = status_message(RequestStatus::ReadFailed);
    Bytes& response_bytes = args.response_bytes != nullptr ? *args.response_bytes : scratch_bytes;
    response_bytes = std::move(body);
    page = bytes_to_text(response_bytes);
    apply_declared_charset(charset_objects, page, response_bytes);
  }

  process_pending_events_times(9);
  return page;
}
