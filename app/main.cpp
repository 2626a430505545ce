#include "app/startup.h"

// Takes no arguments and reads no configuration: the host root is fixed at build time.
int main() { return run_program(); }
