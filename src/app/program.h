#pragma once

#include <cstdio>
#include <functional>
#include <memory>

#include "app/options.h"
#include "ports/ports.h"
#include "ports/program_state.h"
#include "skin/in_memory_library.h"

namespace kestrova::app {

class Session;

// What lives for the whole run and is released by the exit hook.
struct ProgramGlobals {
  ProgramState state;
  // SkinModule: created empty before the exit hook is arranged, loaded by LoadSkinLibrary,
  // destroyed by the exit hook (the library's detach notification, then its memory).
  std::unique_ptr<skin::InMemoryLibrary> skinModule;
};

// Releases the globals: the skin library first, then the two room texts. Run once, after the
// message loop, whether or not monitoring ever started or the configuration was accepted.
void ExitHook(ProgramGlobals& globals);

// Runs ExitHook exactly once: when Run() is called, or at the latest when it goes out of scope,
// so an early return cannot skip it and a second call cannot repeat it.
class ExitHookArrangement {
 public:
  explicit ExitHookArrangement(ProgramGlobals& globals, std::function<void()> observer = {})
      : m_globals(globals), m_observer(std::move(observer)) {}
  ~ExitHookArrangement() { Run(); }
  ExitHookArrangement(const ExitHookArrangement&) = delete;
  ExitHookArrangement& operator=(const ExitHookArrangement&) = delete;

  void Run() {
    if (m_done) return;
    m_done = true;
    ExitHook(m_globals);
    if (m_observer) m_observer();
  }

 private:
  ProgramGlobals& m_globals;
  std::function<void()> m_observer;
  bool m_done = false;
};

// Replacements for a test: recording ports instead of the real browser and sound, another row
// log, and a look at the session once its window is shown and once the exit hook has run.
struct ProgramHooks {
  ports::UrlOpener* urlOpener = nullptr;
  ports::SoundPlayer* soundPlayer = nullptr;
  std::FILE* rowLog = stdout;
  std::function<void(Session&)> onShown;
  std::function<void()> onExitHook;
};

// The run after the options: globals and exit hook, the skin library, the window with its
// created handler, the shown window, the message loop, the exit hook. Needs a QApplication.
// Returns 0 when the loop has ended.
int RunProgram(const Options& options, const ProgramHooks& hooks = {});

// The whole program: the application object, the options (--help prints and returns 0, a bad
// option complains and returns 2), then RunProgram.
int ProgramStart(int argc, char** argv);

}  // namespace kestrova::app
