#include "platform/gui/pending_events.h"

namespace {
// One GUI thread; the dispatcher and the count belong to it.
thread_local PendingEventsDispatcher installed_dispatcher = nullptr;
thread_local std::uint64_t call_count = 0;
}  // namespace

void process_pending_events() {
  ++call_count;
  if (installed_dispatcher != nullptr) installed_dispatcher();
}

void set_pending_events_dispatcher(PendingEventsDispatcher dispatcher) {
  installed_dispatcher = dispatcher;
}

std::uint64_t pending_events_call_count() { return call_count; }
