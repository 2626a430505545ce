#pragma once

// Keyboard and mouse input into the X server, through xdotool, as a user would give it.

#include <string>
#include <vector>

// Runs xdotool with args (bounded); true when it succeeded.
bool xdotool(const std::vector<std::string>& args);

// Types UTF-8 text into the focused control. ASCII goes as key presses; each other character
// goes through GTK's Ctrl+Shift+U code-point entry, since the test server's keyboard map has
// no key for it.
bool type_text(const std::string& utf8);
