#include "platform/gui/window.h"

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/codepage/codepage.h"
#include "platform/gui/pending_events.h"

namespace {

enum class Kind { TopLevel, Label, EditBox, Button, BrowserBox };

struct Entry {
  Kind kind;
  GtkWidget* widget;  // owned by GTK: the top level by its toplevel list, children by it
  std::uintptr_t parent_id = 0;
  std::function<void()> on_click = {};
  GtkWidget* fixed = nullptr;                    // top level only: the client area
  std::vector<std::uintptr_t> focus_order = {};  // top level only: controls taking focus
};

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
struct MainLoopUnref {
  void operator()(GMainLoop* loop) const { g_main_loop_unref(loop); }
};

// One GUI thread owns all of this, as the window data of the process.
std::map<std::uintptr_t, Entry> entries;
std::uintptr_t next_id = 0x10;
bool gtk_ready = false;
bool quit_posted = false;
int quit_code = 0;
GMainLoop* running_loop = nullptr;
std::unique_ptr<GtkCssProvider, GObjectUnref> control_css;

// A pump step that keeps finding work (an idle source re-arming itself) must still return.
constexpr int max_pump_iterations = 1000;

bool ensure_gtk() {
  if (!gtk_ready) gtk_ready = gtk_init_check(nullptr, nullptr) != FALSE;
  return gtk_ready;
}

HWND to_handle(std::uintptr_t id) { return reinterpret_cast<HWND>(id); }
std::uintptr_t to_id(HWND handle) { return reinterpret_cast<std::uintptr_t>(handle); }

Entry* find_entry(HWND handle) {
  auto found = entries.find(to_id(handle));
  return found == entries.end() ? nullptr : &found->second;
}

std::u16string to_utf16(UINT code_page, std::string_view text) {
  if (text.empty()) return {};
  const int source_count = static_cast<int>(text.size());
  const int unit_count =
      MultiByteToWideChar(code_page, 0, text.data(), source_count, nullptr, 0);
  if (unit_count <= 0) return {};
  std::u16string units(static_cast<std::size_t>(unit_count), u'\0');
  MultiByteToWideChar(code_page, 0, text.data(), source_count, units.data(), unit_count);
  return units;
}

std::string from_utf16(UINT code_page, const std::u16string& units) {
  if (units.empty()) return {};
  const int unit_count = static_cast<int>(units.size());
  const int byte_count = WideCharToMultiByte(code_page, 0, units.data(), unit_count, nullptr,
                                             0, nullptr, nullptr);
  if (byte_count <= 0) return {};
  std::string bytes(static_cast<std::size_t>(byte_count), '\0');
  WideCharToMultiByte(code_page, 0, units.data(), unit_count, bytes.data(), byte_count,
                      nullptr, nullptr);
  return bytes;
}

// GTK speaks UTF-8; the program speaks code page 936.
std::string gbk_to_utf8(LPCSTR text) {
  if (text == nullptr) return {};
  return from_utf16(CP_UTF8, to_utf16(936, text));
}
std::string utf8_to_gbk(const char* text) {
  if (text == nullptr) return {};
  return from_utf16(936, to_utf16(CP_UTF8, text));
}

bool needs_percent_encoding(unsigned char byte) {
  if (byte <= 0x20 || byte >= 0x7F) return true;
  return std::strchr("\"<>\\^`{|}", byte) != nullptr;
}

// Only what no URI may hold is encoded; '%', '#', '&' and the rest keep their meaning.
std::string to_uri(const std::string& utf8) {
  static constexpr char hex_digits[] = "0123456789ABCDEF";
  std::string uri;
  uri.reserve(utf8.size());
  for (const char c : utf8) {
    const auto byte = static_cast<unsigned char>(c);
    if (needs_percent_encoding(byte)) {
      uri += '%';
      uri += hex_digits[byte >> 4];
      uri += hex_digits[byte & 0x0F];
    } else {
      uri += c;
    }
  }
  return uri;
}

void dispatch_pending() {
  for (int i = 0; i < max_pump_iterations && !quit_posted; ++i) {
    if (g_main_context_pending(nullptr) == FALSE) break;
    g_main_context_iteration(nullptr, FALSE);
  }
}

bool any_top_level() {
  for (const auto& [id, entry] : entries) {
    if (entry.kind == Kind::TopLevel) return true;
  }
  return false;
}

void on_top_level_destroyed(GtkWidget*, gpointer data) {
  const auto id = reinterpret_cast<std::uintptr_t>(data);
  for (auto it = entries.begin(); it != entries.end();) {
    if (it->first == id || it->second.parent_id == id) {
      it = entries.erase(it);
    } else {
      ++it;
    }
  }
  if (!any_top_level()) {
    set_pending_events_dispatcher(nullptr);
    PostQuitMessage(0);
  }
}

void move_focus(Entry& top_level, bool backwards) {
  const auto& order = top_level.focus_order;
  if (order.empty()) return;
  GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(top_level.widget));
  std::size_t current = order.size();
  for (std::size_t i = 0; i < order.size(); ++i) {
    const Entry* control = find_entry(to_handle(order[i]));
    if (control == nullptr || focus == nullptr) continue;
    if (focus == control->widget || gtk_widget_is_ancestor(focus, control->widget) != FALSE) {
      current = i;
    }
  }
  std::size_t next = 0;
  if (current == order.size()) {
    next = backwards ? order.size() - 1 : 0;
  } else if (backwards) {
    next = (current + order.size() - 1) % order.size();
  } else {
    next = (current + 1) % order.size();
  }
  if (const Entry* control = find_entry(to_handle(order[next]))) {
    gtk_widget_grab_focus(control->widget);
  }
}

// Connected before the window's own handler, so the keys are ours whichever control has
// the focus, the browser view included.
gboolean on_key_press(GtkWidget* widget, GdkEventKey* event, gpointer data) {
  Entry* top_level = find_entry(to_handle(reinterpret_cast<std::uintptr_t>(data)));
  if (top_level == nullptr) return FALSE;
  const auto modifiers = event->state & gtk_accelerator_get_default_mod_mask();
  if (event->keyval == GDK_KEY_Escape && modifiers == 0) {
    gtk_widget_destroy(widget);
    return TRUE;
  }
  const bool is_tab = event->keyval == GDK_KEY_Tab || event->keyval == GDK_KEY_ISO_Left_Tab ||
                      event->keyval == GDK_KEY_KP_Tab;
  if (is_tab && (modifiers & ~GDK_SHIFT_MASK) == 0) {
    const bool backwards =
        event->keyval == GDK_KEY_ISO_Left_Tab || (modifiers & GDK_SHIFT_MASK) != 0;
    move_focus(*top_level, backwards);
    return TRUE;
  }
  return FALSE;
}

void on_clicked(GtkButton*, gpointer data) {
  Entry* button = find_entry(to_handle(reinterpret_cast<std::uintptr_t>(data)));
  if (button == nullptr || !button->on_click) return;
  // The handler may destroy the window, and this entry with it.
  auto handler = button->on_click;
  handler();
}

// Theme minimum heights would otherwise outgrow the 32-pixel rows of the design.
void fit_to_box(GtkWidget* widget) {
  if (!control_css) {
    control_css.reset(gtk_css_provider_new());
    gtk_css_provider_load_from_data(control_css.get(),
                                    "* { min-height: 0px; padding-top: 0px; "
                                    "padding-bottom: 0px; }",
                                    -1, nullptr);
  }
  gtk_style_context_add_provider(gtk_widget_get_style_context(widget),
                                 GTK_STYLE_PROVIDER(control_css.get()),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
}

HWND add_control(HWND parent, Kind kind, GtkWidget* widget, int left, int top, int width,
                 int height, bool takes_focus) {
  Entry* top_level = find_entry(parent);
  if (top_level == nullptr || top_level->kind != Kind::TopLevel) {
    g_object_ref_sink(widget);
    g_object_unref(widget);
    return nullptr;
  }
  gtk_widget_set_size_request(widget, width, height);
  gtk_fixed_put(GTK_FIXED(top_level->fixed), widget, left, top);
  gtk_widget_set_can_focus(widget, takes_focus ? TRUE : FALSE);
  const std::uintptr_t id = next_id++;
  if (takes_focus) top_level->focus_order.push_back(id);
  entries.emplace(id, Entry{.kind = kind, .widget = widget, .parent_id = to_id(parent)});
  return to_handle(id);
}

}  // namespace

HWND CreateMainWindow(LPCSTR title, int left, int top, int width, int height) {
  if (!ensure_gtk() || width <= 0 || height <= 0) return nullptr;
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), gbk_to_utf8(title).c_str());
  gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
  gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_NORMAL);
  gtk_window_set_skip_taskbar_hint(GTK_WINDOW(window), FALSE);
  gtk_window_set_keep_above(GTK_WINDOW(window), FALSE);
  gtk_window_move(GTK_WINDOW(window), left, top);

  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, width, height);
  gtk_container_add(GTK_CONTAINER(window), fixed);

  const std::uintptr_t id = next_id++;
  entries.emplace(id, Entry{.kind = Kind::TopLevel, .widget = window, .fixed = fixed});
  g_signal_connect(window, "destroy", G_CALLBACK(on_top_level_destroyed),
                   reinterpret_cast<gpointer>(id));
  g_signal_connect(window, "key-press-event", G_CALLBACK(on_key_press),
                   reinterpret_cast<gpointer>(id));
  set_pending_events_dispatcher(dispatch_pending);
  return to_handle(id);
}

HWND CreateLabel(HWND parent, LPCSTR text, int left, int top, int width, int height) {
  if (!gtk_ready) return nullptr;
  GtkWidget* label = gtk_label_new(gbk_to_utf8(text).c_str());
  gtk_label_set_xalign(GTK_LABEL(label), 0.0F);
  gtk_label_set_yalign(GTK_LABEL(label), 0.5F);
  return add_control(parent, Kind::Label, label, left, top, width, height, false);
}

HWND CreateEditBox(HWND parent, int left, int top, int width, int height) {
  if (!gtk_ready) return nullptr;
  GtkWidget* edit = gtk_entry_new();
  // The box's size comes from the design, not from a count of characters.
  gtk_entry_set_width_chars(GTK_ENTRY(edit), 1);
  gtk_entry_set_activates_default(GTK_ENTRY(edit), FALSE);
  fit_to_box(edit);
  return add_control(parent, Kind::EditBox, edit, left, top, width, height, true);
}

HWND CreateButton(HWND parent, LPCSTR caption, int left, int top, int width, int height,
                  std::function<void()> on_click) {
  if (!gtk_ready) return nullptr;
  GtkWidget* button = gtk_button_new_with_label(gbk_to_utf8(caption).c_str());
  if (GtkWidget* label = gtk_bin_get_child(GTK_BIN(button)); GTK_IS_LABEL(label)) {
    gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
    gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_CENTER);
  }
  fit_to_box(button);
  HWND handle = add_control(parent, Kind::Button, button, left, top, width, height, true);
  if (handle == nullptr) return nullptr;
  find_entry(handle)->on_click = std::move(on_click);
  g_signal_connect(button, "clicked", G_CALLBACK(on_clicked),
                   reinterpret_cast<gpointer>(to_id(handle)));
  return handle;
}

HWND CreateBrowserBox(HWND parent, int left, int top, int width, int height) {
  if (!gtk_ready) return nullptr;
  GtkWidget* view = webkit_web_view_new();
  const GdkRGBA white = {.red = 1.0, .green = 1.0, .blue = 1.0, .alpha = 1.0};
  webkit_web_view_set_background_color(WEBKIT_WEB_VIEW(view), &white);
  return add_control(parent, Kind::BrowserBox, view, left, top, width, height, true);
}

BOOL ShowWindow(HWND hWnd, int) {
  Entry* entry = find_entry(hWnd);
  if (entry == nullptr || entry->kind != Kind::TopLevel) return FALSE;
  gtk_widget_show_all(entry->widget);
  return TRUE;
}

BOOL DestroyWindow(HWND hWnd) {
  Entry* entry = find_entry(hWnd);
  if (entry == nullptr || entry->kind != Kind::TopLevel) return FALSE;
  gtk_widget_destroy(entry->widget);
  return TRUE;
}

BOOL IsWindow(HWND hWnd) { return find_entry(hWnd) != nullptr ? TRUE : FALSE; }

namespace {
std::string window_text(HWND hWnd) {
  const Entry* entry = find_entry(hWnd);
  if (entry == nullptr) return {};
  if (entry->kind == Kind::EditBox) return utf8_to_gbk(gtk_entry_get_text(GTK_ENTRY(entry->widget)));
  if (entry->kind == Kind::Label) return utf8_to_gbk(gtk_label_get_text(GTK_LABEL(entry->widget)));
  return {};
}
}  // namespace

int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount) {
  if (lpString == nullptr || nMaxCount <= 0) return 0;
  const std::string text = window_text(hWnd);
  std::size_t count = 0;
  const auto room = static_cast<std::size_t>(nMaxCount - 1);
  while (count < text.size()) {
    const std::size_t step = static_cast<unsigned char>(text[count]) >= 0x80 ? 2 : 1;
    if (count + step > room || count + step > text.size()) break;
    count += step;
  }
  std::memcpy(lpString, text.data(), count);
  lpString[count] = '\0';
  return static_cast<int>(count);
}

int GetWindowTextLengthA(HWND hWnd) { return static_cast<int>(window_text(hWnd).size()); }

BOOL Navigate(HWND browser, LPCSTR address) {
  const Entry* entry = find_entry(browser);
  if (entry == nullptr || entry->kind != Kind::BrowserBox) return FALSE;
  const std::string uri = to_uri(gbk_to_utf8(address));
  if (uri.empty()) return FALSE;
  webkit_web_view_load_uri(WEBKIT_WEB_VIEW(entry->widget), uri.c_str());
  return TRUE;
}

int GetSystemMetrics(int nIndex) {
  if (!ensure_gtk()) return 0;
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr) return 0;
  GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
  if (monitor == nullptr) monitor = gdk_display_get_monitor(display, 0);
  if (monitor == nullptr) return 0;
  GdkRectangle geometry{};
  gdk_monitor_get_geometry(monitor, &geometry);
  if (nIndex == SM_CXSCREEN) return geometry.width;
  if (nIndex == SM_CYSCREEN) return geometry.height;
  return 0;
}

int RunMessageLoop() {
  if (!quit_posted) {
    std::unique_ptr<GMainLoop, MainLoopUnref> loop(g_main_loop_new(nullptr, FALSE));
    GMainLoop* outer = std::exchange(running_loop, loop.get());
    g_main_loop_run(loop.get());
    running_loop = outer;
  }
  // The loop takes the quit message off the queue, as GetMessage does.
  quit_posted = false;
  return quit_code;
}

void PostQuitMessage(int nExitCode) {
  quit_posted = true;
  quit_code = nExitCode;
  if (running_loop != nullptr) g_main_loop_quit(running_loop);
}
