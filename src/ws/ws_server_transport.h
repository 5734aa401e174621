#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QWebSocket>
#include <QWebSocketServer>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

// The server side of the WebSocket transport, for the local barrage server: it accepts
// ws:// or wss:// connections and moves bytes, nothing more. What the bytes mean (frames,
// replies to login and keep-alive, the broadcast stream) stays with the server that uses it,
// which therefore serves TCP and WebSocket clients with the same code.
namespace kestrova::ws {

struct WsServerSettings {
  QHostAddress address = QHostAddress(QHostAddress::LocalHost);
  // 0 takes a free ephemeral port; Port() tells which.
  std::uint16_t port = 0;
  // Both empty: ws://. Both given: wss:// with this PEM certificate (the leaf first, then any
  // intermediates) and this PEM private key (RSA or EC, not encrypted).
  QString certificateFile;
  QString keyFile;
};

// One accepted client. Owned by the WsServerTransport that accepted it; it stays valid until
// its closed handler has returned, or until the session calls Close(), or until the transport
// is destroyed, whichever comes first. Keep it in a QPointer when a later use may outlive that.
// GUI (event loop) thread only.
class WsServerConnection final : public QObject {
 public:
  using DataHandler = std::function<void(std::span<const std::uint8_t> bytes)>;
  using ClosedHandler = std::function<void()>;

  // Every binary message the client sends reaches onData whole; onClosed runs once when the
  // client closes or the connection breaks. Set them in the new-connection handler: messages
  // that arrive before are not lost, they wait in the event queue.
  void SetHandlers(DataHandler onData, ClosedHandler onClosed);

  // One binary message with exactly these bytes. To test the client's splitter, pass several
  // frames at once (they arrive as one message) or a frame in two Sends (two messages).
  // False once the connection is closed.
  bool Send(std::span<const std::uint8_t> bytes);

  // Closes politely; the closed handler is not called for a close the session asked for.
  void Close();

  bool IsOpen() const { return m_socket != nullptr; }
  // The handshake as the client sent it, for logs and tests: its Origin, and any header.
  QString Origin() const { return m_origin; }
  QByteArray Header(const QByteArray& name) const;
  QString PeerText() const { return m_peer; }

 private:
  friend class WsServerTransport;
  WsServerConnection(QWebSocket* socket, QObject* parent);
  void HandleMessage(const QByteArray& message);
  void HandleGone();
  void Release();

  QWebSocket* m_socket;  // A child of this; null once closed.
  QString m_origin;
  QString m_peer;
  QList<QPair<QByteArray, QByteArray>> m_headers;
  DataHandler m_onData;
  ClosedHandler m_onClosed;
};

// Listens for WebSocket clients and hands each one to the new-connection handler. GUI (event
// loop) thread only; the handler runs from the event loop.
//
// For the barrage server this is a drop-in for its QTcpServer: where a session reads a
// QTcpSocket's readyRead and writes with write(), it takes a WsServerConnection, feeds the
// bytes of onData into the same frame splitter, and writes with Send() (one Send per write it
// would have made, so its whole / split / several-per-read delivery modes carry over).
class WsServerTransport final : public QObject {
 public:
  using NewConnectionHandler = std::function<void(WsServerConnection& connection)>;

  explicit WsServerTransport(NewConnectionHandler onNewConnection, QObject* parent = nullptr);
  ~WsServerTransport() override;

  WsServerTransport(const WsServerTransport&) = delete;
  WsServerTransport& operator=(const WsServerTransport&) = delete;

  // Empty on success, otherwise why not (unreadable certificate or key, address in use).
  QString Listen(const WsServerSettings& settings);
  // Stops listening and closes every connection, without calling their closed handlers.
  void Close();

  bool IsListening() const { return m_server != nullptr && m_server->isListening(); }
  std::uint16_t Port() const;
  // ws://127.0.0.1:PORT or wss://..., for logs and for a client in a test.
  QUrl Url() const;
  std::size_t ConnectionCount() const;

 private:
  void AcceptPending();

  NewConnectionHandler m_onNewConnection;
  QWebSocketServer* m_server = nullptr;  // A child of this.
  // Children of this; an entry turns null when its connection is gone.
  std::vector<QPointer<WsServerConnection>> m_connections;
};

}  // namespace kestrova::ws
