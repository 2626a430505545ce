#pragma once

// Code-page conversion as the Win32 API offers it, for the code pages this program uses:
// 936 (GBK, Windows' table, which is also the ANSI code page CP_ACP here) and UTF-8.
//
// Both calls follow the Win32 contract: a source length of -1 means NUL-terminated and the
// count then includes the terminator; a destination size of 0 asks for the size needed; the
// result is the number of units written, or 0 on failure with GetLastError() telling why
// (ERROR_INVALID_PARAMETER, ERROR_INSUFFICIENT_BUFFER, ERROR_NO_UNICODE_TRANSLATION).
// Not offered: other code pages, and the composition that WC_COMPOSITECHECK asks for (the flag
// is accepted; a decomposed sequence is converted unit by unit).

#include "platform/base/windows_types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;
constexpr DWORD WC_COMPOSITECHECK = 0x200;
constexpr DWORD WC_NO_BEST_FIT_CHARS = 0x400;

// Bytes that are not valid in the code page become U+FFFD one at a time: a lead byte whose
// next byte is no trail byte becomes U+FFFD and the next byte is converted on its own, so no
// valid character around an invalid one is lost. A well-formed pair that the table does not
// hold becomes one U+FFFD. With MB_ERR_INVALID_CHARS any of these fails the call instead.
int MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCCH lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar);

// A character the code page cannot hold becomes lpDefaultChar's first byte (null: "?"), once
// per character (a surrogate pair is one character), and sets *lpUsedDefaultChar. For UTF-8,
// lpDefaultChar and lpUsedDefaultChar must be null; a lone surrogate becomes U+FFFD.
int WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWCH lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCCH lpDefaultChar,
                        LPBOOL lpUsedDefaultChar);
