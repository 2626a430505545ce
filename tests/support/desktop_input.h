#pragma once

// Keyboard and mouse input into the X server, through xdotool, as a user would give it.

#include <string>
#include <vector>

// Runs xdotool with args (bounded); true when it succeeded.
bool xdotool(const std::vector<std::string>& args);

// Types UTF-8 text into the focused control. Printable ASCII goes as key presses; every other
// character, controls such as CR and LF included, goes through GTK's Ctrl+Shift+U code-point
// entry: the test server's keyboard map has no key for it, and a key would not insert a CR.
bool type_text(const std::string& utf8);
