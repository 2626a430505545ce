// A 256 MiB body from the loopback server, fetched with web_request and with the curl command
// line in the same run; prints the wall-time ratio and web_request's peak memory.

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "net/web_request.h"
#include "tests/support/http_server.h"

namespace {

constexpr std::uint64_t body_bytes = 256ull << 20;
constexpr const char* pattern = "0123456789abcdef";

test_http::HttpServer& server() {
  static test_http::HttpServer instance([](const test_http::Request&) {
    return test_http::Script{
        test_http::send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body_bytes) + "\r\n\r\n"),
        test_http::send_repeated(pattern, body_bytes)};
  });
  return instance;
}

double best_web_request_seconds = 0;
double best_curl_seconds = 0;

void keep_best(double& best, double seconds) {
  best = best == 0 ? seconds : std::min(best, seconds);
}

bool page_is_right(const Text& page, const Bytes& bytes) {
  return page.size() == body_bytes && bytes.size() == body_bytes &&
         page.compare(body_bytes - 16, 16, pattern) == 0 && bytes[body_bytes / 2 + 3] == '3';
}

void BM_web_request_256MiB(benchmark::State& state) {
  const std::string url = server().url("/big");
  for (auto _ : state) {
    const auto started = std::chrono::steady_clock::now();
    Bytes bytes;
    const Text page = web_request({.url = url, .timeout_seconds = 30, .response_bytes = &bytes});
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    if (!page_is_right(page, bytes)) {
      state.SkipWithError("wrong body");
      return;
    }
    keep_best(best_web_request_seconds, took.count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body_bytes));
}

void BM_curl_command_line_256MiB(benchmark::State& state) {
  const std::string command = "curl -s -o /dev/null -w '%{size_download}' " + server().url("/big");
  for (auto _ : state) {
    const auto started = std::chrono::steady_clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    char out[64] = {};
    const std::size_t n = pipe == nullptr ? 0 : std::fread(out, 1, sizeof out - 1, pipe);
    const int status = pipe == nullptr ? -1 : ::pclose(pipe);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    if (status != 0 || std::string(out, n) != std::to_string(body_bytes)) {
      state.SkipWithError("curl failed or fetched the wrong size");
      return;
    }
    keep_best(best_curl_seconds, took.count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body_bytes));
}

BENCHMARK(BM_web_request_256MiB)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_curl_command_line_256MiB)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

// Peak resident memory of a child process that runs fetch (or nothing), in KiB.
template <typename Fetch>
long child_peak_kib(Fetch fetch) {
  int fds[2];
  if (::pipe(fds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    long ok = fetch() ? 1 : 0;
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const long result = ok != 0 ? usage.ru_maxrss : -1;
    (void)!::write(fds[1], &result, sizeof result);
    ::_exit(0);
  }
  ::close(fds[1]);
  long result = -1;
  if (::read(fds[0], &result, sizeof result) != sizeof result) result = -1;
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  (void)server();
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();

  if (best_web_request_seconds > 0 && best_curl_seconds > 0) {
    std::printf("wall time, best of 3: web_request %.3f s, curl %.3f s, ratio %.2fx (target 1.2x)\n",
                best_web_request_seconds, best_curl_seconds,
                best_web_request_seconds / best_curl_seconds);
  }
  const std::string url = server().url("/big");
  const long idle_kib = child_peak_kib([] { return true; });
  const long fetch_kib = child_peak_kib([&] {
    Bytes bytes;
    const Text page = web_request({.url = url, .timeout_seconds = 30, .response_bytes = &bytes});
    return page_is_right(page, bytes);
  });
  if (idle_kib < 0 || fetch_kib < 0) {
    std::printf("peak memory: measurement failed\n");
    return 1;
  }
  const double body_mib = static_cast<double>(body_bytes) / (1 << 20);
  const double used_mib = static_cast<double>(fetch_kib - idle_kib) / 1024;
  std::printf("peak memory of one fetch: %.0f MiB above an idle child's %.0f MiB, %.2fx the body (target 3x)\n",
              used_mib, static_cast<double>(idle_kib) / 1024, used_mib / body_mib);
  return 0;
}
