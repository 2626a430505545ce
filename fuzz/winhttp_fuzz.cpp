// Arbitrary UTF-16 through the WinHTTP calls that parse caller input without the network:
// WinHttpCrackUrl, the object-name escaping of WinHttpOpenRequest and WinHttpAddRequestHeaders.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/winhttp/winhttp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string text(size / 2, u'\0');
  std::memcpy(text.data(), data, text.size() * 2);

  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
      static_cast<DWORD>(-1);
  if (WinHttpCrackUrl(text.c_str(), static_cast<DWORD>(text.size()), 0, &parts)) {
    // Every component lies inside the input.
    const char16_t* end = text.c_str() + text.size();
    if (parts.lpszHostName + parts.dwHostNameLength > end ||
        parts.lpszUrlPath + parts.dwUrlPathLength > end ||
        parts.lpszExtraInfo + parts.dwExtraInfoLength > end) {
      __builtin_trap();
    }
  }

  HINTERNET session = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, nullptr, nullptr, 0);
  HINTERNET connection = WinHttpConnect(session, u"127.0.0.1", 1, 0);
  HINTERNET request =
      WinHttpOpenRequest(connection, u"GET", text.c_str(), nullptr, nullptr, nullptr, 0);
  (void)WinHttpAddRequestHeaders(request, text.c_str(), static_cast<DWORD>(text.size()),
                                 WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  WinHttpCloseHandle(request);
  WinHttpCloseHandle(connection);
  WinHttpCloseHandle(session);
  return 0;
}
