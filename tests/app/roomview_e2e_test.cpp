// The real program in a real X server against the demo platform: input from xdotool, and on
// the server's side the raw request lines of the room page and of the browser's player page.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/desktop_input.h"

using namespace std::chrono_literals;

namespace {

constexpr int screen_width = 1280;
constexpr int screen_height = 1024;
// Centred on the screen; without a window manager there is no frame around the client area.
constexpr int window_left = (screen_width - 661) / 2;
constexpr int window_top = (screen_height - 531) / 2;

const std::string player_target = "/apple/player/livePlayer10.5.swf?fileName=";

class Desktop : public ::testing::Environment {
 public:
  void SetUp() override {
    server_ = std::make_unique<XvfbServer>(screen_width, screen_height);
    ASSERT_FALSE(server_->display().empty()) << "Xvfb did not start";
    setenv("DISPLAY", server_->display().c_str(), 1);
  }
  void TearDown() override { server_.reset(); }

 private:
  std::unique_ptr<XvfbServer> server_;
};

const auto* const desktop = ::testing::AddGlobalTestEnvironment(new Desktop);

std::vector<std::string> split_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

std::string request_line(const std::string& target) { return "GET " + target + " HTTP/1.1"; }

// One run of the tool against a demo platform started with server_args.
class ToolRun {
 public:
  explicit ToolRun(const std::vector<std::string>& server_args) {
    const std::string dir = ::testing::TempDir();
    log_path_ = dir + "roomview_e2e_requests.log";
    const std::string port_path = dir + "roomview_e2e_port";
    std::remove(log_path_.c_str());
    std::remove(port_path.c_str());
    std::vector<std::string> argv = {"python3", ROOMVIEW_DEMO_PLATFORM, "--port",
                                     std::to_string(ROOMVIEW_E2E_PORT), "--port-file",
                                     port_path, "--log", log_path_};
    argv.insert(argv.end(), server_args.begin(), server_args.end());
    server_ = ChildProcess::start(argv);
    if (!wait_until([&] { return !read_file(port_path).empty(); }, 15s)) return;
    tool_ = ChildProcess::start({ROOMVIEW_E2E_APP});
    if (!tool_.started()) return;
    wait_until(
        [&] {
          const CommandResult found =
              run_command({"xdotool", "search", "--onlyvisible", "--pid",
                           std::to_string(tool_.pid()), "--name", "roomview"},
                          {}, 10s);
          window_id_ = found.output.substr(0, found.output.find('\n'));
          return !window_id_.empty();
        },
        90s, 200ms);
    // The browser view settles after the window is mapped.
    std::this_thread::sleep_for(500ms);
  }

  [[nodiscard]] bool ready() const { return !window_id_.empty(); }
  [[nodiscard]] const std::string& window_id() const { return window_id_; }
  ChildProcess& tool() { return tool_; }

  static bool click(int x, int y) {
    return xdotool({"mousemove", std::to_string(window_left + x),
                    std::to_string(window_top + y), "click", "1"});
  }
  static bool click_edit_box() { return click(300, 480); }
  static bool click_button() { return click(452, 480); }

  [[nodiscard]] std::vector<std::string> requests() const {
    return split_lines(read_file(log_path_));
  }
  bool wait_for_request(const std::string& line, std::chrono::milliseconds timeout) const {
    return wait_until(
        [&] {
          for (const std::string& seen : requests()) {
            if (seen == line) return true;
          }
          return false;
        },
        timeout, 100ms);
  }

  // Esc with the pointer over the window; the exit code once the tool has ended.
  std::optional<int> close_with_escape() {
    xdotool({"mousemove", std::to_string(window_left + 300), std::to_string(window_top + 480)});
    xdotool({"key", "Escape"});
    return tool_.wait_for_exit(60s);
  }

 private:
  std::string log_path_;
  ChildProcess server_;
  ChildProcess tool_;
  std::string window_id_;
};

// A request line as a server reads it: method, a target without blanks or controls, version.
void expect_well_formed(const std::vector<std::string>& lines) {
  static const std::regex shape(R"(GET /[\x21-\x7E]* HTTP/1\.1)");
  for (const std::string& line : lines) {
    EXPECT_TRUE(std::regex_match(line, shape)) << "malformed request line: " << line.substr(0, 200);
  }
}

// The lines for a failure message, each cut short.
std::string describe(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += "\n  " + line.substr(0, 160);
  return text;
}

// Position of the first line equal to want, or -1.
int index_of(const std::vector<std::string>& lines, const std::string& want) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] == want) return static_cast<int>(i);
  }
  return -1;
}

TEST(RoomviewEndToEnd, LookupEndsOnThePlayerForTheRoom) {
  struct Case {
    const char* name;
    std::vector<std::string> server_args;
    std::string room;  // UTF-8, as typed
    std::string want_room_target;
    std::string want_file_name;  // as the browser sends it
    std::chrono::seconds wait = 30s;
  };
  const Case cases[] = {
      {.name = "digits", .server_args = {}, .room = "12345", .want_room_target = "/12345",
       .want_file_name = "live_12345"},
      {.name = "letter case of the room kept", .server_args = {}, .room = "AbC",
       .want_room_target = "/AbC", .want_file_name = "live_AbC"},
      {.name = "space in the room", .server_args = {}, .room = "a b",
       .want_room_target = "/a%20b", .want_file_name = "live_a_b"},
      {.name = "chinese room", .server_args = {},
       .room = "\xE7\x9B\xB4\xE6\x92\xAD",  // "live broadcast", UTF-8
       .want_room_target = "/%E7%9B%B4%E6%92%AD", .want_file_name = "live___"},
      {.name = "CR LF in the room", .server_args = {}, .room = "a\r\nb",
       .want_room_target = "/a%0D%0Ab", .want_file_name = "live_a__b"},
      {.name = "control character in the room", .server_args = {}, .room = "a\x07" "b",
       .want_room_target = "/a%07b", .want_file_name = "live_a_b"},
      {.name = "empty box asks for the root", .server_args = {}, .room = "",
       .want_room_target = "/", .want_file_name = "live_"},
      {.name = "keys in capitals match", .server_args = {"--upper-case"}, .room = "up",
       .want_room_target = "/up", .want_file_name = "live_up"},
      {.name = "page without the pattern", .server_args = {"--no-pattern"}, .room = "np",
       .want_room_target = "/np", .want_file_name = ""},
      {.name = "failed request", .server_args = {"--drop-rooms"}, .room = "gone",
       .want_room_target = "/gone", .want_file_name = ""},
      // A quote and a blank are encoded for the browser; "#" starts its fragment, "&" stays.
      {.name = "stream with quote, blank, hash", .server_args = {"--stream-name", "a\"b c&d#e"},
       .room = "q", .want_room_target = "/q", .want_file_name = "a%22b%20c&d"},
      {.name = "non-ascii stream", .server_args = {"--stream-name", "\xE4\xB8\xAD"},  // "middle"
       .room = "n", .want_room_target = "/n", .want_file_name = "%E4%B8%AD"},
      {.name = "64 MiB page, the name at its end", .server_args = {"--huge-mib", "64"},
       .room = "big", .want_room_target = "/big", .want_file_name = "live_big", .wait = 120s},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ToolRun run(c.server_args);
    ASSERT_TRUE(run.ready()) << "no window";
    ASSERT_TRUE(ToolRun::click_edit_box());
    ASSERT_TRUE(type_text(c.room));
    ASSERT_TRUE(ToolRun::click_button());
    const std::string player_line = request_line(player_target + c.want_file_name);
    EXPECT_TRUE(run.wait_for_request(player_line, c.wait)) << describe(run.requests());
    const auto lines = run.requests();
    const int room_index = index_of(lines, request_line(c.want_room_target));
    EXPECT_GE(room_index, 0);
    EXPECT_LT(room_index, index_of(lines, player_line));
    expect_well_formed(lines);
    EXPECT_EQ(run.close_with_escape(), 0);
  }
}

TEST(RoomviewEndToEnd, LongRoomIdentifierGoesOutWhole) {
  const std::string room(10000, 'r');
  ToolRun run({});
  ASSERT_TRUE(run.ready());
  ASSERT_TRUE(ToolRun::click_edit_box());
  // A thousand typed, then copied and pasted nine times after themselves.
  ASSERT_TRUE(xdotool({"type", "--delay", "0", room.substr(0, 1000)}));
  ASSERT_TRUE(xdotool({"key", "ctrl+a", "ctrl+c", "End"}));
  for (int i = 0; i < 9; ++i) ASSERT_TRUE(xdotool({"key", "ctrl+v"}));
  ASSERT_TRUE(ToolRun::click_button());
  EXPECT_TRUE(run.wait_for_request(request_line(player_target + "live_" + room), 60s))
      << describe(run.requests());
  const auto lines = run.requests();
  EXPECT_GE(index_of(lines, request_line("/" + room)), 0);
  expect_well_formed(lines);
  EXPECT_EQ(run.close_with_escape(), 0);
}

TEST(RoomviewEndToEnd, KeyboardAloneStartsNoLookupUntilTheButton) {
  ToolRun run({});
  ASSERT_TRUE(run.ready());
  ASSERT_TRUE(ToolRun::click_edit_box());
  ASSERT_TRUE(type_text("kb"));
  ASSERT_TRUE(xdotool({"key", "Return"}));
  std::this_thread::sleep_for(1500ms);
  EXPECT_TRUE(run.requests().empty()) << "Enter started a lookup";
  // Tab leads from the edit box to the button, and space presses it.
  ASSERT_TRUE(xdotool({"key", "Tab"}));
  ASSERT_TRUE(xdotool({"key", "space"}));
  EXPECT_TRUE(run.wait_for_request(request_line(player_target + "live_kb"), 30s));
  EXPECT_EQ(index_of(run.requests(), request_line("/kb")), 0);
  EXPECT_EQ(run.close_with_escape(), 0);
}

TEST(RoomviewEndToEnd, EscapeInTheEditBoxEndsTheProgram) {
  ToolRun run({});
  ASSERT_TRUE(run.ready());
  ASSERT_TRUE(ToolRun::click_edit_box());
  ASSERT_TRUE(type_text("typed"));
  ASSERT_TRUE(xdotool({"key", "Escape"}));
  EXPECT_EQ(run.tool().wait_for_exit(60s), 0);
  EXPECT_TRUE(run.requests().empty());
}

TEST(RoomviewEndToEnd, SecondPressDuringASlowRequestNestsAndTheFirstNavigatesLast) {
  ToolRun run({"--slow", "3"});
  ASSERT_TRUE(run.ready());
  ASSERT_TRUE(ToolRun::click_edit_box());
  ASSERT_TRUE(type_text("first"));
  ASSERT_TRUE(ToolRun::click_button());
  ASSERT_TRUE(run.wait_for_request(request_line("/first"), 20s));
  // Queued while the tool waits; dispatched at the request's pump points.
  ASSERT_TRUE(ToolRun::click_edit_box());
  ASSERT_TRUE(xdotool({"key", "ctrl+a"}));
  ASSERT_TRUE(type_text("second"));
  ASSERT_TRUE(ToolRun::click_button());
  EXPECT_TRUE(run.wait_for_request(request_line("/second"), 30s));
  EXPECT_TRUE(run.wait_for_request(request_line(player_target + "live_first"), 30s));
  std::this_thread::sleep_for(1500ms);
  const auto lines = run.requests();
  EXPECT_LT(index_of(lines, request_line("/first")), index_of(lines, request_line("/second")));
  std::vector<std::string> player_lines;
  for (const std::string& line : lines) {
    if (line.find(player_target) != std::string::npos) player_lines.push_back(line);
  }
  ASSERT_FALSE(player_lines.empty());
  EXPECT_EQ(player_lines.back(), request_line(player_target + "live_first"));
  EXPECT_EQ(run.close_with_escape(), 0);
}

TEST(RoomviewEndToEnd, ClosingDuringASlowRequestExitsCleanly) {
  ToolRun run({"--slow", "3"});
  ASSERT_TRUE(run.ready());
  ASSERT_TRUE(ToolRun::click_edit_box());
  ASSERT_TRUE(type_text("closing"));
  ASSERT_TRUE(ToolRun::click_button());
  ASSERT_TRUE(run.wait_for_request(request_line("/closing"), 20s));
  ASSERT_TRUE(xdotool({"key", "Escape"}));
  EXPECT_EQ(run.tool().wait_for_exit(60s), 0);
  for (const std::string& line : run.requests()) {
    EXPECT_EQ(line.find(player_target), std::string::npos) << "navigated after the close";
  }
}

TEST(RoomviewEndToEnd, ServerThatNeverAnswersEndsAtTheTimeOut) {
  ToolRun run({"--never-answer"});
  ASSERT_TRUE(run.ready());
  ASSERT_TRUE(ToolRun::click_edit_box());
  ASSERT_TRUE(type_text("mute"));
  const auto pressed = std::chrono::steady_clock::now();
  ASSERT_TRUE(ToolRun::click_button());
  // The default 30-second receive time-out, then the empty stream name.
  EXPECT_TRUE(run.wait_for_request(request_line(player_target), 75s));
  const auto waited = std::chrono::steady_clock::now() - pressed;
  EXPECT_GE(waited, 25s);
  EXPECT_EQ(run.close_with_escape(), 0);
}

TEST(RoomviewEndToEnd, WithoutADisplayTheProgramFailsAtOnce) {
  ChildProcess tool = ChildProcess::start({ROOMVIEW_E2E_APP}, {"DISPLAY", "WAYLAND_DISPLAY"});
  // Exit code -1, as the process reports it.
  EXPECT_EQ(tool.wait_for_exit(30s), 255);
}

// The window as the user sees it after a lookup, kept as an artefact and measured.
TEST(RoomviewEndToEnd, WindowHasItsSizePlaceAndControlsAfterALookup) {
  ToolRun run({});
  ASSERT_TRUE(run.ready());
  ASSERT_TRUE(ToolRun::click_edit_box());
  ASSERT_TRUE(type_text("shot"));
  ASSERT_TRUE(ToolRun::click_button());
  ASSERT_TRUE(run.wait_for_request(request_line(player_target + "live_shot"), 30s));
  std::this_thread::sleep_for(2s);  // the player page paints

  const CommandResult geometry =
      run_command({"xdotool", "getwindowgeometry", run.window_id()}, {}, 10s);
  EXPECT_NE(geometry.output.find("Position: " + std::to_string(window_left) + "," +
                                 std::to_string(window_top)),
            std::string::npos)
      << geometry.output;
  EXPECT_NE(geometry.output.find("Geometry: 661x531"), std::string::npos) << geometry.output;

  std::filesystem::create_directories(ROOMVIEW_ARTIFACTS_DIR);
  const std::string shot = std::string(ROOMVIEW_ARTIFACTS_DIR) + "/window_after_lookup.png";
  std::remove(shot.c_str());
  ASSERT_EQ(run_command({"import", "-window", run.window_id(), shot}, {}, 30s).exit_code, 0);

  // Colours at client points: the player page's dark blue fills exactly the browser box.
  struct Case {
    const char* name;
    int x, y;
    bool want_player_colour;
  };
  const Case cases[] = {
      {.name = "browser top left", .x = 9, .y = 9, .want_player_colour = true},
      {.name = "browser bottom right", .x = 646, .y = 454, .want_player_colour = true},
      {.name = "left of the browser", .x = 6, .y = 200, .want_player_colour = false},
      {.name = "above the browser", .x = 300, .y = 6, .want_player_colour = false},
      {.name = "right of the browser", .x = 650, .y = 200, .want_player_colour = false},
      {.name = "below the browser", .x = 300, .y = 458, .want_player_colour = false},
      {.name = "edit box", .x = 340, .y = 470, .want_player_colour = false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string crop = "1x1+" + std::to_string(c.x) + "+" + std::to_string(c.y);
    const CommandResult pixel = run_command(
        {"convert", shot, "-crop", crop, "-depth", "8", "-format", "%[hex:p{0,0}]", "info:"}, {},
        20s);
    const bool is_player = pixel.output.rfind("202840", 0) == 0;
    EXPECT_EQ(is_player, c.want_player_colour) << "pixel " << pixel.output;
  }
  // The edit box is white inside, the button is not.
  const auto colour_at = [&](int x, int y) {
    const std::string crop = "1x1+" + std::to_string(x) + "+" + std::to_string(y);
    return run_command(
               {"convert", shot, "-crop", crop, "-depth", "8", "-format", "%[hex:p{0,0}]", "info:"},
               {}, 20s)
        .output;
  };
  EXPECT_EQ(colour_at(345, 468).substr(0, 6), "FFFFFF");
  EXPECT_NE(colour_at(380, 468).substr(0, 6), "FFFFFF");
  EXPECT_EQ(run.close_with_escape(), 0);
}

}  // namespace
