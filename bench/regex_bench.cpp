// RegexObject::create with the stream-name pattern, ignoring case, over a 16 MiB page whose
// match stands near the end, then submatch_text; beside it PCRE2 (16-bit, JIT) called directly
// on the same page, converted from GBK to UTF-16 in the timed loop as the object's path does.
// Both run in one process and the ratio is printed after the runs. Every run checks its answer.

#include <benchmark/benchmark.h>

#define PCRE2_CODE_UNIT_WIDTH 16
#include <pcre2.h>

#include <random>
#include <string>

#include "bench/ratio_reporter.h"
#include "platform/codepage/codepage.h"
#include "regex/regex_object.h"

namespace {

constexpr std::size_t page_size = 16u << 20;
constexpr char stream_pattern[] = ",\"flvtitle\":\"(.*?)\",\"sound\"";
const Text stream_name = "live_\xB7\xBF\xBC\xE4_42";  // live_, the GBK word for "room", _42

// Deterministic page: ASCII words, JSON-like pairs with commas and quotes, lines, and GBK
// characters from the fully mapped rows 0xB0..0xD6; the stream name's pair 4 KiB before the end.
const Text& page() {
  static const Text text = [] {
    std::mt19937 random(20261211);
    Text out;
    out.reserve(page_size + 64);
    while (out.size() < page_size - 4096) {
      const unsigned roll = random() % 100;
      if (roll < 50) {
        out.push_back(static_cast<char>('a' + random() % 26));
      } else if (roll < 80) {
        out.push_back(static_cast<char>(0xB0 + random() % (0xD6 - 0xB0 + 1)));
        out.push_back(static_cast<char>(0xA1 + random() % (0xFE - 0xA1 + 1)));
      } else if (roll < 90) {
        out += ",\"k\":\"";
      } else if (roll < 98) {
        out.push_back(' ');
      } else {
        out.push_back('\n');
      }
    }
    out += ",\"FlvTitle\":\"" + stream_name + "\",\"sound\":\"on\"";
    out.append(page_size - out.size(), 'z');
    return out;
  }();
  return text;
}

void BM_regex_object(benchmark::State& state) {
  const Text& text = page();
  RegexObject regex;
  for (auto _ : state) {
    regex.create(stream_pattern, text);
    const Text name = regex.submatch_text(1, 1);
    if (name != stream_name) state.SkipWithError("wrong stream name");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_pcre2_direct(benchmark::State& state) {
  const Text& text = page();
  std::u16string pattern;
  for (const char* p = stream_pattern; *p != 0; ++p) pattern.push_back(static_cast<char16_t>(*p));
  for (auto _ : state) {
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string wide(static_cast<std::size_t>(units), u'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);

    int error = 0;
    PCRE2_SIZE error_offset = 0;
    pcre2_code* code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()), pattern.size(),
                                     PCRE2_CASELESS, &error, &error_offset, nullptr);
    pcre2_jit_compile(code, PCRE2_JIT_COMPLETE);
    pcre2_match_data* data = pcre2_match_data_create_from_pattern(code, nullptr);
    const auto* subject = reinterpret_cast<PCRE2_SPTR>(wide.data());
    Text name;
    // Every match, as the object's global search collects them.
    for (PCRE2_SIZE start = 0; start <= wide.size();) {
      if (pcre2_match(code, subject, wide.size(), start, 0, data, nullptr) < 0) break;
      const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
      if (name.empty()) {
        const int n = static_cast<int>(ovector[3] - ovector[2]);
        name.resize(static_cast<std::size_t>(n) * 2);
        name.resize(static_cast<std::size_t>(WideCharToMultiByte(
            CP_ACP, 0, wide.data() + ovector[2], n, name.data(), n * 2, nullptr, nullptr)));
      }
      start = ovector[1] == ovector[0] ? ovector[1] + 1 : ovector[1];
    }
    pcre2_match_data_free(data);
    pcre2_code_free(code);
    if (name != stream_name) state.SkipWithError("wrong stream name");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

BENCHMARK(BM_regex_object)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_pcre2_direct)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // RegexObject create + submatch_text over PCRE2-16 JIT called directly.
  return bench::run_with_ratios(argc, argv, {{"BM_regex_object", "BM_pcre2_direct"}});
}
