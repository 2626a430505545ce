#pragma once

// For tests only: the settings of the WinHTTP stand-in that no server can observe (time-out
// values, feature options, the access type and proxy name of a session) reported as one line
// per call, such as "WinHttpSetTimeouts 5000 5000 5000 5000" or "WinHttpSetOption 79 1".

#include <string_view>

using WinHttpTraceHook = void (*)(std::string_view line);

// Installs the hook for the calling thread; null removes it.
void set_winhttp_trace_hook(WinHttpTraceHook hook);
