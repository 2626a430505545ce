#include "app/startup.h"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <vector>

#include "app/main_window.h"
#include "platform/com/com.h"
#include "regex/regex_object.h"

namespace {

// OLE for the GUI thread, from start-up to the very end.
class OleSession {
 public:
  OleSession() { OleInitialize(nullptr); }
  ~OleSession() { OleUninitialize(); }
  OleSession(const OleSession&) = delete;
  OleSession& operator=(const OleSession&) = delete;
};

// Steps that run, in the order they were added, when the program ends normally. A process
// that ends at once runs none of them.
class ExitSteps {
 public:
  void add(std::function<void()> step) { steps_.push_back(std::move(step)); }
  void run() {
    for (auto& step : steps_) step();
    steps_.clear();
  }

 private:
  std::vector<std::function<void()>> steps_;
};

}  // namespace

int run_program() {
  OleSession ole;
  auto shared_regex = std::make_unique<RegexObject>();
  ExitSteps exit_steps;
  exit_steps.add([&shared_regex] {
    shared_regex->destroy();
    shared_regex.reset();
  });
  {
    MainWindow main_window(*shared_regex);
    if (!main_window.create()) {
      std::fputs("roomview: the main window cannot be opened (is there a display?)\n", stderr);
      std::fflush(stderr);
      std::_Exit(-1);
    }
    RunMessageLoop();
  }
  exit_steps.run();
  return 0;
}
