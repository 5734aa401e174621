#pragma once

#include <QList>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QTimer>
#include <QWebSocket>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "ports/ports.h"
#include "ws/barrage_endpoint.h"

// 客户1 for today's platform: the TcpClient port over a WebSocket, so that the barrage link, the
// frame splitter and the rows work unchanged whether the frames travel in a plain TCP stream or
// in binary WebSocket messages.
namespace kestrova::ws {

// The browser the platform's own page runs in; its proxy expects a request that looks like one.
inline constexpr const char* kBrowserUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; Win64; x64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/124.0.0.0 Safari/537.36";
inline constexpr const char* kDouyuOrigin = "https://www.douyu.com";

struct WebSocketClientSettings {
  // WebSocket or SecureWebSocket; Tcp is taken as WebSocket.
  Transport kind = Transport::SecureWebSocket;
  // The ports to rotate over. Empty: the port passed to Connect is used as it is.
  std::vector<std::uint16_t> ports;
  // A PEM file of CA certificates trusted in addition to the system's, for tests and
  // self-hosted servers. Empty: the system's only. Peer verification is never switched off.
  QString extraCaFile;
  // An attempt that is not up by then (TCP connect, TLS and WebSocket handshakes) is given up
  // and reported as closed, so that a server that accepts and then says nothing cannot stall
  // the link.
  int connectTimeoutMs = 20000;
  // Port choice for tests; empty: random.
  PortRotation::Pick pickPort;

  // The settings for a parsed WebSocket endpoint: its kind and its ports.
  static WebSocketClientSettings ForEndpoint(const BarrageEndpoint& endpoint,
                                             QString extraCaFile = {});
};

// Thread and ownership: lives on the GUI thread and raises every event there, from Qt's event
// loop, never from inside one of its own calls. The events object is not owned and must outlive
// the client. Each Connect makes a fresh QWebSocket, so that nothing of an earlier connection
// (late messages, its close) can reach the events after it was replaced.
//
// What the port's operations mean here:
// - Connect(host, port) opens ws://host:port/ or wss://host:port/ with the headers
//   "Origin: https://www.douyu.com" and a browser User-Agent. When the settings hold ports, the
//   port argument is ignored: each attempt takes a random port of the list, or the next one
//   after an attempt that failed before it was up. False when the host is empty or not
//   ASCII, the address is not valid, or the extra CA file could not be read.
// - Send(bytes) is one binary message. While connecting, messages are kept and written in
//   order once the handshake is done, before OnConnected.
// - OnData receives each binary message whole, as one block. The link's splitter handles
//   several frames in one message and frames split across messages. Text messages are not
//   part of the protocol and are dropped.
// - OnClosed is raised exactly once per attempt that started: a refused or timed-out connect,
//   a failed TLS verification or handshake, a close by the server, any socket error.
// - Disconnect closes without an event; a Connect replaces the previous connection the same way.
class WebSocketClient final : public QObject, public ports::TcpClient {
 public:
  explicit WebSocketClient(WebSocketClientSettings settings, QObject* parent = nullptr);
  ~WebSocketClient() override;

  WebSocketClient(const WebSocketClient&) = delete;
  WebSocketClient& operator=(const WebSocketClient&) = delete;

  void SetEvents(ports::TcpEvents* events) override;
  bool Connect(const AnsiText& host, std::uint16_t port) override;
  bool Send(std::span<const std::uint8_t> bytes) override;
  void Disconnect() override;

  // False when the extra CA file named in the settings held no readable certificate; every
  // Connect then fails. Lets the option parser refuse such a file at start.
  bool ExtraCaLoaded() const { return m_caLoaded; }
  // The port of the latest attempt, for the status text and for tests.
  std::uint16_t CurrentPort() const { return m_currentPort; }

 private:
  enum class State { Idle, Connecting, Open };

  void HandleConnected(std::uint64_t attempt);
  void HandleMessage(std::uint64_t attempt, const QByteArray& message);
  void HandleFailure(std::uint64_t attempt);
  // Detaches the current socket from us and lets it go, closing it politely when it is open.
  void DropSocket();

  WebSocketClientSettings m_settings;
  PortRotation m_rotation;
  QList<QSslCertificate> m_extraCas;
  bool m_caLoaded = true;
  ports::TcpEvents* m_events = nullptr;

  QWebSocket* m_socket = nullptr;  // A child of this; replaced at each Connect.
  QTimer m_connectTimer;
  State m_state = State::Idle;
  std::uint64_t m_attempt = 0;  // Tags the events of each socket so stale ones are dropped.
  std::uint16_t m_currentPort = 0;
  std::vector<QByteArray> m_pending;
};

}  // namespace kestrova::ws
