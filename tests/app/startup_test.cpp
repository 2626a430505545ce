// Start-up and shutdown in this process, so that the thread's COM and OLE counts can be read
// once the program has returned: a lookup runs, Esc closes the window, and everything that was
// initialised on the way has been uninitialised again.

#include "app/startup.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "platform/com/com.h"
#include "tests/support/child_process.h"
#include "tests/support/desktop_input.h"

using namespace std::chrono_literals;

namespace {

TEST(StartupTest, LookupThenEscapeLeavesComAndOleAsTheyWere) {
  XvfbServer x_server(1280, 1024);
  ASSERT_FALSE(x_server.display().empty());
  setenv("DISPLAY", x_server.display().c_str(), 1);
  const std::string log_path = ::testing::TempDir() + "startup_test_requests.log";
  const std::string port_path = ::testing::TempDir() + "startup_test_port";
  std::remove(log_path.c_str());
  std::remove(port_path.c_str());
  ChildProcess server = ChildProcess::start({"python3", ROOMVIEW_DEMO_PLATFORM, "--port",
                                             std::to_string(ROOMVIEW_E2E_PORT), "--port-file",
                                             port_path, "--log", log_path});
  ASSERT_TRUE(wait_until([&] { return !read_file(port_path).empty(); }, 15s));

  ASSERT_EQ(com_initialization_count(), 0U);
  ASSERT_EQ(ole_initialization_count(), 0U);
  bool player_requested = false;
  // The user, on a thread of its own while the program owns this one.
  std::thread user([&] {
    const int left = (1280 - 661) / 2;
    const int top = (1024 - 531) / 2;
    wait_until(
        [] {
          return !run_command({"xdotool", "search", "--onlyvisible", "--name", "roomview"}, {},
                              10s)
                      .output.empty();
        },
        90s, 200ms);
    std::this_thread::sleep_for(500ms);
    const std::string x = std::to_string(left + 300);
    const std::string y = std::to_string(top + 480);
    xdotool({"mousemove", x, y, "click", "1"});
    type_text("counts");
    xdotool({"mousemove", std::to_string(left + 452), y, "click", "1"});
    player_requested = wait_until(
        [&] {
          return read_file(log_path).find("fileName=live_counts ") != std::string::npos;
        },
        60s, 100ms);
    xdotool({"mousemove", x, y});
    xdotool({"key", "Escape"});
  });
  const int exit_code = run_program();
  user.join();
  EXPECT_EQ(exit_code, 0);
  EXPECT_TRUE(player_requested);
  EXPECT_EQ(com_initialization_count(), 0U);
  EXPECT_EQ(ole_initialization_count(), 0U);
}

}  // namespace
