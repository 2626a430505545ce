#pragma once

// MainWindow: the tool's one window, with its four controls and the stream lookup that the
// button runs.

#include "platform/gui/window.h"
#include "regex/regex_object.h"
#include "text/text.h"

// The platform's web host root, fixed when the program is built.
extern const Text platform_root;
// The web player and its query key, relative to platform_root.
inline constexpr char player_path[] = "apple/player/livePlayer10.5.swf?fileName=";
// The value of "flvtitle" where the key "sound" follows it; one capture group.
inline constexpr char stream_name_pattern[] = R"re(,"flvtitle":"(.*?)","sound")re";

class MainWindow {
 public:
  // The lookups search with shared_regex, which must outlive this window.
  explicit MainWindow(RegexObject& shared_regex) : shared_regex_(shared_regex) {}
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  // Destroys the window when it is still there.
  ~MainWindow();

  // Creates the window centred on the primary screen with its controls, and shows it.
  // False when it cannot be made (no display); nothing is left behind then.
  [[nodiscard]] bool create();

  // The click of button_1: reads the room identifier, fetches the room page, takes the
  // stream name out of it and sends the browser box to the player for that stream. Every
  // failure ends on the player address with nothing after "fileName=". When the window is
  // closed while the request waits, the lookup ends once the request returns.
  void lookup_stream();

 private:
  RegexObject& shared_regex_;
  HWND window_ = nullptr;
  HWND label_1_ = nullptr;        // 标签1
  HWND edit_box_1_ = nullptr;     // 编辑框1
  HWND button_1_ = nullptr;       // 按钮1
  HWND browser_box_1_ = nullptr;  // 超文本浏览框1
};
