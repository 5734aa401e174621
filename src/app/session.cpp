#include "app/session.h"

#include <QMetaObject>
#include <QPixmap>
#include <QTimer>

#include "app/transport.h"
#include "intake/alert_sound.h"
#include "intake/text.h"

namespace kestrova::app {

Session::Session(const Options& options, ProgramState& state, SessionPlatform platform)
    : m_options(options),
      m_state(state),
      m_platform(std::move(platform)),
      m_window(std::make_unique<MainWindow>()),
      m_client(MakeBarrageClient(options.barrageServer, options.barrageCaFile, nullptr)),
      m_rows(*m_window, m_platform.soundPlayer, m_platform.urlOpener, state, m_platform.clock,
             intake::UserClockStyle()),
      m_gate(*m_window, state, options.configUrl) {
  m_link = std::make_unique<barrage::BarrageLink>(
      LinkOptionsFor(options.barrageServer, options.keepAlivePeriodMs), *m_window, *m_client, m_keepAliveTimer,
      m_retryTimer, m_platform.clock, state,
      [this](std::span<const std::uint8_t> frame) { m_rows.OnBarrageFrame(frame); });

  MainWindow* window = m_window.get();
  connect(window, &MainWindow::ButtonClicked, this, [this] { m_link->OnButtonClicked(); });
  connect(window, &MainWindow::SoundBoxClicked, this, &Session::OnSoundBoxClicked);
  connect(window, &MainWindow::AutoOpenBoxClicked, this, &Session::OnAutoOpenBoxClicked);
  connect(window, &MainWindow::ListDoubleClicked, this, &Session::OnListDoubleClicked);
  connect(window, &MainWindow::Closing, this, &Session::OnClosing);
  connect(window, &MainWindow::ButtonEnabledChanged, this, &Session::OnButtonEnabledChanged);
  if (m_options.logRows) {
    connect(window, &MainWindow::RowInserted, this, &Session::QueueRowLog);
  }
  if (m_options.quitAfterSeconds) {
    QTimer::singleShot(static_cast<int>(*m_options.quitAfterSeconds * 1000.0), window,
                       &QWidget::close);
  }
}

Session::~Session() {
  // The download first, so nothing can be posted at the window any more; then the link, which
  // lets go of the client and the timers; the window last.
  m_download.reset();
  if (!m_closed) OnClosing();
  m_link.reset();
  m_client.reset();
  m_window.reset();
}

void Session::RunCreatedHandler() {
  if (m_platform.attachSkin) m_platform.attachSkin();
  HideHorizontalScrollBar(m_window->List());

  const AnsiText url = m_gate.Begin();
  QPointer<MainWindow> receiver = m_window.get();
  m_download = std::make_unique<config::ConfigDownload>(
      url, config::FetchOptions{}, [this, receiver](ByteBuffer body) {
        // On the download thread. A call posted to the window is dropped if the window is
        // gone by then, so a late answer never reaches a closed session.
        QMetaObject::invokeMethod(
            receiver.data(),
            [this, body = std::move(body)] {
              if (m_closed) return;
              Q_EMIT GateDecided(m_gate.Complete(body));
            },
            Qt::QueuedConnection);
      });

  m_state.soundAlertFlag = m_window->IsChecked(ports::CheckBox::SoundAlert) ? 1 : 0;
  m_state.autoOpenFlag = m_window->IsChecked(ports::CheckBox::AutoOpen) ? 1 : 0;
}

void Session::OnSoundBoxClicked() {
  m_state.soundAlertFlag = m_window->IsChecked(ports::CheckBox::SoundAlert) ? 1 : 0;
}

void Session::OnAutoOpenBoxClicked() {
  m_state.autoOpenFlag = m_window->IsChecked(ports::CheckBox::AutoOpen) ? 1 : 0;
}

void Session::OnListDoubleClicked() {
  // The selected row, not the one under the pointer.
  const int row = m_window->SelectedRow();
  if (row < 0) return;
  const std::optional<AnsiText> page = intake::RoomPageUrl(m_window->CellText(row, 7));
  if (page) m_platform.urlOpener.Open(*page);
}

void Session::OnButtonEnabledChanged(bool enabled) {
  if (!enabled || !m_options.start || m_startPressed) return;
  m_startPressed = true;
  // After the gate has finished its own updates, as a user's click would come.
  QTimer::singleShot(0, m_window.get(), [this] {
    if (!m_closed && m_window->Button().isEnabled()) m_window->Button().click();
  });
}

void Session::OnClosing() {
  if (m_closed) return;
  m_closed = true;
  FlushRowLog();
  if (!m_options.screenshotFile.isEmpty()) {
    m_window->grab().save(m_options.screenshotFile);
  }
  // The described destroy handler: 客户1 goes without a logout, then the skin is detached. A
  // download still running is cancelled: nothing may touch the window after this.
  m_download.reset();
  m_link->Shutdown();
  if (m_platform.detachSkin) m_platform.detachSkin();
}

void Session::QueueRowLog(int index) {
  for (int& pending : m_rowsToLog) {
    if (pending >= index) ++pending;
  }
  m_rowsToLog.push_back(index);
  if (m_rowLogQueued) return;
  m_rowLogQueued = true;
  // The rows' handler fills the cells right after the insert; log once it has returned.
  QMetaObject::invokeMethod(this, [this] { FlushRowLog(); }, Qt::QueuedConnection);
}

void Session::FlushRowLog() {
  m_rowLogQueued = false;
  if (m_platform.rowLog == nullptr) {
    m_rowsToLog.clear();
    return;
  }
  for (const int row : m_rowsToLog) {
    std::string line;
    for (int column = 0; column < RowStore::kColumns; ++column) {
      if (column > 0) line += '\t';
      std::string cell = intake::GbkToUtf8(m_window->CellText(row, column));
      // A tab or line break inside a cell would break the one-line-per-row log.
      for (char& c : cell) {
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
      }
      line += cell;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), m_platform.rowLog);
  }
  std::fflush(m_platform.rowLog);
  m_rowsToLog.clear();
}

}  // namespace kestrova::app
