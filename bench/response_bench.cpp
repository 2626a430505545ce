// The header processing of web_request on a response with ten thousand header lines.

#include <benchmark/benchmark.h>

#include <string>

#include "net/response_headers.h"

namespace {

constexpr int line_count = 10000;

// Half cookie lines (with and without attributes), half other headers, one Location.
Text many_header_lines() {
  Text headers = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < line_count; ++i) {
    const std::string n = std::to_string(i);
    switch (i % 4) {
      case 0: headers += "Set-Cookie: c" + n + "=v" + n + "; path=/; HttpOnly\r\n"; break;
      case 1: headers += "set-cookie: d" + n + "=w\r\n"; break;
      case 2: headers += "X-Header-" + n + ": some value of a header\r\n"; break;
      default: headers += "Location: /moved/" + n + "\r\n"; break;
    }
  }
  return headers + "\r\n";
}

void BM_ProcessResponseHeaders(benchmark::State& state) {
  const Text raw = many_header_lines();
  const bool with_cookies = state.range(0) != 0;
  for (auto _ : state) {
    Text headers = raw;
    Text status_text, response_cookies, location;
    Text cookies = "old=1; c0=replaced";
    process_response_headers(headers, status_text, response_cookies, location,
                             with_cookies ? &cookies : nullptr);
    benchmark::DoNotOptimize(headers);
    // Precomputed: 5,000 collected entries, the last Location line, the merge keeping old=1.
    const TextList entries = split_text(response_cookies, with_cookies ? ";" : "; ");
    const bool ok = status_text == "200 OK" && entries.size() == 5000 &&
                    entries.front() == "c0=v0" && entries.back() == "d9997=w" &&
                    location == "/moved/9999" &&
                    (!with_cookies || text_right(cookies, 7) == "; old=1");
    if (!ok) {
      state.SkipWithError("header processing gave a wrong result");
      return;
    }
  }
}
BENCHMARK(BM_ProcessResponseHeaders)->Arg(0)->Arg(1)->ArgName("cookies_supplied")
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
