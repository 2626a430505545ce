#include "net/response_processing.h"

// FIXME: the header processing and the character-set step are not built yet; until they are,
// status text, cookies, redirect location and the page's declared character set stay as the
// request path left them.
void process_response_headers(Text& response_headers, Text& status_text, Text& response_cookies,
                              Text& redirect_location, Text* cookies) {
  (void)response_headers;
  (void)status_text;
  (void)response_cookies;
  (void)redirect_location;
  (void)cookies;
}

void apply_declared_charset(Text& page, const Bytes& body) {
  (void)page;
  (void)body;
}
