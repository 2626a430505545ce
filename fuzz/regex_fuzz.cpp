// Arbitrary patterns and subjects through RegexObject: create, the match and sub-match queries
// with positions, and replace. Checks what must always hold: no crash, no hang (the match
// limit stops runaway searches), positions inside the text or -2, and a COM count and object
// count that come back to where they were.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>

#include "platform/com/com.h"
#include "platform/com/dispatch_object.h"
#include "regex/regex_object.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

void check_position(int position, const Text& subject) {
  check(position == -2 || (position >= 0 && position <= static_cast<int>(subject.size())));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  FuzzedDataProvider data(bytes, size);
  const ULONG com_before = com_initialization_count();
  const long objects_before = dispatch_object_count();
  {
    const bool case_sensitive = data.ConsumeBool();
    const bool multiline = data.ConsumeBool();
    const bool global = data.ConsumeBool();
    const bool quote_marker = data.ConsumeBool();
    const int match_index = data.ConsumeIntegralInRange(-1, 4);
    const int submatch_index = data.ConsumeIntegralInRange(-1, 4);
    const Text pattern = data.ConsumeRandomLengthString(64);
    const Text replacement = data.ConsumeRandomLengthString(16);
    const Text subject = data.ConsumeRemainingBytesAsString();

    RegexObject regex;
    const bool created = regex.create(pattern, subject, case_sensitive, multiline, global, quote_marker);
    const int count = regex.match_count();
    check(count >= 0 && (created || count == 0));
    check(global || count <= 1);
    int position = 0;
    const Text group = regex.submatch_text(match_index, submatch_index, &position);
    check_position(position, subject);
    const Text match = regex.match_text(match_index, &position);
    check_position(position, subject);
    check(created || (group.empty() && match.empty()));
    check(regex.submatch_count() >= 0);
    const Text replaced = regex.replace(replacement);
    check(created || replaced.empty());
    const std::unique_ptr<RegexObject> twin = regex.copy();
    check(twin->match_count() == count);
  }
  check(com_initialization_count() == com_before);
  check(dispatch_object_count() == objects_before);
  return 0;
}
