#pragma once

// What web_request makes of the raw response headers once it has them.

#include "text/text.h"

// Reads the raw headers (status line and header lines joined by CR LF) and writes, in this
// order:
// - status_text: the status line from its tenth byte up to its CR LF ("200 OK"); empty when no
//   CR LF lies at or after byte 10;
// - response_headers: rewritten with every "Set-Cookie" in any letter case spelled so;
// - response_cookies: the name=value part of each line holding "Set-Cookie", in header order,
//   joined by "; ". A line with a ";" gives what lies between "Set-Cookie:" and the first ";"
//   after it (empty when it has no "Set-Cookie:"); a line without gives the line with every
//   "Set-Cookie:" removed. Each part is trimmed; the caller's old value is replaced;
// - redirect_location: the rest of the last line that begins with "Location: " in any letter
//   case; left as it was when no line does;
// - *cookies, when supplied: the response cookies merged into it (merge_cookies), which also
//   strips every space from response_cookies, so its separators read ";".
// process_pending_events runs once after each line.
void process_response_headers(Text& response_headers, Text& status_text, Text& response_cookies,
                              Text& redirect_location, Text* cookies);
