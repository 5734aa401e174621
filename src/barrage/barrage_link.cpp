#include "barrage/barrage_link.h"

#include <utility>

#include "barrage/frame_codec.h"
#include "intake/texts.h"
#include "intake/time_convert.h"

namespace kestrova::barrage {

BarrageLink::BarrageLink(LinkOptions options, ports::Window& window, ports::TcpClient& client,
                         ports::Timer& keepAliveTimer, ports::Timer& retryTimer,
                         const ports::Clock& clock, ProgramState& state, FrameSink sink)
    : m_options(std::move(options)),
      m_window(window),
      m_client(client),
      m_keepAliveTimer(keepAliveTimer),
      m_retryTimer(retryTimer),
      m_clock(clock),
      m_state(state),
      m_sink(std::move(sink)) {
  m_client.SetEvents(this);
  m_keepAliveTimer.SetTick([this] { OnKeepAliveTick(); });
  m_retryTimer.SetTick([this] { OnRetryTick(); });
}

BarrageLink::~BarrageLink() {
  m_retryTimer.SetPeriod(0);
  m_retryTimer.SetTick({});
  m_keepAliveTimer.SetTick({});
  m_client.SetEvents(nullptr);
}

bool BarrageLink::Monitoring() const {
  return m_window.ButtonCaption() == intake::Texts().stopCaption;
}

void BarrageLink::OnButtonClicked() {
  const auto& texts = intake::Texts();
  const AnsiText caption = m_window.ButtonCaption();
  if (caption == texts.startCaption) {
    StartMonitoring(m_state.configuredRoomId);
    m_window.SetButtonCaption(texts.stopCaption);
    m_window.SetStatusText(1, texts.monitoring);
    if (m_startFailed) {
      m_startFailed = false;
      ScheduleRetry(texts.connectFailed);
    }
  } else if (caption == texts.stopCaption) {
    StopMonitoring();
    m_window.SetButtonCaption(texts.startCaption);
    m_window.SetStatusText(1, AnsiText());
  }
}

void BarrageLink::StartMonitoring(const AnsiText& room) {
  // A start by the user is a fresh attempt, whatever an earlier run went through.
  m_retryTimer.SetPeriod(0);
  m_backoff.Reset();
  OpenConnection();
  m_startFailed = m_connection == Connection::None;
  m_state.monitoredRoomId = room;
  SendLoginAndJoin();
  m_keepAliveTimer.SetPeriod(m_options.keepAlivePeriodMs);
}

void BarrageLink::StopMonitoring() {
  SendBarrageMessage(LogoutMessage());
  m_retryTimer.SetPeriod(0);
  if (m_connection == Connection::WaitingToRetry) {
    m_connection = Connection::None;
  }
}

void BarrageLink::SendKeepAlive() {
  if (m_options.keepAlive == KeepAlive::Mrkl) {
    SendBarrageMessage(MarkAliveMessage());
  } else {
    SendBarrageMessage(KeepAliveMessage(intake::CurrentUnixText(m_clock, intake::UnixDigits::Ten)));
  }
}

void BarrageLink::SendBarrageMessage(const AnsiText& text) {
  const ByteBuffer frame = EncodeMessage(text);
  m_client.Send(frame);
}

void BarrageLink::Shutdown() {
  m_retryTimer.SetPeriod(0);
  m_keepAliveTimer.SetPeriod(0);
  m_client.Disconnect();
  m_connection = Connection::None;
}

void BarrageLink::OpenConnection() {
  // Nothing of the previous connection's unfinished frame belongs to the new one.
  m_splitter.Reset();
  // The moment of connecting counts as activity, so the watchdog waits whole silent periods.
  m_dataSinceTick = true;
  m_silentTicks = 0;
  m_connection = m_client.Connect(m_options.host, m_options.port) ? Connection::Connecting
                                                                  : Connection::None;
}

void BarrageLink::SendLoginAndJoin() {
  const AnsiText room = m_state.monitoredRoomId.value_or(AnsiText());
  SendBarrageMessage(LoginMessage(room));
  SendBarrageMessage(JoinGroupMessage(room));
}

void BarrageLink::ScheduleRetry(const AnsiText& status) {
  m_connection = Connection::WaitingToRetry;
  m_window.SetStatusText(1, status);
  m_retryTimer.SetPeriod(static_cast<int>(m_backoff.Next().count()));
}

void BarrageLink::OnRetryTick() {
  // One shot: the next wait, if any, is set afresh from the back-off.
  m_retryTimer.SetPeriod(0);
  if (m_connection != Connection::WaitingToRetry || !Monitoring()) {
    return;
  }
  OpenConnection();
  if (m_connection == Connection::None) {
    ScheduleRetry(intake::Texts().connectFailed);
    return;
  }
  SendLoginAndJoin();
}

void BarrageLink::OnKeepAliveTick() {
  SendKeepAlive();
  if (m_options.watchdog == SilenceWatchdog::Off || !Monitoring() ||
      (m_connection != Connection::Connecting && m_connection != Connection::Connected)) {
    return;
  }
  m_silentTicks = m_dataSinceTick ? 0 : m_silentTicks + 1;
  m_dataSinceTick = false;
  if (m_silentTicks >= kSilentPeriodsBeforeLost) {
    const bool wasConnected = m_connection == Connection::Connected;
    m_client.Disconnect();
    const auto& texts = intake::Texts();
    ScheduleRetry(wasConnected ? texts.connectionLost : texts.connectFailed);
  }
}

void BarrageLink::OnConnected() {
  if (m_connection != Connection::Connecting) {
    return;
  }
  m_connection = Connection::Connected;
  m_backoff.Reset();
  if (Monitoring()) {
    m_window.SetStatusText(1, intake::Texts().monitoring);
  }
}

void BarrageLink::OnData(std::span<const std::uint8_t> block) {
  m_dataSinceTick = true;
  m_splitter.Feed(block, [this](std::span<const std::uint8_t> frame) {
    if (m_sink) {
      m_sink(frame);
    }
  });
}

void BarrageLink::OnClosed() {
  if (m_connection != Connection::Connecting && m_connection != Connection::Connected) {
    return;
  }
  const bool wasConnected = m_connection == Connection::Connected;
  m_connection = Connection::None;
  if (Monitoring()) {
    const auto& texts = intake::Texts();
    ScheduleRetry(wasConnected ? texts.connectionLost : texts.connectFailed);
  }
}

}  // namespace kestrova::barrage
