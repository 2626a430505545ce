#include "platform/winhttp/winhttp.h"

#include <algorithm>
#include <string_view>

#include "platform/winhttp/wide_text.h"

namespace {

using namespace winhttp_detail;

bool fill_component(LPWSTR& pointer, DWORD& length, const WCHAR* source, std::size_t n) {
  if (pointer == nullptr && length == 0) return true;  // not asked for
  if (pointer == nullptr) {
    pointer = const_cast<LPWSTR>(source);
    length = static_cast<DWORD>(n);
    return true;
  }
  if (length < n + 1) {
    length = static_cast<DWORD>(n + 1);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return false;
  }
  std::copy(source, source + n, pointer);
  pointer[n] = 0;
  length = static_cast<DWORD>(n);
  return true;
}

bool scheme_is(std::u16string_view scheme, std::string_view name) {
  if (scheme.size() != name.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t c = scheme[i];
    const char16_t lower = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c;
    if (lower != static_cast<char16_t>(name[i])) return false;
  }
  return true;
}

// What the object name becomes on the request line.

}  // namespace

BOOL WinHttpCrackUrl(LPCWSTR pwszUrl, DWORD dwUrlLength, DWORD dwFlags,
                     LPURL_COMPONENTS lpUrlComponents) {
  (void)dwFlags;
  if (pwszUrl == nullptr || lpUrlComponents == nullptr ||
      lpUrlComponents->dwStructSize != sizeof(URL_COMPONENTS)) {
    return fail(ERROR_INVALID_PARAMETER);
  }
  const std::u16string_view url(pwszUrl, dwUrlLength == 0 ? wide_length(pwszUrl) : dwUrlLength);
  const std::size_t colon = url.find(u':');
  if (colon == std::u16string_view::npos || colon == 0) return fail(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
  const std::u16string_view scheme = url.substr(0, colon);
  INTERNET_SCHEME scheme_number = 0;
  if (scheme_is(scheme, "http")) {
    scheme_number = INTERNET_SCHEME_HTTP;
  } else if (scheme_is(scheme, "https")) {
    scheme_number = INTERNET_SCHEME_HTTPS;
  } else {
    return fail(ERROR_WINHTTP_UNRECOGNIZED_SCHEME);
  }
  if (url.substr(colon + 1, 2) != u"//") return fail(ERROR_WINHTTP_INVALID_URL);

  const std::size_t authority_start = colon + 3;
  const std::size_t authority_end = std::min(url.find_first_of(u"/?#", authority_start), url.size());
  std::u16string_view authority = url.substr(authority_start, authority_end - authority_start);
  std::size_t host_start = authority_start;
  std::u16string_view user, password;
  if (const std::size_t at = authority.rfind(u'@'); at != std::u16string_view::npos) {
    const std::u16string_view userinfo = authority.substr(0, at);
    const std::size_t split = userinfo.find(u':');
    user = userinfo.substr(0, split);
    if (split != std::u16string_view::npos) password = userinfo.substr(split + 1);
    authority.remove_prefix(at + 1);
    host_start += at + 1;
  }
  std::u16string_view host, port_text;
  if (!authority.empty() && authority.front() == u'[') {
    const std::size_t close = authority.find(u']');
    if (close == std::u16string_view::npos) return fail(ERROR_WINHTTP_INVALID_URL);
    host = authority.substr(1, close - 1);
    ++host_start;
    const std::u16string_view rest = authority.substr(close + 1);
    if (!rest.empty() && rest.front() != u':') return fail(ERROR_WINHTTP_INVALID_URL);
    if (!rest.empty()) port_text = rest.substr(1);
  } else {
    const std::size_t split = authority.find(u':');
    host = authority.substr(0, split);
    if (split != std::u16string_view::npos) port_text = authority.substr(split + 1);
  }
  if (host.empty()) return fail(ERROR_WINHTTP_INVALID_URL);
  for (const char16_t c : host) {
    if (is_blank_or_control(c)) return fail(ERROR_WINHTTP_INVALID_URL);
  }
  INTERNET_PORT port = scheme_number == INTERNET_SCHEME_HTTPS ? INTERNET_DEFAULT_HTTPS_PORT
                                                               : INTERNET_DEFAULT_HTTP_PORT;
  if (!port_text.empty()) {
    if (port_text.size() > 5) return fail(ERROR_WINHTTP_INVALID_URL);
    unsigned value = 0;
    for (const char16_t c : port_text) {
      if (c < u'0' || c > u'9') return fail(ERROR_WINHTTP_INVALID_URL);
      value = value * 10 + static_cast<unsigned>(c - u'0');
    }
    if (value == 0 || value > 65535) return fail(ERROR_WINHTTP_INVALID_URL);
    port = static_cast<INTERNET_PORT>(value);
  }
  const std::size_t extra_start = std::min(url.find_first_of(u"?#", authority_end), url.size());

  URL_COMPONENTS& c = *lpUrlComponents;
  const WCHAR* base = url.data();
  if (!fill_component(c.lpszScheme, c.dwSchemeLength, base, colon) ||
      !fill_component(c.lpszHostName, c.dwHostNameLength, base + host_start, host.size()) ||
      !fill_component(c.lpszUserName, c.dwUserNameLength, user.data(), user.size()) ||
      !fill_component(c.lpszPassword, c.dwPasswordLength, password.data(), password.size()) ||
      !fill_component(c.lpszUrlPath, c.dwUrlPathLength, base + authority_end,
                      extra_start - authority_end) ||
      !fill_component(c.lpszExtraInfo, c.dwExtraInfoLength, base + extra_start,
                      url.size() - extra_start)) {
    return FALSE;
  }
  c.nScheme = scheme_number;
  c.nPort = port;
  return TRUE;
}
