// The text primitives and the UTF-16 conversions on 64 MiB of mixed ASCII and GBK, each beside
// a plain byte-level reference for the same job, run in one process. After the runs the ratio
// of each primitive to its reference is printed. Every run checks its answer.

#include <benchmark/benchmark.h>
#include <iconv.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "bench/ratio_reporter.h"
#include "net/utf16.h"
#include "text/text.h"

namespace {

constexpr std::size_t page_size = 64u << 20;
constexpr std::string_view needle = "#needle#";  // '#' never occurs in the generated text
constexpr std::string_view marker = "<r>";       // planted for replacing
constexpr std::string_view marker_replacement = "[R]";

// Deterministic text: ASCII words, spaces, commas, GBK characters from the fully mapped rows
// 0xB0..0xD6, now and then a full-width space, a replace marker every 64 bytes or so, and the
// needle near the end.
struct Page {
  std::string text;
  std::size_t needle_index = 0;
  std::size_t marker_count = 0;
  std::size_t comma_count = 0;

  Page() {
    std::mt19937 random(20261211);
    text.reserve(page_size + 64);
    std::size_t until_marker = 64;
    while (text.size() < page_size - 4096) {
      const unsigned roll = random() % 100;
      if (roll < 45) {
        text.push_back(static_cast<char>('a' + random() % 26));
      } else if (roll < 80) {
        text.push_back(static_cast<char>(0xB0 + random() % (0xD6 - 0xB0 + 1)));
        text.push_back(static_cast<char>(0xA1 + random() % (0xFE - 0xA1 + 1)));
      } else if (roll < 92) {
        text.push_back(' ');
      } else if (roll < 96) {
        text.push_back(',');
        ++comma_count;
      } else {
        text.append("\xA1\xA1");  // full-width space
      }
      if (--until_marker == 0) {
        text.append(marker);
        ++marker_count;
        until_marker = 48 + random() % 32;
      }
    }
    needle_index = text.size();
    text.append(needle);
    text.append(4096 - needle.size(), 'z');
  }
};

const Page& page() {
  static const Page instance;
  return instance;
}

void fail_if(benchmark::State& state, bool wrong, const char* what) {
  if (wrong) state.SkipWithError(what);
}

void BM_find_text(benchmark::State& state) {
  const Page& p = page();
  for (auto _ : state) {
    const auto pos = find_text(p.text, needle);
    benchmark::DoNotOptimize(pos);
    fail_if(state, pos != static_cast<std::ptrdiff_t>(p.needle_index + 1), "wrong position");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

void BM_find_reference(benchmark::State& state) {
  const Page& p = page();
  const std::string_view text = p.text;
  for (auto _ : state) {
    const auto index = text.find(needle);
    benchmark::DoNotOptimize(index);
    fail_if(state, index != p.needle_index, "wrong position");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

void BM_replace_text(benchmark::State& state) {
  const Page& p = page();
  for (auto _ : state) {
    const Text out = replace_text(p.text, marker, marker_replacement);
    fail_if(state, out.size() != p.text.size() || find_text(out, marker) != -1, "wrong text");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

void BM_replace_reference(benchmark::State& state) {
  const Page& p = page();
  const std::string_view text = p.text;
  for (auto _ : state) {
    std::string out;
    out.reserve(text.size());
    std::size_t from = 0;
    std::size_t count = 0;
    for (std::size_t hit; (hit = text.find(marker, from)) != std::string_view::npos;) {
      out.append(text.substr(from, hit - from));
      out.append(marker_replacement);
      from = hit + marker.size();
      ++count;
    }
    out.append(text.substr(from));
    fail_if(state, count != p.marker_count, "wrong count");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

void BM_split_text(benchmark::State& state) {
  const Page& p = page();
  for (auto _ : state) {
    const TextList items = split_text(p.text, ",");
    fail_if(state, items.size() != p.comma_count + 1, "wrong piece count");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

void BM_split_reference(benchmark::State& state) {
  const Page& p = page();
  const std::string_view text = p.text;
  for (auto _ : state) {
    std::vector<std::string> items;
    std::size_t from = 0;
    for (std::size_t hit; (hit = text.find(',', from)) != std::string_view::npos;) {
      items.emplace_back(text.substr(from, hit - from));
      from = hit + 1;
    }
    if (from < text.size()) items.emplace_back(text.substr(from));
    fail_if(state, items.size() != p.comma_count + 1, "wrong piece count");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

void BM_remove_spaces(benchmark::State& state) {
  const Page& p = page();
  for (auto _ : state) {
    const Text out = remove_spaces(p.text);
    fail_if(state, out.find(' ') != Text::npos || out.size() >= p.text.size(), "spaces left");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

void BM_remove_spaces_reference(benchmark::State& state) {
  const Page& p = page();
  for (auto _ : state) {
    std::string out;
    out.reserve(p.text.size());
    for (const char c : p.text) {
      if (c != ' ') out.push_back(c);
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

// One plain iconv call over the whole input into a buffer of the final size.
std::size_t iconv_once(const char* to, const char* from, const void* in, std::size_t in_size,
                       std::vector<char>& out) {
  const iconv_t cd = iconv_open(to, from);
  char* in_ptr = static_cast<char*>(const_cast<void*>(in));
  char* out_ptr = out.data();
  std::size_t out_left = out.size();
  iconv(cd, &in_ptr, &in_size, &out_ptr, &out_left);
  iconv_close(cd);
  return out.size() - out_left;
}

std::size_t utf16_units(const Page& p) {
  static const std::size_t units = text_to_utf16(p.text).size() / 2 - 1;
  return units;
}

void BM_text_to_utf16(benchmark::State& state) {
  const Page& p = page();
  utf16_units(p);
  for (auto _ : state) {
    const Bytes utf16 = text_to_utf16(p.text);
    fail_if(state, utf16.size() != 2 * (utf16_units(p) + 1), "wrong size");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

void BM_text_to_utf16_iconv(benchmark::State& state) {
  const Page& p = page();
  utf16_units(p);
  for (auto _ : state) {
    std::vector<char> out(2 * p.text.size());
    const std::size_t written = iconv_once("UTF-16LE", "GBK", p.text.data(), p.text.size(), out);
    fail_if(state, written != 2 * utf16_units(p), "wrong size");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

const Bytes& page_utf16() {
  static const Bytes utf16 = text_to_utf16(page().text);
  return utf16;
}

void BM_utf16_to_text(benchmark::State& state) {
  const Page& p = page();
  const Bytes& utf16 = page_utf16();
  for (auto _ : state) {
    const Text text = utf16_to_text(utf16);
    fail_if(state, text.size() != p.text.size(), "wrong size");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

void BM_utf16_to_text_iconv(benchmark::State& state) {
  const Page& p = page();
  const Bytes& utf16 = page_utf16();
  for (auto _ : state) {
    std::vector<char> out(p.text.size() + 16);
    const std::size_t written =
        iconv_once("GBK", "UTF-16LE", utf16.data(), utf16.size() - 2, out);
    fail_if(state, written != p.text.size(), "wrong size");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.text.size()));
}

BENCHMARK(BM_find_text)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_find_reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_replace_text)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_replace_reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_split_text)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_split_reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_remove_spaces)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_remove_spaces_reference)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_text_to_utf16)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_text_to_utf16_iconv)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_utf16_to_text)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_utf16_to_text_iconv)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  return bench::run_with_ratios(argc, argv,
                                {{"BM_find_text", "BM_find_reference"},
                                 {"BM_replace_text", "BM_replace_reference"},
                                 {"BM_split_text", "BM_split_reference"},
                                 {"BM_remove_spaces", "BM_remove_spaces_reference"},
                                 {"BM_text_to_utf16", "BM_text_to_utf16_iconv"},
                                 {"BM_utf16_to_text", "BM_utf16_to_text_iconv"}});
}
