#pragma once

// Helpers shared by the files of the WinHTTP stand-in; not part of its interface.

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/base/windows_types.h"

namespace winhttp_detail {

// Sets the thread's last error and gives FALSE, as a failing call returns.
BOOL fail(DWORD error);

std::size_t wide_length(LPCWSTR s);

// UTF-16 to bytes in a code page; an empty or null input gives an empty string.
std::string narrow(UINT code_page, const WCHAR* s, std::size_t n);
std::string narrow(UINT code_page, LPCWSTR s);

// Bytes in the ANSI code page to UTF-16.
std::u16string widen_ansi(std::string_view bytes);

// ASCII-only case folding, as header names and schemes compare.
bool equal_folded(std::string_view a, std::string_view b);

bool is_blank_or_control(char16_t c);

}  // namespace winhttp_detail
