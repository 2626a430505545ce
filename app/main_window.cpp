#include "app/main_window.h"

#include <vector>

#include "net/web_request.h"

namespace {

constexpr char window_title[] = "roomview";
constexpr int window_width = 661;
constexpr int window_height = 531;

constexpr char label_1_text[] = "\xD6\xB1\xB2\xA5\xBC\xE4" "ID" "\xA3\xBA";  // "直播间ID："
constexpr char button_1_caption[] =
    "\xD2\xBB\xBC\xFC\xBB\xF1\xC8\xA1\xD6\xB1\xB2\xA5\xCA\xFD\xBE\xDD";  // "一键获取直播数据"

Text window_text(HWND control) {
  const int byte_count = GetWindowTextLengthA(control);
  if (byte_count <= 0) return {};
  std::vector<char> buffer(static_cast<std::size_t>(byte_count) + 1, '\0');
  const int copied = GetWindowTextA(control, buffer.data(), byte_count + 1);
  return Text(buffer.data(), static_cast<std::size_t>(copied > 0 ? copied : 0));
}

}  // namespace

const Text platform_root = ROOMVIEW_PLATFORM_ROOT;

MainWindow::~MainWindow() {
  if (IsWindow(window_)) DestroyWindow(window_);
}

bool MainWindow::create() {
  const int left = (GetSystemMetrics(SM_CXSCREEN) - window_width) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - window_height) / 2;
  window_ = CreateMainWindow(window_title, left, top, window_width, window_height);
  if (window_ == nullptr) return false;
  // Creation order is the focus order: edit box, button, browser box.
  label_1_ = CreateLabel(window_, label_1_text, 152, 464, 72, 32);
  edit_box_1_ = CreateEditBox(window_, 248, 464, 104, 32);
  button_1_ = CreateButton(window_, button_1_caption, 376, 464, 152, 32,
                           [this] { lookup_stream(); });
  browser_box_1_ = CreateBrowserBox(window_, 8, 8, 640, 448);
  if (label_1_ == nullptr || edit_box_1_ == nullptr || button_1_ == nullptr ||
      browser_box_1_ == nullptr) {
    DestroyWindow(window_);
    window_ = nullptr;
    return false;
  }
  ShowWindow(window_, SW_SHOW);
  return true;
}

void MainWindow::lookup_stream() {
  Text room_url = platform_root + window_text(edit_box_1_);
  Text page = web_request({.url = room_url, .method = 0});
  room_url.clear();
  // The request lets waiting messages through; a close among them destroyed the controls.
  if (!IsWindow(browser_box_1_)) return;
  shared_regex_.create(stream_name_pattern, page);
  page.clear();
  Text player_url = platform_root + player_path + shared_regex_.submatch_text(1, 1);
  Navigate(browser_box_1_, player_url.c_str());
}
