#pragma once

// The window, its controls and the message loop, in the shape the program was designed on:
// handles, captions in the ANSI code page (936 here), client coordinates in pixels. Every call
// is for the GUI thread only.
//
// Left out: window classes and procedures, styles beyond the one fixed dialog-style frame,
// messages other than the click, fonts other than the desktop's default, icons, and the
// browser control's own object model beyond Navigate.

#include <functional>

#include "platform/base/windows_types.h"

struct HWND__;
// Handles are never reused within a process, so a stale one is safely refused.
using HWND = HWND__*;

// Creates the top-level window: a fixed, not resizable frame with a caption, minimise and
// close but no maximise, in the taskbar, not kept above others; hidden until ShowWindow.
// width and height are the outer size; without a window manager there is no frame, so the
// client area has that size. Null when there is no display to open a window on.
// Destroying the last top-level window posts the quit message. Esc closes the window from
// any of its controls; Tab and Shift+Tab move the focus cyclically through the controls that
// take it, in the order they were created.
[[nodiscard]] HWND CreateMainWindow(LPCSTR title, int left, int top, int width, int height);

// Child controls at client positions of parent; null when parent is not a top-level window.
// A label takes no focus. The edit box holds one line with no length limit and leaves Enter
// alone. The button's click runs on_click on the GUI thread from the message loop (or from a
// pump step); it is not a default button. The browser box shows nothing over white until
// the first Navigate.
[[nodiscard]] HWND CreateLabel(HWND parent, LPCSTR text, int left, int top, int width,
                               int height);
[[nodiscard]] HWND CreateEditBox(HWND parent, int left, int top, int width, int height);
[[nodiscard]] HWND CreateButton(HWND parent, LPCSTR caption, int left, int top, int width,
                                int height, std::function<void()> on_click);
[[nodiscard]] HWND CreateBrowserBox(HWND parent, int left, int top, int width, int height);

constexpr int SW_SHOW = 5;
// Shows a top-level window with its controls. FALSE for a handle that is not one.
BOOL ShowWindow(HWND hWnd, int nCmdShow);

// Destroys a top-level window and its controls (a control alone is refused with FALSE).
BOOL DestroyWindow(HWND hWnd);

// TRUE while the handle names a window or control that has not been destroyed.
BOOL IsWindow(HWND hWnd);

// The edit box's or label's text in code page 936, characters it cannot hold as "?".
// GetWindowTextA copies at most nMaxCount - 1 bytes and a NUL, never cutting a double-byte
// character in two, and returns the bytes copied; 0 for an empty text or a bad handle.
// GetWindowTextLengthA gives the full length in bytes.
int GetWindowTextA(HWND hWnd, LPSTR lpString, int nMaxCount);
int GetWindowTextLengthA(HWND hWnd);

// Sends the browser box to address (code page 936) and returns at once; the page loads on its
// own. The address goes as it is, except that bytes no URI may hold (controls, space,
// non-ASCII, and " < > \ ^ ` { | }) are percent-encoded, non-ASCII as UTF-8, so that the
// request line stays well formed. FALSE for a handle that is not a live browser box or an
// empty address.
BOOL Navigate(HWND browser, LPCSTR address);

constexpr int SM_CXSCREEN = 0;
constexpr int SM_CYSCREEN = 1;
// The primary screen's size in pixels; 0 without a display.
int GetSystemMetrics(int nIndex);

// Runs the message loop until the quit message, and returns its exit code. Returns at once
// when the quit message was already posted.
int RunMessageLoop();

// Queues the quit message: the loop ends once the message being handled returns, and
// process_pending_events stops short of it.
void PostQuitMessage(int nExitCode);
