#pragma once

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTimer>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "delivery.h"
#include "stream_generator.h"

// The TCP transport of the local barrage server. Everything about what is sent lives in the
// generator and the delivery planner; this file only moves bytes, so that another transport
// (a WebSocket server, say) can reuse both and the same session logic.
namespace kestrova::tools {

struct ServerOptions {
  QHostAddress address = QHostAddress::LocalHost;
  quint16 port = 8601;
  StreamRates rates;
  std::uint64_t seed = 1;
  DeliveryMode delivery = DeliveryMode::Whole;
  // Frames to send after a join instead of the generated stream.
  std::optional<std::vector<ByteBuffer>> replay;
  double durationSeconds = 0.0;      // 0: until killed
  std::int64_t rocketBound = 0;      // gift-box rockets in all; 0: no bound
  double lingerSeconds = 3.0;        // after the rocket bound, before quitting
  std::int64_t dropAfter = 0;        // close each connection after this many gift-box rockets
  std::int64_t silentAfter = 0;      // fall silent on a connection after this many
  std::int64_t startTime = 0;        // gift time base in Unix seconds; 0: the real clock
};

// Writes one line to stdout and flushes it, so a test reading the pipe sees it at once.
void LogLine(const std::string& line);

// The line printed for each gift-box rocket sent.
std::string RocketLine(int client, const RocketFacts& facts);

class BarrageServer : public QObject {
 public:
  explicit BarrageServer(ServerOptions options);
  ~BarrageServer() override;

  // False with a message on stderr when the address cannot be bound.
  bool Start();

 private:
  struct Session;

  void OnNewConnection();
  void OnReadable(Session& session);
  void OnClientMessage(Session& session, const std::string& body);
  void OnTick();
  void Stream(Session& session, double seconds);
  void Write(Session& session, const std::vector<ByteBuffer>& pieces);
  void CountRocket(Session& session, const RocketFacts& facts);
  std::int64_t NowSeconds() const;

  ServerOptions m_options;
  QTcpServer m_server;
  QTimer m_tick;
  std::map<int, std::unique_ptr<Session>> m_sessions;
  int m_nextId = 1;
  std::int64_t m_rocketsSent = 0;
  bool m_boundReached = false;
  qint64 m_lastTickMs = 0;
  qint64 m_startedMs = 0;
};

}  // namespace kestrova::tools
