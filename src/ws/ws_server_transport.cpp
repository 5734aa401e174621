#include "ws/ws_server_transport.h"

#include <QFile>
#include <QNetworkRequest>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <utility>

namespace kestrova::ws {
namespace {

// Clients of the barrage server send short frames; the bound keeps a broken client from filling
// the server's memory.
constexpr quint64 kMaxIncomingMessageBytes = 1024u * 1024u;

QSslKey ReadPrivateKey(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  const QByteArray pem = file.readAll();
  for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec}) {
    QSslKey key(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
    if (!key.isNull()) return key;
  }
  return {};
}

}  // namespace

WsServerConnection::WsServerConnection(QWebSocket* socket, QObject* parent)
    : QObject(parent), m_socket(socket) {
  m_socket->setParent(this);
  m_socket->setMaxAllowedIncomingMessageSize(kMaxIncomingMessageBytes);
  m_origin = m_socket->origin();
  m_peer =
      m_socket->peerAddress().toString() + QLatin1Char(':') + QString::number(m_socket->peerPort());
  const QNetworkRequest request = m_socket->request();
  for (const QByteArray& name : request.rawHeaderList()) {
    m_headers.append({name.toLower(), request.rawHeader(name)});
  }
  // Queued, so that a session may close or drop the connection from inside a handler without
  // pulling the socket out from under the code that emitted the signal.
  QObject::connect(m_socket, &QWebSocket::binaryMessageReceived, this,
                   &WsServerConnection::HandleMessage, Qt::QueuedConnection);
  QObject::connect(m_socket, &QWebSocket::disconnected, this, &WsServerConnection::HandleGone,
                   Qt::QueuedConnection);
}

void WsServerConnection::SetHandlers(DataHandler onData, ClosedHandler onClosed) {
  m_onData = std::move(onData);
  m_onClosed = std::move(onClosed);
}

QByteArray WsServerConnection::Header(const QByteArray& name) const {
  const QByteArray wanted = name.toLower();
  for (const auto& [key, value] : m_headers) {
    if (key == wanted) return value;
  }
  return {};
}

bool WsServerConnection::Send(std::span<const std::uint8_t> bytes) {
  if (m_socket == nullptr) return false;
  const QByteArray message(reinterpret_cast<const char*>(bytes.data()),
                           static_cast<qsizetype>(bytes.size()));
  return m_socket->sendBinaryMessage(message) == message.size();
}

void WsServerConnection::Close() {
  if (m_socket == nullptr) return;
  QObject::disconnect(m_socket, nullptr, this, nullptr);
  m_socket->close();
  Release();
}

void WsServerConnection::HandleMessage(const QByteArray& message) {
  if (m_socket == nullptr || !m_onData) return;
  m_onData(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(message.constData()),
                                         static_cast<std::size_t>(message.size())));
}

void WsServerConnection::HandleGone() {
  if (m_socket == nullptr) return;
  Release();
  // Moved out first: the handler commonly drops the session that owns it.
  ClosedHandler onClosed = std::move(m_onClosed);
  m_onData = nullptr;
  if (onClosed) onClosed();
}

void WsServerConnection::Release() {
  m_socket = nullptr;
  deleteLater();
}

WsServerTransport::WsServerTransport(NewConnectionHandler onNewConnection, QObject* parent)
    : QObject(parent), m_onNewConnection(std::move(onNewConnection)) {}

WsServerTransport::~WsServerTransport() {
  Close();
}

QString WsServerTransport::Listen(const WsServerSettings& settings) {
  Close();
  const bool secure = !settings.certificateFile.isEmpty() || !settings.keyFile.isEmpty();
  QSslConfiguration tls;
  if (secure) {
    if (!QSslSocket::supportsSsl()) return QStringLiteral("TLS is not available in this Qt");
    const QList<QSslCertificate> chain = QSslCertificate::fromPath(
        settings.certificateFile, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString);
    if (chain.isEmpty()) {
      return QStringLiteral("no certificate could be read from ") + settings.certificateFile;
    }
    const QSslKey key = ReadPrivateKey(settings.keyFile);
    if (key.isNull()) {
      return QStringLiteral("no private key could be read from ") + settings.keyFile;
    }
    tls = QSslConfiguration::defaultConfiguration();
    tls.setLocalCertificateChain(chain);
    tls.setPrivateKey(key);
    tls.setPeerVerifyMode(QSslSocket::VerifyNone);
    tls.setProtocol(QSsl::TlsV1_2OrLater);
  }

  m_server = new QWebSocketServer(
      QStringLiteral("kestrova-barrage-server"),
      secure ? QWebSocketServer::SecureMode : QWebSocketServer::NonSecureMode, this);
  if (secure) m_server->setSslConfiguration(tls);
  QObject::connect(m_server, &QWebSocketServer::newConnection, this,
                   &WsServerTransport::AcceptPending);
  if (!m_server->listen(settings.address, settings.port)) {
    const QString reason = m_server->errorString();
    delete m_server;
    m_server = nullptr;
    return reason.isEmpty() ? QStringLiteral("cannot listen") : reason;
  }
  return {};
}

void WsServerTransport::Close() {
  for (const QPointer<WsServerConnection>& connection : m_connections) {
    if (connection) connection->Close();
  }
  m_connections.clear();
  if (m_server != nullptr) {
    // Deferred: Close may be called from a handler that runs inside the server's own signal.
    QObject::disconnect(m_server, nullptr, this, nullptr);
    m_server->close();
    m_server->deleteLater();
    m_server = nullptr;
  }
}

std::uint16_t WsServerTransport::Port() const {
  return m_server != nullptr ? m_server->serverPort() : 0;
}

QUrl WsServerTransport::Url() const {
  return m_server != nullptr ? m_server->serverUrl() : QUrl();
}

std::size_t WsServerTransport::ConnectionCount() const {
  std::size_t count = 0;
  for (const QPointer<WsServerConnection>& connection : m_connections) {
    if (connection && connection->IsOpen()) ++count;
  }
  return count;
}

void WsServerTransport::AcceptPending() {
  while (m_server != nullptr && m_server->hasPendingConnections()) {
    QWebSocket* socket = m_server->nextPendingConnection();
    if (socket == nullptr) break;
    auto* connection = new WsServerConnection(socket, this);
    std::erase_if(m_connections, [](const QPointer<WsServerConnection>& c) { return c.isNull(); });
    m_connections.emplace_back(connection);
    if (m_onNewConnection) m_onNewConnection(*connection);
  }
}

}  // namespace kestrova::ws
