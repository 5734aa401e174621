#pragma once

#include <QByteArray>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "ports/ports.h"
#include "ports/types.h"

namespace kestrova::ws::testing {

// Generous: a loaded machine under the sanitizers may take seconds for a TLS handshake.
inline constexpr int kWaitMs = 20000;

template <typename Condition>
bool WaitFor(Condition condition) {
  return QTest::qWaitFor(condition, kWaitMs);
}

inline ByteBuffer Bytes(std::string_view text) {
  return ByteBuffer(text.begin(), text.end());
}
inline QByteArray ToQt(const ByteBuffer& bytes) {
  return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qsizetype>(bytes.size()));
}
inline ByteBuffer FromQt(const QByteArray& bytes) {
  const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
  return ByteBuffer(data, data + bytes.size());
}

// What the barrage link would see of a client.
class RecordingEvents final : public ports::TcpEvents {
 public:
  int connected = 0;
  int closed = 0;
  std::vector<ByteBuffer> blocks;

  void OnConnected() override { ++connected; }
  void OnData(std::span<const std::uint8_t> block) override {
    blocks.emplace_back(block.begin(), block.end());
  }
  void OnClosed() override { ++closed; }
};

// A bare QWebSocketServer standing in for the platform's proxy: it records every connection's
// handshake and binary messages and lets the test answer or close.
class RawServer {
 public:
  struct Peer {
    QWebSocket* socket = nullptr;  // a child of the server
    QNetworkRequest request;
    QString origin;
    std::vector<QByteArray> received;
    bool gone = false;
  };

  explicit RawServer(QWebSocketServer::SslMode mode)
      : m_server(std::make_unique<QWebSocketServer>(QStringLiteral("test"), mode)) {
    QObject::connect(m_server.get(), &QWebSocketServer::newConnection, m_server.get(), [this] {
      while (QWebSocket* socket = m_server->nextPendingConnection()) {
        socket->setParent(m_server.get());  // the caller owns accepted sockets
        auto peer = std::make_unique<Peer>();
        Peer* raw = peer.get();
        raw->socket = socket;
        raw->request = socket->request();
        raw->origin = socket->origin();
        QObject::connect(socket, &QWebSocket::binaryMessageReceived, socket,
                         [raw](const QByteArray& message) { raw->received.push_back(message); });
        QObject::connect(socket, &QWebSocket::disconnected, socket, [raw] { raw->gone = true; });
        peers.push_back(std::move(peer));
      }
    });
  }

  bool Listen() { return m_server->listen(QHostAddress(QHostAddress::LocalHost), 0); }
  bool ListenSecure(const QString& certificate, const QString& key) {
    QFile keyFile(key);
    if (!keyFile.open(QIODevice::ReadOnly)) return false;
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(QSslCertificate::fromPath(certificate));
    tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    m_server->setSslConfiguration(tls);
    return Listen();
  }
  std::uint16_t Port() const { return m_server->serverPort(); }

  std::vector<std::unique_ptr<Peer>> peers;

 private:
  std::unique_ptr<QWebSocketServer> m_server;
};

}  // namespace kestrova::ws::testing
