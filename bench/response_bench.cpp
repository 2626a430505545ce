// The two stages web_request runs on a response: the header processing on ten thousand
// header lines, and the character-set search on pages of 4 KiB and 64 MiB, whose costs must be
// alike because the search reads only the first 1024 bytes.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "net/page_charset.h"
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

// Seconds per search, by page size, for the ratio printed at the end.
std::map<std::int64_t, double> search_seconds;

// A declared "gbk" needs no conversion, so what is timed is the search alone. The filler is
// mixed ASCII and GBK, as pages are.
void BM_CharsetSearch(benchmark::State& state) {
  const auto byte_count = static_cast<std::size_t>(state.range(0));
  Text page = "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">";
  while (page.size() < byte_count) page += "<p>\xD6\xD0\xCE\xC4 text</p>\n";  // GBK "Chinese"
  page.resize(byte_count);
  const Bytes body = text_to_bytes(page);
  PageCharsetObjects objects;
  // The page is searched in place: "gbk" leaves it as it is, so no copy of it is timed.
  for (auto _ : state) {
    apply_declared_charset(objects, page, body);
    if (page.size() != byte_count || objects.regex.submatch_text(1, 1) != "gbk") {
      state.SkipWithError("charset search gave a wrong result");
      return;
    }
  }
}
BENCHMARK(BM_CharsetSearch)->Arg(4 << 10)->Arg(64 << 20)->Unit(benchmark::kMicrosecond);

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.benchmark_name().rfind("BM_CharsetSearch/", 0) != 0 || run.iterations == 0) continue;
      const std::int64_t size = std::stoll(run.benchmark_name().substr(17));
      search_seconds[size] = run.real_accumulated_time / static_cast<double>(run.iterations);
    }
    ConsoleReporter::ReportRuns(runs);
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (search_seconds.count(4 << 10) != 0 && search_seconds.count(64 << 20) != 0) {
    std::printf("charset search, 64 MiB page / 4 KiB page: %.2f\n",
                search_seconds[64 << 20] / search_seconds[4 << 10]);
  }
  benchmark::Shutdown();
  return 0;
}
