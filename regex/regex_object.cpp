#include "regex/regex_object.h"

#include <cmath>
#include <limits>

#include "platform/com/com.h"

namespace {

constexpr std::string_view regexp_progid = "VBScript.RegExp";
constexpr std::string_view quote_marker_text = "#\xD2\xFD\xBA\xC5";  // "#" and the GBK word for "quote"

int truncate_to_int(double value) {
  if (!(value > std::numeric_limits<int>::min() - 1.0 && value < std::numeric_limits<int>::max() + 1.0)) {
    return 0;
  }
  return static_cast<int>(std::trunc(value));
}

}  // namespace

RegexObject::RegexObject() {
  subject_.set_int32(0);
  CoInitialize(nullptr);
}

RegexObject::~RegexObject() {
  if (!destroyed_) RegexObject::destroy();
}

void RegexObject::destroy() {
  if (destroyed_) return;
  // The objects go before COM does.
  regexp_.clear();
  matches_.clear();
  subject_.clear();
  CoUninitialize();
  destroyed_ = true;
}

std::unique_ptr<RegexObject> RegexObject::copy() const {
  if (destroyed_) return nullptr;
  auto twin = std::make_unique<RegexObject>();
  twin->regexp_ = regexp_;
  twin->matches_ = matches_;
  twin->subject_ = subject_;
  return twin;
}

bool RegexObject::create(std::string_view pattern, std::string_view subject_text,
                         std::optional<bool> case_sensitive, std::optional<bool> multiline,
                         std::optional<bool> global, std::optional<bool> quote_marker) {
  if (destroyed_) return false;
  const bool ignore_case = !case_sensitive.value_or(false);
  const bool is_multiline = multiline.value_or(true);
  const bool is_global = global.value_or(true);
  const bool has_quote_marker = quote_marker.value_or(false);

  regexp_.clear();
  matches_.clear();
  // A failure here leaves regexp empty and every later step fails without effect.
  (void)create_object(regexp_, regexp_progid);
  write_property(regexp_, "IgnoreCase", ignore_case);
  write_property(regexp_, "Multiline", is_multiline);
  // The object has no such member, so no dot-matches-all mode is ever in effect.
  write_property(regexp_, "Singleline", true);
  write_property(regexp_, "Global", is_global);
  const Text pattern_text =
      has_quote_marker ? replace_text(pattern, quote_marker_text, "\"") : Text(pattern);
  write_property(regexp_, "Pattern", pattern_text);
  subject_.set_text(subject_text);
  matches_ = call_method<ObjectRef>(regexp_, "Execute", {subject_});
  return !matches_.empty();
}

void RegexObject::no_op() {}

Text RegexObject::pattern_text() const {
  if (regexp_.empty()) return Text();
  return read_property<Text>(regexp_, "Pattern");
}

Text RegexObject::replace(const Text& replacement) const {
  Variant with;
  with.set_text(replacement);
  return call_method<Text>(regexp_, "Replace", {subject_, with});
}

int RegexObject::match_count() const {
  return truncate_to_int(read_property<double>(matches_, "Count"));
}

Text RegexObject::match_text(int match_index, int* position) const {
  const ObjectRef match = read_property<ObjectRef>(matches_, "Item", {match_index - 1.0});
  Text found = variant_to_text(read_property<Variant>(match, "Value"));
  if (position != nullptr) *position = position_of(found, match);
  return found;
}

Text RegexObject::submatch_text(int match_index, int submatch_index, int* position) const {
  const ObjectRef match = read_property<ObjectRef>(matches_, "Item", {match_index - 1.0});
  const ObjectRef groups = read_property<ObjectRef>(match, "SubMatches");
  Text found = variant_to_text(read_property<Variant>(groups, "Item", {submatch_index - 1.0}));
  if (position != nullptr) *position = position_of(found, match);
  return found;
}

int RegexObject::submatch_count() const {
  ObjectRef first = read_property<ObjectRef>(matches_, "Item", {0});
  ObjectRef groups = read_property<ObjectRef>(first, "SubMatches");
  first.clear();
  const double count = read_property<double>(groups, "Count");
  groups.clear();
  return truncate_to_int(count);
}

// The match's offset counts UTF-16 units; the byte offset of the same place is the length of
// the searched text's first FirstIndex units converted back to code page 936. Starting the
// search there, rather than at the unit offset taken as a byte offset, keeps an earlier copy
// of the text between the two from being reported for the match.
int RegexObject::position_of(const Text& found, const ObjectRef& match) const {
  const Text searched = variant_to_text(subject_);
  const int first_index = truncate_to_int(read_property<double>(match, "FirstIndex"));
  const bool ignore_case = read_property<bool>(regexp_, "IgnoreCase");

  std::ptrdiff_t start = 1;
  if (first_index > 0 && subject_.type() == VT_BSTR) {
    const BSTR units = subject_.get().bstrVal;
    const UINT unit_count = std::min<UINT>(static_cast<UINT>(first_index), SysStringLen(units));
    Variant prefix;
    VARIANT* slot = prefix.receive();
    slot->vt = VT_BSTR;
    slot->bstrVal = SysAllocStringLen(units, unit_count);
    start = text_len(variant_to_text(prefix)) + 1;
  }
  const std::ptrdiff_t pos = find_text(searched, found, start, ignore_case);
  if (pos < 0) return -2;
  return static_cast<int>(pos - 1);
}
