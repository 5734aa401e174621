#pragma once

#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include <QObject>

#include "app/main_window.h"
#include "app/options.h"
#include "app/qt_timer.h"
#include "barrage/barrage_link.h"
#include "config/config_gate.h"
#include "intake/rocket_rows.h"
#include "ports/ports.h"
#include "ports/program_state.h"

namespace kestrova::app {

// What the session gets from outside: the platform's sound, browser and clock (real ones in the
// program, recording ones in tests) and the skin's two calls, which stay empty when no skin was
// loaded. Everything referenced must outlive the session.
struct SessionPlatform {
  ports::UrlOpener& urlOpener;
  ports::SoundPlayer& soundPlayer;
  const ports::Clock& clock;
  std::function<void()> attachSkin;
  std::function<void()> detachSkin;
  // Where --log-rows writes; standard output in the program.
  std::FILE* rowLog = stdout;
};

// The main window with everything wired to it: 客户1 (from the transport factory), 时钟1 and the
// link's retry timer, the barrage link behind 按钮1, the rows behind 客户1's data, the
// configuration gate and its download, and the window's own handlers (check boxes,
// double-click, created and destroy handlers). GUI thread only.
class Session final : public QObject {
  Q_OBJECT

 public:
  Session(const Options& options, ProgramState& state, SessionPlatform platform);
  ~Session() override;

  // The created handler, in its order: attach the skin, hide the list's horizontal scroll bar,
  // start the configuration gate (the download runs on a thread of its own; its result is
  // applied on this thread later, so the window can show at once), read the two check boxes.
  void RunCreatedHandler();

  MainWindow& Window() { return *m_window; }
  config::ConfigGate& Gate() { return m_gate; }
  barrage::BarrageLink& Link() { return *m_link; }
  bool ClosingHandled() const { return m_closed; }

 Q_SIGNALS:
  // The gate has decided (after the download and its check, on this thread).
  void GateDecided(config::GateOutcome outcome);

 private:
  void OnSoundBoxClicked();
  void OnAutoOpenBoxClicked();
  void OnListDoubleClicked();
  void OnClosing();
  void OnButtonEnabledChanged(bool enabled);
  void QueueRowLog(int index);
  void FlushRowLog();

  Options m_options;
  ProgramState& m_state;
  SessionPlatform m_platform;
  // Owned here rather than by Qt's parent chain, so the order of destruction is ours.
  std::unique_ptr<MainWindow> m_window;
  std::unique_ptr<ports::TcpClient> m_client;
  QtTimer m_keepAliveTimer;
  QtTimer m_retryTimer;
  intake::RocketRows m_rows;
  std::unique_ptr<barrage::BarrageLink> m_link;
  config::ConfigGate m_gate;
  std::unique_ptr<config::ConfigDownload> m_download;
  // Rows inserted but not yet logged, by index (kept current as later rows push them down).
  std::vector<int> m_rowsToLog;
  bool m_rowLogQueued = false;
  bool m_startPressed = false;
  bool m_closed = false;
};

}  // namespace kestrova::app
