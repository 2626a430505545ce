#include "tests/support/desktop_input.h"

#include <chrono>
#include <cstdio>

#include "tests/support/child_process.h"

bool xdotool(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"xdotool"};
  argv.insert(argv.end(), args.begin(), args.end());
  return run_command(argv, {}, std::chrono::seconds(20)).exit_code == 0;
}

namespace {

// The code point starting at index, and how many bytes it takes; a broken sequence gives
// U+FFFD for one byte.
char32_t decode_utf8(const std::string& text, std::size_t index, std::size_t& byte_count) {
  const auto lead = static_cast<unsigned char>(text[index]);
  std::size_t count = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  if (index + count > text.size()) count = 1;
  char32_t code = count == 1 ? lead : lead & (0x7F >> count);
  for (std::size_t i = 1; i < count; ++i) {
    code = (code << 6) | (static_cast<unsigned char>(text[index + i]) & 0x3F);
  }
  byte_count = count;
  return count == 1 && lead >= 0x80 ? U'\uFFFD' : code;
}

}  // namespace

bool type_text(const std::string& utf8) {
  std::string ascii_run;
  auto flush = [&] {
    if (ascii_run.empty()) return true;
    const bool ok = xdotool({"type", "--delay", "30", "--", ascii_run});
    ascii_run.clear();
    return ok;
  };
  for (std::size_t index = 0; index < utf8.size();) {
    std::size_t byte_count = 1;
    const char32_t code = decode_utf8(utf8, index, byte_count);
    if (code >= 0x20 && code < 0x7F) {
      ascii_run += static_cast<char>(code);
    } else {
      if (!flush()) return false;
      char hex[16];
      std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(code));
      if (!xdotool({"key", "ctrl+shift+u"}) || !xdotool({"type", "--delay", "30", hex}) ||
          !xdotool({"key", "space"})) {
        return false;
      }
    }
    index += byte_count;
  }
  return flush();
}
