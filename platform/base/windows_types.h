#pragma once

// The Win32 scalar types, written from what this program needs. WCHAR is a UTF-16 code unit
// on every system (wchar_t is 32 bits on Linux), so the stand-ins use char16_t.

#include <cstdint>

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using INT = int;
using LONG = std::int32_t;
using ULONG = std::uint32_t;
using BOOL = int;
using LPBOOL = BOOL*;
using HRESULT = std::int32_t;
using WCHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPWCH = WCHAR*;
using LPCWCH = const WCHAR*;
using CHAR = char;
using LPSTR = char*;
using LPCSTR = const char*;
using LPCH = char*;
using LPCCH = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using DWORD_PTR = std::uintptr_t;

// GLib defines these as macros too; same values, so whichever comes first wins harmlessly.
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

// Thread-local error code, as the Win32 calls leave it on failure.
DWORD GetLastError();
void SetLastError(DWORD error_code);

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
