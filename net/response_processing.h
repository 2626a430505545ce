#pragma once

// The two stages web_request runs once the response is in: the header processing, after the
// raw headers are in response_headers, and the character-set step, after the page has been
// made from the body. Neither can fail.

#include "text/text.h"

// Takes the status text, the cookies the response sets and the redirect location out of
// response_headers, and merges the new cookies into cookies when the caller supplied them.
void process_response_headers(Text& response_headers, Text& status_text, Text& response_cookies,
                              Text& redirect_location, Text* cookies);

// Re-decodes page from body when the page declares a character set other than GBK.
void apply_declared_charset(Text& page, const Bytes& body);
