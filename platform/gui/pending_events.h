#pragma once

// The message pump step: dispatches the window messages already waiting on the GUI thread and
// returns as soon as none is left or the next one is the quit message, which stays queued. It
// never waits. Until a GUI installs its dispatcher nothing is dispatched.

#include <cstdint>

void process_pending_events();

// Installed by the GUI stand-in while its window exists; null removes it.
using PendingEventsDispatcher = void (*)();
void set_pending_events_dispatcher(PendingEventsDispatcher dispatcher);

// How often process_pending_events has been called on this thread, for tests.
std::uint64_t pending_events_call_count();
