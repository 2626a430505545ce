#include "net/response_headers.h"

#include "net/cookies.h"
#include "platform/gui/pending_events.h"

namespace {

constexpr std::string_view crlf = "\r\n";
constexpr std::string_view cookie_header = "Set-Cookie";
constexpr std::string_view cookie_header_colon = "Set-Cookie:";
constexpr std::string_view location_header = "Location: ";
// The status code begins at byte 10 of an "HTTP/1.x " status line.
constexpr std::ptrdiff_t status_pos = 10;

// The cookie part of one header line that holds "Set-Cookie".
Text cookie_part(const Text& line) {
  if (find_text(line, ";") != -1) return text_between(line, cookie_header_colon, ";", 0, false);
  return replace_text(line, cookie_header_colon, "", std::nullopt, std::nullopt, false);
}

}  // namespace

void process_response_headers(Text& response_headers, Text& status_text, Text& response_cookies,
                              Text& redirect_location, Text* cookies) {
  const std::ptrdiff_t end_pos = find_text(response_headers, crlf, status_pos);
  status_text = text_mid(response_headers, status_pos, end_pos - status_pos);

  response_headers = replace_text(response_headers, cookie_header, cookie_header, std::nullopt,
                                  std::nullopt, false);

  // Collected from empty: appending to what the caller's variable held and then cutting two
  // bytes would eat into the caller's own text when the response sets no cookie.
  response_cookies.clear();
  for (const Text& line : split_text(response_headers, crlf)) {
    if (find_text(line, cookie_header) != -1) {
      response_cookies += trim_spaces(cookie_part(line));
      response_cookies += "; ";
    }
    if (compare_texts(text_left(line, text_len(location_header)), location_header, false) == 0) {
      redirect_location = text_mid(line, text_len(location_header) + 1,
                                   text_len(line) - text_len(location_header));
    }
    process_pending_events();
  }
  response_cookies = text_left(response_cookies, text_len(response_cookies) - 2);

  if (cookies != nullptr) (void)merge_cookies(*cookies, response_cookies);
}
