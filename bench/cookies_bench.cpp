// merge_cookies on a jar of thousands of entries, and the literal list walk it replaces.

#include <benchmark/benchmark.h>

#include <string>

#include "net/cookies.h"

namespace {

constexpr int entry_count = 2000;

// Received c0..c1999; current c1000..c2999 plus one deletion mark per 100 received names.
// Half the current names are received, so the merge keeps c2000..c2999 from current.
Text received_text() {
  Text text;
  for (int i = 0; i < entry_count; ++i) {
    if (i > 0) text += "; ";
    text += 'c';
    text += std::to_string(i);
    text += "=v";
    text += std::to_string(i);
  }
  return text;
}

Text current_text() {
  Text text;
  for (int i = 0; i < entry_count; ++i) {
    if (i > 0) text += "; ";
    text += 'c';
    text += std::to_string(i + 1000);
    text += "=old";
  }
  return text;
}

// Precomputed shape of the answer: the 2,000 received entries, then the 1,000 old ones.
bool is_expected(const Text& merged) {
  const TextList entries = split_text(merged, "; ");
  if (entries.size() != 3000) return false;
  return entries.front() == "c0=v0" && entries[1999] == "c1999=v1999" &&
         entries[2000] == "c2000=old" && entries.back() == "c2999=old";
}

void BM_MergeCookies(benchmark::State& state) {
  const Text received = received_text();
  const Text current = current_text();
  for (auto _ : state) {
    Text current_copy = current;
    Text received_copy = received;
    Text merged = merge_cookies(current_copy, received_copy);
    benchmark::DoNotOptimize(merged);
    if (!is_expected(merged)) {
      state.SkipWithError("merge_cookies gave a wrong result");
      return;
    }
  }
}
BENCHMARK(BM_MergeCookies)->Unit(benchmark::kMillisecond);

// The merge rules walked literally with has_cookie_named, as a yardstick for the name set.
void BM_LiteralListWalk(benchmark::State& state) {
  const TextList received = split_text(remove_spaces(received_text()), ";");
  const TextList current = split_text(remove_spaces(current_text()), ";");
  for (auto _ : state) {
    TextList merged = received;
    for (const Text& entry : current) {
      if (!has_cookie_named(merged, cookie_name(entry))) merged.push_back(entry);
    }
    benchmark::DoNotOptimize(merged);
    if (merged.size() != 3000) {
      state.SkipWithError("literal walk gave a wrong result");
      return;
    }
  }
}
BENCHMARK(BM_LiteralListWalk)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
