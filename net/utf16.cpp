#include "net/utf16.h"

#include "platform/codepage/codepage.h"

namespace {
constexpr UINT code_page_gbk = 936;
}

Bytes text_to_utf16(const Text& text) {
  if (text.empty()) return {};
  const int unit_count =
      MultiByteToWideChar(code_page_gbk, 0, text.c_str(), -1, nullptr, 0);
  Bytes utf16 = blank_bytes(2 * static_cast<std::ptrdiff_t>(unit_count));
  if (unit_count > 0) {
    MultiByteToWideChar(code_page_gbk, 0, text.c_str(), -1,
                        reinterpret_cast<LPWSTR>(utf16.data()), unit_count);
  }
  return utf16;
}

Text utf16_to_text(const Bytes& utf16) {
  const auto unit_count = static_cast<int>(bytes_len(utf16) / 2);
  if (unit_count == 0) return {};
  const auto* units = reinterpret_cast<LPCWCH>(utf16.data());
  const int byte_count = WideCharToMultiByte(code_page_gbk, WC_COMPOSITECHECK, units, unit_count,
                                             nullptr, 0, nullptr, nullptr);
  if (byte_count <= 0) return {};
  // A zero-filled buffer of the size asked for, filled and then cut at its first NUL byte. It
  // is the result itself, so a large page is not copied once more.
  Text text(static_cast<std::size_t>(byte_count), '\0');
  WideCharToMultiByte(code_page_gbk, WC_COMPOSITECHECK, units, unit_count, text.data(),
                      byte_count, nullptr, nullptr);
  if (const std::size_t nul = text.find('\0'); nul != Text::npos) text.resize(nul);
  return text;
}
