#pragma once

#include <QHostAddress>
#include <QObject>
#include <QString>
#include <QTcpServer>
#include <QTimer>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "delivery.h"
#include "stream_generator.h"

namespace kestrova::ws {
class WsServerConnection;
class WsServerTransport;
}  // namespace kestrova::ws

// The transports of the local barrage server: plain TCP, or binary WebSocket messages (ws:// or
// wss://) as today's platform serves them. Everything about what is sent lives in the generator
// and the delivery planner, and a session only ever writes pieces and closes, so both
// transports share the session logic.
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
  bool webSocket = false;            // serve ws:// (wss:// with the two files below)
  QString tlsCertificateFile;        // PEM chain, leaf first
  QString tlsKeyFile;                // PEM private key, not encrypted
};

// False when this build has no WebSocket mode (the WebSocket transport is built with the
// program only).
bool WebSocketModeAvailable();

// Writes one line to stdout and flushes it, so a test reading the pipe sees it at once.
void LogLine(const std::string& line);

// The line printed for each gift-box rocket sent.
std::string RocketLine(int client, const RocketFacts& facts);

class BarrageServer : public QObject {
 public:
  explicit BarrageServer(ServerOptions options);
  ~BarrageServer() override;

  // False with a message on stderr when the address cannot be bound (or, in WebSocket mode,
  // the certificate or key cannot be read).
  bool Start();

 private:
  struct Session;

  bool StartListening();
  Session& AddSession();
  void OnNewConnection();
  void OnNewWebSocket(ws::WsServerConnection& connection);
  void EndSession(int id);
  void OnBytes(Session& session, std::span<const std::uint8_t> bytes);
  void OnClientMessage(Session& session, const std::string& body);
  void OnTick();
  void Stream(Session& session, double seconds);
  void Write(Session& session, const std::vector<ByteBuffer>& pieces);
  void CountRocket(Session& session, const RocketFacts& facts);
  void Drop(Session& session);
  std::int64_t NowSeconds() const;

  ServerOptions m_options;
  QTcpServer m_server;
  ws::WsServerTransport* m_webSockets = nullptr;  // A child of this, in WebSocket mode only.
  QTimer m_tick;
  std::map<int, std::unique_ptr<Session>> m_sessions;
  int m_nextId = 1;
  std::int64_t m_rocketsSent = 0;
  bool m_boundReached = false;
  qint64 m_lastTickMs = 0;
  qint64 m_startedMs = 0;
};

}  // namespace kestrova::tools
