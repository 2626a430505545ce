#include "platform/winhttp/wide_text.h"

#include <algorithm>

#include "platform/codepage/codepage.h"

namespace winhttp_detail {

BOOL fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

std::size_t wide_length(LPCWSTR s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

std::string narrow(UINT code_page, const WCHAR* s, std::size_t n) {
  if (n == 0) return {};
  const int count = static_cast<int>(n);
  const int size = WideCharToMultiByte(code_page, 0, s, count, nullptr, 0, nullptr, nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(code_page, 0, s, count, out.data(), size, nullptr, nullptr);
  return out;
}

std::string narrow(UINT code_page, LPCWSTR s) {
  return s == nullptr ? std::string{} : narrow(code_page, s, wide_length(s));
}

std::u16string widen_ansi(std::string_view bytes) {
  if (bytes.empty()) return {};
  const int count = static_cast<int>(bytes.size());
  const int size = MultiByteToWideChar(CP_ACP, 0, bytes.data(), count, nullptr, 0);
  if (size <= 0) return {};
  std::u16string out(static_cast<std::size_t>(size), u'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), count, out.data(), size);
  return out;
}

namespace {
char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool equal_folded(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return fold(x) == fold(y); });
}

bool is_blank_or_control(char16_t c) { return c <= 0x20 || c == 0x7F; }

}  // namespace winhttp_detail
