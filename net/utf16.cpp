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
  Bytes buffer = blank_bytes(byte_count);
  if (byte_count > 0) {
    WideCharToMultiByte(code_page_gbk, WC_COMPOSITECHECK, units, unit_count,
                        reinterpret_cast<LPSTR>(buffer.data()), byte_count, nullptr, nullptr);
  }
  return bytes_to_text(buffer);
}
