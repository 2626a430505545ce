#pragma once

// The two stages web_request runs once the response is in: the header processing, after the
// raw headers are in response_headers, and the character-set step, after the page has been
// made from the body. Neither can fail.

#include "net/response_headers.h"
#include "text/text.h"

// Re-decodes page from body when the page declares a character set other than GBK.
void apply_declared_charset(Text& page, const Bytes& body);
