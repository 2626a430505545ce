#include "net/page_charset.h"

#include "platform/gui/pending_events.h"

namespace {

constexpr std::string_view charset_pattern = "<meta.+?charset=[^\\w]?([-\\w]+)";
// Pages declare their character set in the head; the search never reads past this, so its
// cost does not grow with the page.
constexpr std::ptrdiff_t charset_window = 1024;

constexpr std::int32_t type_binary = 1;     // adTypeBinary
constexpr std::int32_t type_text = 2;       // adTypeText
constexpr std::int32_t mode_read_write = 3;  // adModeReadWrite

// Every call runs whatever the one before it gave; only ReadText's answer is looked at.
void decode_with_stream(PageCharsetObjects& objects, Text& page, const Bytes& body,
                        const Text& charset) {
  if (!create_object(objects.stream, "Adodb.Stream")) return;
  objects.body.set_bytes(body);
  (void)write_property(objects.stream, "Type", type_binary);
  (void)write_property(objects.stream, "Mode", mode_read_write);
  (void)call_method<Variant>(objects.stream, "Open");
  (void)call_method<Variant>(objects.stream, "Write", {objects.body});
  (void)write_property(objects.stream, "Position", 0);
  (void)write_property(objects.stream, "Type", type_text);
  (void)write_property(objects.stream, "Charset", charset);
  // A failed read gives no string at all, as opposed to the empty string of an empty body;
  // the page then stays the undecoded body rather than becoming empty.
  const Variant text = call_method<Variant>(objects.stream, "ReadText");
  if (text.type() == VT_BSTR) page = variant_to_text(text);
  (void)call_method<Variant>(objects.stream, "Close");
  objects.stream.clear();
  objects.body.clear();
}

}  // namespace

void apply_declared_charset(PageCharsetObjects& objects, Text& page, const Bytes& body) {
  (void)CoInitialize(nullptr);
  if (objects.regex.create(charset_pattern, text_left(page, charset_window))) {
    const Text charset = objects.regex.submatch_text(1, 1);
    if (!charset.empty() && charset != "gbk" && charset != "gb2312") {
      decode_with_stream(objects, page, body, charset);
    }
    process_pending_events();
  }
  CoUninitialize();
}
