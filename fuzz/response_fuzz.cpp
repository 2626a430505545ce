// Drives what web_request does with a response: the header processing with the cookie merge,
// and the stream stand-in's decoding, with arbitrary bytes. Checks what must always hold: the
// rewritten received cookies keep no space, and no character set yields more UTF-16 units than
// it was given bytes.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "net/cookies.h"
#include "net/response_headers.h"
#include "platform/ado_stream/charset_decoder.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

constexpr const char* charsets[] = {"utf-8", "gbk", "gb18030", "big5", "shift_jis", "euc-kr",
                                    "euc-jp", "iso-8859-1", "windows-1252", "us-ascii"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const bool has_cookies = data.ConsumeBool();
  Text cookies = data.ConsumeRandomLengthString(256);
  const char* charset = charsets[data.ConsumeIntegralInRange<std::size_t>(0, std::size(charsets) - 1)];
  Text headers = data.ConsumeRemainingBytesAsString();

  Text status_text, response_cookies, location;
  process_response_headers(headers, status_text, response_cookies, location,
                           has_cookies ? &cookies : nullptr);
  if (has_cookies) check(remove_spaces(response_cookies) == response_cookies);

  const std::optional<CharsetId> id = find_charset(charset);
  check(id.has_value());
  const auto* raw = reinterpret_cast<const std::uint8_t*>(headers.data());
  check(decode_charset(*id, raw, headers.size()).size() <= headers.size());
  return 0;
}
