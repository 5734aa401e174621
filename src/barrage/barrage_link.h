#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "barrage/backoff.h"
#include "barrage/frame_splitter.h"
#include "ports/ports.h"
#include "ports/program_state.h"
#include "ports/types.h"

// Monitoring control behind 按钮1: connect, log in, join group -9999, keep alive every 45 s, log
// out; plus what keeps monitoring alive when the network does not: a visible state on status
// pane 1 and reconnects with back-off for as long as the caption says "停止监控".
namespace kestrova::barrage {

inline constexpr std::uint16_t kBarragePort = 8601;
inline constexpr int kKeepAlivePeriodMs = 45000;
// With the watchdog on, this many keep-alive periods without a single byte count as lost.
inline constexpr int kSilentPeriodsBeforeLost = 3;

// Which heartbeat goes out on 时钟1. The described TCP server takes keeplive with a ten-digit
// tick; today's platform behind its WebSocket proxy takes mrkl and answers it.
enum class KeepAlive {
  KeepLive,  // type@=keeplive/tick@=<ten-digit Unix seconds>/
  Mrkl,      // type@=mrkl/
};

// A server that answers heartbeats is never silent for long; one that is has gone away without
// closing. Off on the described TCP server, which may legitimately say nothing.
enum class SilenceWatchdog { Off, On };

struct LinkOptions {
  AnsiText host;  // the barrage server; the caller supplies BarrageServerHost or an override
  std::uint16_t port = kBarragePort;
  KeepAlive keepAlive = KeepAlive::KeepLive;
  SilenceWatchdog watchdog = SilenceWatchdog::Off;
  // 时钟1's period. Always 45 s in the program; shorter only where a test must see the watchdog
  // act on a real clock.
  int keepAlivePeriodMs = kKeepAlivePeriodMs;
};

// Receives each whole frame of the connection, in order; the span is valid during the call only.
// The rocket rows are the usual sink.
using FrameSink = std::function<void(std::span<const std::uint8_t> frame)>;

// Owns nothing it is given: window, client, timers, clock and state must outlive it. It sets
// itself as the client's event receiver and takes over both timers' tick callbacks in the
// constructor, and lets go of all three in the destructor. GUI thread only.
class BarrageLink final : public ports::TcpEvents {
 public:
  enum class Connection {
    None,            // never connected, or closed while not monitoring
    Connecting,      // Connect() called, OnConnected not yet
    Connected,       // up
    WaitingToRetry,  // failed or lost while monitoring; the retry timer runs
  };

  BarrageLink(LinkOptions options, ports::Window& window, ports::TcpClient& client,
              ports::Timer& keepAliveTimer, ports::Timer& retryTimer, const ports::Clock& clock,
              ProgramState& state, FrameSink sink);
  ~BarrageLink();
  BarrageLink(const BarrageLink&) = delete;
  BarrageLink& operator=(const BarrageLink&) = delete;

  // The clicked event of 按钮1: decides on the exact caption, does nothing for any other.
  void OnButtonClicked();

  // Connects (a new connection, empty splitter), replaces MonitoredRoomId with a copy of room,
  // sends login then join at once, and sets 时钟1 to the heartbeat period (45000 ms; the same
  // period keeps its phase).
  void StartMonitoring(const AnsiText& room);
  // Sends the logout frame and stops any pending reconnect; the connection and 时钟1 stay.
  void StopMonitoring();
  // The heartbeat of the configured kind; sent whatever the caption or the connection.
  void SendKeepAlive();
  // Frames and sends the text; a failed send changes nothing.
  void SendBarrageMessage(const AnsiText& text);
  // For the window's destruction: disconnects without a logout and stops both timers.
  void Shutdown();

  Connection ConnectionState() const { return m_connection; }
  const FrameSplitter& Splitter() const { return m_splitter; }

  void OnConnected() override;
  void OnData(std::span<const std::uint8_t> block) override;
  void OnClosed() override;

 private:
  bool Monitoring() const;
  void OpenConnection();
  void SendLoginAndJoin();
  void ScheduleRetry(const AnsiText& status);
  void OnRetryTick();
  void OnKeepAliveTick();

  LinkOptions m_options;
  ports::Window& m_window;
  ports::TcpClient& m_client;
  ports::Timer& m_keepAliveTimer;
  ports::Timer& m_retryTimer;
  const ports::Clock& m_clock;
  ProgramState& m_state;
  FrameSink m_sink;

  FrameSplitter m_splitter;
  ExponentialBackoff m_backoff;
  Connection m_connection = Connection::None;
  // Set by StartMonitoring when the connect could not even start; the click reports it once the
  // caption says "停止监控", so that the failure is not overwritten by "监控中.....".
  bool m_startFailed = false;
  bool m_dataSinceTick = false;
  int m_silentTicks = 0;
};

}  // namespace kestrova::barrage
