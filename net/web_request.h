#pragma once

// One synchronous HTTP request over WinHTTP: the tool's only HTTP client routine.

#include "text/text.h"

// Every member after url may be left out. Out-parameters left null are not written; an
// out-parameter the call does not reach keeps what the caller's variable held.
struct WebRequestArgs {
  Text url{};
  int method = 0;                    // 0 GET, 1 POST, 2 HEAD, 3 PUT, other: GET
  Text request_body{};               // sent with whatever method is used
  Text* cookies = nullptr;           // in/out; nullptr = left out (supplied even when empty)
  Text* response_cookies = nullptr;  // out
  Text extra_headers{};              // lines each ended by CR LF, placed before the defaults
  Text* response_headers = nullptr;  // out: the raw headers of the final response
  bool no_redirect = false;
  Text server_user{};  // Basic credentials, used only when both are given
  Text server_password{};
  Text proxy_address{};  // host:port; empty: direct
  Text proxy_user{};     // Basic credentials, used only when both are given
  Text proxy_password{};
  int timeout_seconds = 0;            // per phase; below 1: 30 seconds
  Text* redirect_location = nullptr;  // out
  Text* status_text = nullptr;        // out: a failure message, or the response's status text
  Bytes* response_bytes = nullptr;    // out: the body, every byte unchanged
};

// Returns the page: the body up to its first NUL byte, decoded again from the character set
// the page declares when that is not GBK (net/page_charset.h). A failure gives an empty page
// and puts a GBK message beginning with its number (700 to 712) into status_text, leaving
// every other out-parameter as it was. A body cut short is no failure exit: the call goes on
// with the bytes read and fills every out-parameter, but status_text keeps the 713 message
// rather than the status line's text, so a partial page never reads as a complete one. When
// the response headers cannot be read the page is empty and nothing else is written;
// otherwise the headers fill status_text, response_cookies, redirect_location and *cookies as
// net/response_headers.h says. A default header is added unless extra_headers (with the
// defaults added before it) already holds its name anywhere: "User-Agent: " ignoring case
// also matches "x-user-agent: ", while "Content-Type:" is searched with exact case.
[[nodiscard]] Text web_request(const WebRequestArgs& args);
