// Drives the text primitives and the UTF-16 conversions with arbitrary bytes. Checks what must
// always hold: results within bounds, agreement with the naive reference scanner, split pieces
// that join back into the text, and trimming and space removal that settle after one pass.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <optional>

#include "net/utf16.h"
#include "tests/support/reference_scanner.h"
#include "text/text.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

std::optional<std::ptrdiff_t> maybe_int(FuzzedDataProvider& data, int low, int high) {
  if (!data.ConsumeBool()) return std::nullopt;
  return data.ConsumeIntegralInRange(low, high);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const Text needle = data.ConsumeRandomLengthString(8);
  const Text replacement = data.ConsumeRandomLengthString(8);
  const auto start = maybe_int(data, -2, 300);
  const auto count = maybe_int(data, -1, 5);
  const bool fold = data.ConsumeBool();
  const Text text = data.ConsumeRemainingBytesAsString();
  const auto length = text_len(text);

  const auto pos = find_text(text, needle, start, fold);
  check(pos == -1 || (pos >= 1 && pos <= length));
  check(pos == reference::find_text(text, needle, start, fold));
  if (pos > 0 && !needle.empty() && !fold) check(text_mid(text, pos, text_len(needle)) == needle);

  check(replace_text(text, needle, replacement, start, count, !fold) ==
        reference::replace_text(text, needle, replacement, start, count, !fold));

  const TextList items = split_text(text, needle);
  check(items == reference::split_text(text, needle, std::nullopt));
  if (!needle.empty()) {
    Text joined;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (i != 0) joined += needle;
      joined += items[i];
    }
    check(joined == text || joined + needle == text);
  }
  const auto limit = maybe_int(data, 0, 4);
  check(split_text(text, needle, limit).size() <= static_cast<std::size_t>(limit.value_or(1 << 30)));

  const Text trimmed = trim_spaces(text);
  check(trim_spaces(trimmed) == trimmed);
  check(trimmed == reference::trim_spaces(text));
  const Text removed = remove_spaces(text);
  check(remove_spaces(removed) == removed);
  check(removed == reference::remove_spaces(text));

  check(compare_texts(text, needle, fold) == -compare_texts(needle, text, fold));
  check(compare_texts(text, text, fold) == 0);

  const Bytes utf16 = text_to_utf16(text);
  check(utf16.size() % 2 == 0);
  const Text back = utf16_to_text(utf16);
  check(text_len(back) <= 2 * text_len(text));
  if (text.find('\0') == Text::npos && std::all_of(text.begin(), text.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x80;
      })) {
    check(back == text);
  }
  return 0;
}
