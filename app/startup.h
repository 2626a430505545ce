#pragma once

// The program from start to exit: OLE, shared_regex, MainWindow, the message loop, and the
// shutdown in reverse. Returns 0 once the window has been closed; when the window cannot be
// made the process ends at once with exit code -1 and no exit step runs.
int run_program();
