#include "ws/websocket_client.h"

#include <QByteArray>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QUrl>
#include <utility>

namespace kestrova::ws {
namespace {

// Barrage messages are a few hundred bytes; anything near this bound is not the platform talking,
// and refusing it keeps a broken or hostile peer from filling the memory.
constexpr quint64 kMaxIncomingMessageBytes = 8u * 1024u * 1024u;
// How long a replaced connection may take to finish its closing handshake before it is dropped.
constexpr int kCloseGraceMs = 5000;

bool IsPlainAsciiHost(const AnsiText& host) {
  for (char c : host) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7f) return false;
  }
  return true;
}

}  // namespace

WebSocketClientSettings WebSocketClientSettings::ForEndpoint(const BarrageEndpoint& endpoint,
                                                             QString extraCaFile) {
  WebSocketClientSettings settings;
  settings.kind = endpoint.kind;
  settings.ports = endpoint.ports;
  settings.extraCaFile = std::move(extraCaFile);
  return settings;
}

WebSocketClient::WebSocketClient(WebSocketClientSettings settings, QObject* parent)
    : QObject(parent),
      m_settings(std::move(settings)),
      m_rotation(m_settings.ports, m_settings.pickPort) {
  if (!m_settings.extraCaFile.isEmpty()) {
    m_extraCas = QSslCertificate::fromPath(m_settings.extraCaFile, QSsl::Pem,
                                           QSslCertificate::PatternSyntax::FixedString);
    m_caLoaded = !m_extraCas.isEmpty();
  }
  m_connectTimer.setSingleShot(true);
  QObject::connect(&m_connectTimer, &QTimer::timeout, this, [this] { HandleFailure(m_attempt); });
}

WebSocketClient::~WebSocketClient() {
  DropSocket();
}

void WebSocketClient::SetEvents(ports::TcpEvents* events) {
  m_events = events;
}

bool WebSocketClient::Connect(const AnsiText& host, std::uint16_t port) {
  DropSocket();
  m_pending.clear();
  m_connectTimer.stop();
  m_state = State::Idle;
  ++m_attempt;

  if (!m_caLoaded || host.empty() || !IsPlainAsciiHost(host)) return false;
  const std::uint16_t chosen = m_settings.ports.empty() ? port : m_rotation.Next();
  if (chosen == 0) return false;
  const Transport kind = m_settings.kind == Transport::SecureWebSocket ? Transport::SecureWebSocket
                                                                       : Transport::WebSocket;
  const QUrl url(QString::fromStdString(WebSocketAddress(kind, host, chosen)), QUrl::StrictMode);
  if (!url.isValid() || url.host().isEmpty()) return false;

  m_currentPort = chosen;
  m_socket =
      new QWebSocket(QString::fromLatin1(kDouyuOrigin), QWebSocketProtocol::VersionLatest, this);
  m_socket->setMaxAllowedIncomingMessageSize(kMaxIncomingMessageBytes);
  if (kind == Transport::SecureWebSocket) {
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
    if (!m_extraCas.isEmpty()) {
      // Naming CA certificates switches off Qt's on-demand loading of the system's, so they
      // are listed explicitly: the extra file adds trust, it never replaces it.
      tls.setCaCertificates(QSslConfiguration::systemCaCertificates() + m_extraCas);
    }
    m_socket->setSslConfiguration(tls);
  }

  // Queued, so that no event of ours runs inside QWebSocket's own code (the handler may well
  // replace the socket), and so that none is raised from inside Connect itself. The attempt
  // number drops whatever was already queued when the socket was replaced.
  const std::uint64_t attempt = m_attempt;
  QObject::connect(
      m_socket, &QWebSocket::connected, this, [this, attempt] { HandleConnected(attempt); },
      Qt::QueuedConnection);
  QObject::connect(
      m_socket, &QWebSocket::binaryMessageReceived, this,
      [this, attempt](const QByteArray& message) { HandleMessage(attempt, message); },
      Qt::QueuedConnection);
  QObject::connect(
      m_socket, &QWebSocket::disconnected, this, [this, attempt] { HandleFailure(attempt); },
      Qt::QueuedConnection);
  QObject::connect(
      m_socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this,
      [this, attempt] { HandleFailure(attempt); }, Qt::QueuedConnection);
  QObject::connect(
      m_socket, &QWebSocket::sslErrors, this, [this, attempt] { HandleFailure(attempt); },
      Qt::QueuedConnection);

  QNetworkRequest request(url);
  request.setRawHeader(QByteArrayLiteral("User-Agent"), QByteArray(kBrowserUserAgent));
  m_state = State::Connecting;
  m_connectTimer.start(m_settings.connectTimeoutMs);
  m_socket->open(request);
  return true;
}

bool WebSocketClient::Send(std::span<const std::uint8_t> bytes) {
  if (m_state == State::Idle || m_socket == nullptr) return false;
  QByteArray message(reinterpret_cast<const char*>(bytes.data()),
                     static_cast<qsizetype>(bytes.size()));
  if (m_state == State::Connecting) {
    m_pending.push_back(std::move(message));
    return true;
  }
  return m_socket->sendBinaryMessage(message) == message.size();
}

void WebSocketClient::Disconnect() {
  DropSocket();
  m_pending.clear();
  m_connectTimer.stop();
  m_state = State::Idle;
  ++m_attempt;
}

void WebSocketClient::HandleConnected(std::uint64_t attempt) {
  if (attempt != m_attempt || m_state != State::Connecting || m_socket == nullptr) return;
  m_connectTimer.stop();
  m_state = State::Open;
  for (const QByteArray& message : m_pending) m_socket->sendBinaryMessage(message);
  m_pending.clear();
  if (m_events != nullptr) m_events->OnConnected();
}

void WebSocketClient::HandleMessage(std::uint64_t attempt, const QByteArray& message) {
  if (attempt != m_attempt || m_state != State::Open || m_events == nullptr) return;
  m_events->OnData(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(message.constData()),
                                    static_cast<std::size_t>(message.size())));
}

void WebSocketClient::HandleFailure(std::uint64_t attempt) {
  if (attempt != m_attempt || m_state == State::Idle) return;
  const bool neverOpened = m_state == State::Connecting;
  DropSocket();
  m_pending.clear();
  m_connectTimer.stop();
  m_state = State::Idle;
  if (neverOpened) m_rotation.MarkFailed();
  if (m_events != nullptr) m_events->OnClosed();
}

void WebSocketClient::DropSocket() {
  if (m_socket == nullptr) return;
  QWebSocket* socket = m_socket;
  m_socket = nullptr;
  QObject::disconnect(socket, nullptr, this, nullptr);
  if (socket->state() == QAbstractSocket::ConnectedState) {
    // Say goodbye properly, but do not wait for it: the socket deletes itself once the server
    // has answered the close, or after a grace period.
    QObject::connect(socket, &QWebSocket::disconnected, socket, &QObject::deleteLater);
    QTimer::singleShot(kCloseGraceMs, socket, [socket] { socket->deleteLater(); });
    socket->close();
  } else {
    socket->abort();
    socket->deleteLater();
  }
}

}  // namespace kestrova::ws
