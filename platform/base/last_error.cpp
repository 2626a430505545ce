#include "platform/base/windows_types.h"

namespace {
thread_local DWORD last_error = ERROR_SUCCESS;
}

DWORD GetLastError() { return last_error; }

void SetLastError(DWORD error_code) { last_error = error_code; }
