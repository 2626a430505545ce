// The GUI stand-in in a real X server: input comes from xdotool as a user's would, and the
// browser box's requests arrive at the demo platform.

#include "platform/gui/window.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/pending_events.h"
#include "tests/support/child_process.h"
#include "tests/support/desktop_input.h"

using namespace std::chrono_literals;

namespace {

constexpr int window_left = 100;
constexpr int window_top = 50;

class XEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    server_ = std::make_unique<XvfbServer>(1024, 768);
    ASSERT_FALSE(server_->display().empty()) << "Xvfb did not start";
    setenv("DISPLAY", server_->display().c_str(), 1);
  }
  void TearDown() override { server_.reset(); }

 private:
  std::unique_ptr<XvfbServer> server_;
};

const auto* const x_environment = ::testing::AddGlobalTestEnvironment(new XEnvironment);

void pump_for(std::chrono::milliseconds duration) {
  const auto end = std::chrono::steady_clock::now() + duration;
  while (std::chrono::steady_clock::now() < end) {
    process_pending_events();
    std::this_thread::sleep_for(10ms);
  }
}

// Screen coordinates of a point in the client area: there is no window manager, so no frame.
std::vector<std::string> click_at(int x, int y) {
  return {"mousemove", std::to_string(window_left + x), std::to_string(window_top + y),
          "click", "1"};
}

// The controls at the places the tool gives them, with a counted click.
struct TestWindow {
  HWND window = nullptr;
  HWND label = nullptr;
  HWND edit = nullptr;
  HWND button = nullptr;
  HWND browser = nullptr;
  int clicks = 0;
  std::function<void()> on_click = [] {};

  TestWindow() {
    window = CreateMainWindow("test window", window_left, window_top, 661, 531);
    label = CreateLabel(window, "label", 152, 464, 72, 32);
    edit = CreateEditBox(window, 248, 464, 104, 32);
    button = CreateButton(window, "button", 376, 464, 152, 32, [this] {
      ++clicks;
      on_click();
    });
    browser = CreateBrowserBox(window, 8, 8, 640, 448);
    ShowWindow(window, SW_SHOW);
    pump_for(700ms);
  }
  ~TestWindow() {
    if (IsWindow(window)) {
      DestroyWindow(window);
      // Takes the quit message that the last window's end posted.
      RunMessageLoop();
    }
  }
  std::string edit_text() const {
    char buffer[256];
    const int count = GetWindowTextA(edit, buffer, sizeof buffer);
    return std::string(buffer, static_cast<std::size_t>(count));
  }
};

TEST(WindowTest, MakesNoWindowOrControlWithoutAParent) {
  EXPECT_EQ(CreateEditBox(nullptr, 0, 0, 10, 10), nullptr);
  EXPECT_EQ(CreateButton(nullptr, "b", 0, 0, 10, 10, [] {}), nullptr);
  EXPECT_EQ(ShowWindow(nullptr, SW_SHOW), FALSE);
  EXPECT_EQ(Navigate(nullptr, "http://127.0.0.1/"), FALSE);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
  EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
}

TEST(WindowTest, KeyboardReachesTheControlsInTheirOrder) {
  struct Case {
    const char* name;
    std::vector<std::string> keys;  // pressed with the focus in the edit box
    const char* typed;              // typed afterwards
    std::string want_text;
    int want_clicks;
  };
  const Case cases[] = {
      {.name = "tab reaches the button", .keys = {"Tab", "space"}, .typed = "", .want_text = "",
       .want_clicks = 1},
      {.name = "three tabs come back to the edit box", .keys = {"Tab", "Tab", "Tab"},
       .typed = "x", .want_text = "x", .want_clicks = 0},
      {.name = "shift tab goes to the browser first",
       .keys = {"shift+Tab", "shift+Tab", "space"}, .typed = "", .want_text = "",
       .want_clicks = 1},
      {.name = "the browser takes typed keys away from the box", .keys = {"Tab", "Tab"},
       .typed = "y", .want_text = "", .want_clicks = 0},
      {.name = "enter in the edit box does nothing", .keys = {"Return"}, .typed = "",
       .want_text = "", .want_clicks = 0},
      {.name = "a CR goes into the text, the key does nothing", .keys = {"Return"},
       .typed = "a\rb", .want_text = "a\rb", .want_clicks = 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestWindow w;
    ASSERT_TRUE(xdotool(click_at(300, 480)));
    pump_for(200ms);
    for (const std::string& key : c.keys) {
      ASSERT_TRUE(xdotool({"key", key}));
      pump_for(100ms);
    }
    ASSERT_TRUE(type_text(c.typed));
    pump_for(300ms);
    EXPECT_EQ(w.edit_text(), c.want_text);
    EXPECT_EQ(w.clicks, c.want_clicks);
    EXPECT_TRUE(IsWindow(w.window));
  }
}

TEST(WindowTest, EscapeClosesTheWindowFromEveryControl) {
  struct Case {
    const char* name;
    int x, y;  // where the focus is put
  };
  const Case cases[] = {
      {.name = "edit box", .x = 300, .y = 480},
      {.name = "button", .x = 452, .y = 480},
      {.name = "browser", .x = 300, .y = 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestWindow w;
    ASSERT_TRUE(xdotool(click_at(c.x, c.y)));
    pump_for(200ms);
    ASSERT_TRUE(xdotool({"key", "Escape"}));
    pump_for(300ms);
    EXPECT_FALSE(IsWindow(w.window));
    EXPECT_FALSE(IsWindow(w.edit));
    EXPECT_EQ(GetWindowTextLengthA(w.edit), 0);
    EXPECT_EQ(Navigate(w.browser, "http://127.0.0.1/"), FALSE);
    ASSERT_FALSE(IsWindow(w.window)) << "the loop below would wait for ever";
    // The last window is gone: the quit message waits, so the loop returns at once.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(RunMessageLoop(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
  }
}

TEST(WindowTest, EditBoxTextComesBackAsGbk) {
  struct Case {
    const char* name;
    const char* typed;  // UTF-8, as xdotool takes it
    int max_count;
    std::string want;
    int want_length;
  };
  const Case cases[] = {
      {.name = "ascii", .typed = "room 42", .max_count = 64, .want = "room 42", .want_length = 7},
      {.name = "chinese", .typed = "a\xE7\x9B\xB4\xE6\x92\xAD",  // a + "live broadcast", UTF-8
       .max_count = 64, .want = "a\xD6\xB1\xB2\xA5", .want_length = 5},  // the same in GBK
      {.name = "buffer ends after a whole character", .typed = "a\xE7\x9B\xB4\xE6\x92\xAD",
       .max_count = 4, .want = "a\xD6\xB1", .want_length = 5},
      {.name = "buffer would cut a character", .typed = "a\xE7\x9B\xB4\xE6\x92\xAD",
       .max_count = 3, .want = "a", .want_length = 5},
      {.name = "a character outside GBK", .typed = "\xF0\x9F\x98\x80",  // an emoji
       .max_count = 64, .want = "?", .want_length = 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestWindow w;
    ASSERT_TRUE(xdotool(click_at(300, 480)));
    pump_for(200ms);
    ASSERT_TRUE(type_text(c.typed));
    pump_for(400ms);
    std::string buffer(static_cast<std::size_t>(c.max_count), '\xFF');
    const int count = GetWindowTextA(w.edit, buffer.data(), c.max_count);
    EXPECT_EQ(std::string(buffer.data(), static_cast<std::size_t>(count)), c.want);
    EXPECT_EQ(buffer[static_cast<std::size_t>(count)], '\0');
    EXPECT_EQ(GetWindowTextLengthA(w.edit), c.want_length);
  }
}

TEST(WindowTest, PumpStepDispatchesWhatWaitsAndStopsAtQuit) {
  TestWindow w;
  // Nothing waits: the step returns without waiting for anything to come.
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 100; ++i) process_pending_events();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

  // A click made while nobody pumps is dispatched by the next step.
  xdotool(click_at(452, 480));
  process_pending_events();
  pump_for(100ms);
  EXPECT_EQ(w.clicks, 1);

  // The first click posts quit: the second stays undispatched, and the loop ends at once.
  w.on_click = [] { PostQuitMessage(7); };
  xdotool(click_at(452, 480));
  xdotool(click_at(452, 480));
  pump_for(300ms);
  EXPECT_EQ(w.clicks, 2);
  EXPECT_EQ(RunMessageLoop(), 7);
}

// The page loads through the browser's own network stack; what reaches the server is the
// request line that address turned into.
TEST(WindowTest, NavigateKeepsTheRequestLineWellFormed) {
  const std::string log_path = ::testing::TempDir() + "window_test_requests.log";
  const std::string port_path = ::testing::TempDir() + "window_test_port";
  std::remove(log_path.c_str());
  std::remove(port_path.c_str());
  ChildProcess server = ChildProcess::start(
      {"python3", ROOMVIEW_DEMO_PLATFORM, "--port", "0", "--port-file", port_path, "--log",
       log_path});
  ASSERT_TRUE(wait_until([&] { return !read_file(port_path).empty(); }, 10s));
  std::string port = read_file(port_path);
  port.erase(port.find('\n'));
  const std::string root = "http://127.0.0.1:" + port + "/";

  struct Case {
    const char* name;
    std::string address_tail;  // GBK, after the root
    std::string want_target;
  };
  const Case cases[] = {
      {.name = "plain", .address_tail = "p?fileName=abc", .want_target = "/p?fileName=abc"},
      {.name = "space", .address_tail = "p?fileName=a b", .want_target = "/p?fileName=a%20b"},
      {.name = "CR LF and tab", .address_tail = "p?fileName=a\r\nb\tc",
       .want_target = "/p?fileName=a%0D%0Ab%09c"},
      {.name = "GBK becomes UTF-8", .address_tail = "p?fileName=\xD6\xD0",  // "middle"
       .want_target = "/p?fileName=%E4%B8%AD"},
      {.name = "quotes and angle brackets", .address_tail = "p?fileName=\"<x>\"",
       .want_target = "/p?fileName=%22%3Cx%3E%22"},
      {.name = "ampersand keeps its meaning", .address_tail = "p?fileName=a&b=c",
       .want_target = "/p?fileName=a&b=c"},
      {.name = "hash starts the fragment", .address_tail = "p?fileName=a#b",
       .want_target = "/p?fileName=a"},
      {.name = "an escape stays as written", .address_tail = "p?fileName=a%26b",
       .want_target = "/p?fileName=a%26b"},
  };
  TestWindow w;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The server keeps the log open, so each row reads only what came after its start.
    const std::size_t log_start = read_file(log_path).size();
    const std::string address = root + c.address_tail;
    ASSERT_EQ(Navigate(w.browser, address.c_str()), TRUE);
    const std::string want_line = "GET " + c.want_target + " HTTP/1.1\r\n";
    const bool arrived = wait_until(
        [&] {
          process_pending_events();
          return read_file(log_path).find(want_line, log_start) != std::string::npos;
        },
        10s, 20ms);
    EXPECT_TRUE(arrived) << "log: " << read_file(log_path).substr(log_start);
  }
  EXPECT_EQ(Navigate(w.browser, ""), FALSE);
}

}  // namespace
