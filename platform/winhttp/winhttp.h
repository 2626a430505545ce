#pragma once

// The WinHTTP calls this program makes, with their Windows names and contracts, on libcurl.
// Synchronous only: every call blocks until its step is over or a time-out expires. Failures
// return FALSE or a null handle and leave the reason in GetLastError().
//
// HTTP/1.1 always. Redirects are followed (at most 10) unless disabled; cookies that responses
// set are kept per session and sent back within it unless disabled. TLS certificates and host
// names are verified against the system's store. Header text crosses between bytes and UTF-16
// in the ANSI code page (936), both ways.

#include <cstdint>

#include "platform/base/windows_types.h"

using HINTERNET = void*;
using INTERNET_PORT = WORD;
using INTERNET_SCHEME = int;

constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTP = 1;
constexpr INTERNET_SCHEME INTERNET_SCHEME_HTTPS = 2;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTP_PORT = 80;
constexpr INTERNET_PORT INTERNET_DEFAULT_HTTPS_PORT = 443;
constexpr INTERNET_PORT INTERNET_DEFAULT_PORT = 0;

struct URL_COMPONENTS {
  DWORD dwStructSize;
  LPWSTR lpszScheme;
  DWORD dwSchemeLength;
  INTERNET_SCHEME nScheme;
  LPWSTR lpszHostName;
  DWORD dwHostNameLength;
  INTERNET_PORT nPort;
  LPWSTR lpszUserName;
  DWORD dwUserNameLength;
  LPWSTR lpszPassword;
  DWORD dwPasswordLength;
  LPWSTR lpszUrlPath;
  DWORD dwUrlPathLength;
  LPWSTR lpszExtraInfo;
  DWORD dwExtraInfoLength;
};
using LPURL_COMPONENTS = URL_COMPONENTS*;

constexpr DWORD WINHTTP_ACCESS_TYPE_DEFAULT_PROXY = 0;
constexpr DWORD WINHTTP_ACCESS_TYPE_NO_PROXY = 1;
constexpr DWORD WINHTTP_ACCESS_TYPE_NAMED_PROXY = 3;
constexpr LPCWSTR WINHTTP_NO_PROXY_NAME = nullptr;
constexpr LPCWSTR WINHTTP_NO_PROXY_BYPASS = nullptr;
constexpr DWORD WINHTTP_FLAG_ASYNC = 0x10000000;

constexpr LPCWSTR WINHTTP_NO_REFERER = nullptr;
constexpr LPCWSTR* WINHTTP_DEFAULT_ACCEPT_TYPES = nullptr;
constexpr DWORD WINHTTP_FLAG_SECURE = 0x00800000;

constexpr DWORD WINHTTP_AUTH_TARGET_SERVER = 0;
constexpr DWORD WINHTTP_AUTH_TARGET_PROXY = 1;
constexpr DWORD WINHTTP_AUTH_SCHEME_BASIC = 0x00000001;

constexpr DWORD WINHTTP_OPTION_DISABLE_FEATURE = 63;
constexpr DWORD WINHTTP_OPTION_ENABLE_FEATURE = 79;
constexpr DWORD WINHTTP_DISABLE_COOKIES = 0x00000001;
constexpr DWORD WINHTTP_DISABLE_REDIRECTS = 0x00000002;
constexpr DWORD WINHTTP_ENABLE_SSL_REVOCATION = 0x00000001;

constexpr DWORD WINHTTP_ADDREQ_FLAG_ADD = 0x20000000;
constexpr DWORD WINHTTP_ADDREQ_FLAG_REPLACE = 0x80000000;

constexpr LPCWSTR WINHTTP_NO_ADDITIONAL_HEADERS = nullptr;
constexpr LPVOID WINHTTP_NO_REQUEST_DATA = nullptr;

constexpr DWORD WINHTTP_QUERY_RAW_HEADERS_CRLF = 22;
constexpr LPCWSTR WINHTTP_HEADER_NAME_BY_INDEX = nullptr;
constexpr LPVOID WINHTTP_NO_OUTPUT_BUFFER = nullptr;
constexpr LPDWORD WINHTTP_NO_HEADER_INDEX = nullptr;

constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_WINHTTP_TIMEOUT = 12002;
constexpr DWORD ERROR_WINHTTP_INTERNAL_ERROR = 12004;
constexpr DWORD ERROR_WINHTTP_INVALID_URL = 12005;
constexpr DWORD ERROR_WINHTTP_UNRECOGNIZED_SCHEME = 12006;
constexpr DWORD ERROR_WINHTTP_NAME_NOT_RESOLVED = 12007;
constexpr DWORD ERROR_WINHTTP_INVALID_OPTION = 12009;
constexpr DWORD ERROR_WINHTTP_INCORRECT_HANDLE_TYPE = 12018;
constexpr DWORD ERROR_WINHTTP_INCORRECT_HANDLE_STATE = 12019;
constexpr DWORD ERROR_WINHTTP_CANNOT_CONNECT = 12029;
constexpr DWORD ERROR_WINHTTP_CONNECTION_ERROR = 12030;
constexpr DWORD ERROR_WINHTTP_HEADER_NOT_FOUND = 12150;
constexpr DWORD ERROR_WINHTTP_INVALID_SERVER_RESPONSE = 12152;
constexpr DWORD ERROR_WINHTTP_REDIRECT_FAILED = 12156;
constexpr DWORD ERROR_WINHTTP_SECURE_FAILURE = 12175;

// Always TRUE: libcurl is linked in.
BOOL WinHttpCheckPlatform();

// Splits an http or https URL into scheme, host, port, path and extra information (the "?" or
// "#" part). A component whose length field is non-zero and whose pointer is null comes back as
// a pointer into lpszUrl with its length in units; one with a buffer is copied there with a
// NUL (ERROR_INSUFFICIENT_BUFFER when it does not fit). A missing port takes the scheme's
// default. dwUrlLength 0 means NUL-terminated. Fails with ERROR_WINHTTP_UNRECOGNIZED_SCHEME or
// ERROR_WINHTTP_INVALID_URL (no "//", empty host, a port outside 1 to 65535, a control
// character or a blank in the host or port). Not offered: the ICU_ decode and escape flags.
BOOL WinHttpCrackUrl(LPCWSTR pwszUrl, DWORD dwUrlLength, DWORD dwFlags,
                     LPURL_COMPONENTS lpUrlComponents);

// A session. With WINHTTP_ACCESS_TYPE_NAMED_PROXY, pszProxyW lists entries separated by ";" or
// blanks, each "host:port" (every scheme) or "scheme=host:port" (that scheme only). Not
// offered: the proxy bypass list, WINHTTP_FLAG_ASYNC (ERROR_INVALID_PARAMETER), and the
// system's proxy settings (the default access type connects directly).
HINTERNET WinHttpOpen(LPCWSTR pszAgentW, DWORD dwAccessType, LPCWSTR pszProxyW,
                      LPCWSTR pszProxyBypassW, DWORD dwFlags);

// Remembers host and port for the requests made on it; nothing is resolved yet.
// INTERNET_DEFAULT_PORT picks the scheme's default at request time.
HINTERNET WinHttpConnect(HINTERNET hSession, LPCWSTR pswzServerName, INTERNET_PORT nServerPort,
                         DWORD dwReserved);

// A request with any verb (null: "GET"). The object name (null: "/") is sent escaped: a blank,
// a control character and every character outside ASCII as %XX of its UTF-8 form, so nothing
// can break the request line; "#" and what follows are not sent. Not offered: the version
// (always HTTP/1.1), referrer and accept types (taken and ignored), flags other than
// WINHTTP_FLAG_SECURE.
HINTERNET WinHttpOpenRequest(HINTERNET hConnect, LPCWSTR pwszVerb, LPCWSTR pwszObjectName,
                             LPCWSTR pwszVersion, LPCWSTR pwszReferrer,
                             LPCWSTR* ppwszAcceptTypes, DWORD dwFlags);

// Milliseconds on a session or request; 0 or -1 means no limit, below -1 is
// ERROR_INVALID_PARAMETER. The receive time-out counts from the last data received. Not
// offered: a separate resolve phase (resolve and connect together get the larger of the two).
BOOL WinHttpSetTimeouts(HINTERNET hInternet, int nResolveTimeout, int nConnectTimeout,
                        int nSendTimeout, int nReceiveTimeout);

// Basic credentials for the server or the proxy, sent with the first request. Not offered:
// the other authentication schemes (ERROR_INVALID_PARAMETER).
BOOL WinHttpSetCredentials(HINTERNET hRequest, DWORD AuthTargets, DWORD AuthScheme,
                           LPCWSTR pwszUserName, LPCWSTR pwszPassword, LPVOID pAuthParams);

// On a request before it is sent: WINHTTP_OPTION_DISABLE_FEATURE with WINHTTP_DISABLE_COOKIES
// and/or WINHTTP_DISABLE_REDIRECTS, WINHTTP_OPTION_ENABLE_FEATURE with
// WINHTTP_ENABLE_SSL_REVOCATION; a DWORD value of 4 bytes. Not offered: any other option
// (ERROR_WINHTTP_INVALID_OPTION); the revocation flag is accepted but certificates are checked
// without revocation lists.
BOOL WinHttpSetOption(HINTERNET hInternet, DWORD dwOption, LPVOID lpBuffer, DWORD dwBufferLength);

// Header lines separated by CR LF (dwHeadersLength -1: NUL-terminated). With
// WINHTTP_ADDREQ_FLAG_REPLACE a line replaces an earlier one of the same name (an empty value
// removes it); with WINHTTP_ADDREQ_FLAG_ADD a new name is added. A line without a colon, or a
// name with a blank or control character, is ERROR_INVALID_PARAMETER. Not offered: the
// coalesce flags.
BOOL WinHttpAddRequestHeaders(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                              DWORD dwModifiers);

// Connects (through the proxy when one applies), sends the request line, Host, the caller's
// headers, what credentials or the proxy need, Content-Length when there is a body or the verb
// is POST, and the body (with any verb, HEAD included). No Expect: 100-continue and no header
// the caller did not ask for. Fails on a refused connection, a name that does not resolve, a
// connect or send time-out and a TLS failure. Not offered: dwTotalLength larger than
// dwOptionalLength (no WinHttpWriteData), and a context value.
BOOL WinHttpSendRequest(HINTERNET hRequest, LPCWSTR lpszHeaders, DWORD dwHeadersLength,
                        LPVOID lpOptional, DWORD dwOptionalLength, DWORD dwTotalLength,
                        DWORD_PTR dwContext);

// Waits for the headers of the final response. Fails when the server closes without a valid
// status line, stays silent past the receive time-out, or a redirect cannot be followed.
BOOL WinHttpReceiveResponse(HINTERNET hRequest, LPVOID lpReserved);

// Bytes that can be read without waiting; waits for some when none are buffered, 0 at the end
// of the body. A transfer that broke off or timed out reports 1, so that the read that follows
// reports the failure.
BOOL WinHttpQueryDataAvailable(HINTERNET hRequest, LPDWORD lpdwNumberOfBytesAvailable);

// Copies up to dwNumberOfBytesToRead body bytes (decoded from chunked form); 0 read at the end.
// Fails with the transfer's error once the buffered bytes are used up.
BOOL WinHttpReadData(HINTERNET hRequest, LPVOID lpBuffer, DWORD dwNumberOfBytesToRead,
                     LPDWORD lpdwNumberOfBytesRead);

// WINHTTP_QUERY_RAW_HEADERS_CRLF only: the status line and header lines of the final response
// as the server sent them, each ended by CR LF, then an empty line, in UTF-16 with a NUL. A
// buffer too small (or null) fails with ERROR_INSUFFICIENT_BUFFER and sets *lpdwBufferLength to
// the bytes needed, terminator included; success sets it to the bytes written without the
// terminator. Not offered: the other info levels and header names (ERROR_WINHTTP_HEADER_NOT_FOUND).
BOOL WinHttpQueryHeaders(HINTERNET hRequest, DWORD dwInfoLevel, LPCWSTR pwszName, LPVOID lpBuffer,
                         LPDWORD lpdwBufferLength, LPDWORD lpdwIndex);

// Closes any handle; a request open on a connection keeps what it needs, so the order of
// closing does not matter. Null or unknown: ERROR_INVALID_HANDLE.
BOOL WinHttpCloseHandle(HINTERNET hInternet);
