// Start to a shown window, and one lookup against the demo platform on loopback: the tool
// beside a bare GTK window with a WebKit view, alternating in one run on one private X server.
// Each lookup must end in the player request for the expected stream, or the run fails.

#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/desktop_input.h"

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int rounds = 7;
const int left = (1280 - 661) / 2;
const int top = (1024 - 531) / 2;

struct Timing {
  double start_ms = -1;
  double lookup_ms = -1;
};

double ms_since(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

bool window_shown(pid_t pid) {
  return !run_command({"xdotool", "search", "--onlyvisible", "--pid", std::to_string(pid),
                       "--name", "."},
                      {}, 5s)
              .output.empty();
}

// One run of a program: spawn to visible window, then trigger to the expected request.
Timing measure(const std::vector<std::string>& argv, const std::vector<std::string>& trigger,
               const std::string& log_path, const std::string& want) {
  Timing timing;
  const auto spawned = Clock::now();
  ChildProcess program = ChildProcess::start(argv);
  if (!wait_until([&] { return window_shown(program.pid()); }, 60s, 5ms)) return timing;
  timing.start_ms = ms_since(spawned);
  std::this_thread::sleep_for(500ms);
  const std::size_t log_start = read_file(log_path).size();
  xdotool({"mousemove", std::to_string(left + 300), std::to_string(top + 480), "click", "1"});
  for (const std::string& step : trigger) {
    if (step.rfind("type:", 0) == 0) {
      type_text(step.substr(5));
    } else {
      xdotool({"mousemove", std::to_string(left + 452), std::to_string(top + 480)});
    }
  }
  const auto pressed = Clock::now();
  xdotool(trigger.empty() ? std::vector<std::string>{"key", "Return"}
                          : std::vector<std::string>{"click", "1"});
  if (wait_until([&] { return read_file(log_path).find(want, log_start) != std::string::npos; },
                 30s, 2ms)) {
    timing.lookup_ms = ms_since(pressed);
  }
  xdotool({"key", "Escape"});
  program.wait_for_exit(10s);
  return timing;
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? -1 : values[values.size() / 2];
}

}  // namespace

int main() {
  XvfbServer x_server(1280, 1024);
  if (x_server.display().empty()) return 1;
  setenv("DISPLAY", x_server.display().c_str(), 1);
  setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);
  setenv("WEBKIT_DISABLE_SANDBOX_THIS_IS_DANGEROUS", "1", 1);
  const std::string log_path = "/tmp/window_bench_requests.log";
  const std::string port_path = "/tmp/window_bench_port";
  std::remove(log_path.c_str());
  std::remove(port_path.c_str());
  ChildProcess server = ChildProcess::start({"python3", ROOMVIEW_DEMO_PLATFORM, "--port",
                                             std::to_string(ROOMVIEW_BENCH_PORT), "--port-file",
                                             port_path, "--log", log_path});
  if (!wait_until([&] { return !read_file(port_path).empty(); }, 15s)) return 1;
  const std::string root = "http://127.0.0.1:" + std::to_string(ROOMVIEW_BENCH_PORT) + "/";
  const std::string player = "GET /apple/player/livePlayer10.5.swf?fileName=live_bench ";

  std::vector<double> tool_start, tool_lookup, bare_start, bare_load;
  for (int round = 0; round < rounds; ++round) {
    const Timing tool = measure({ROOMVIEW_BENCH_APP}, {"type:bench", "button"}, log_path, player);
    const Timing bare = measure(
        {ROOMVIEW_BARE_WINDOW, root + "apple/player/livePlayer10.5.swf?fileName=live_bench"}, {},
        log_path, player);
    if (tool.start_ms < 0 || tool.lookup_ms < 0 || bare.start_ms < 0 || bare.lookup_ms < 0) {
      std::fprintf(stderr, "round %d: no window or no player request (tool %.0f/%.0f, bare %.0f/%.0f)\n",
                   round, tool.start_ms, tool.lookup_ms, bare.start_ms, bare.lookup_ms);
      return 1;
    }
    tool_start.push_back(tool.start_ms);
    tool_lookup.push_back(tool.lookup_ms);
    bare_start.push_back(bare.start_ms);
    bare_load.push_back(bare.lookup_ms);
  }
  std::printf("median of %d rounds        tool      bare WebKit window   ratio\n", rounds);
  std::printf("start to shown window   %8.1f ms  %8.1f ms          %5.2f\n", median(tool_start),
              median(bare_start), median(tool_start) / median(bare_start));
  std::printf("press to player request %8.1f ms  %8.1f ms          %5.2f\n", median(tool_lookup),
              median(bare_load), median(tool_lookup) / median(bare_load));
  return 0;
}
