#include "app/qt_tcp_client.h"

#include "app/qt_text.h"

namespace kestrova::app {

QtTcpClient::QtTcpClient(QObject* parent) : QObject(parent) {}

QtTcpClient::~QtTcpClient() { DropSocket(); }

void QtTcpClient::SetEvents(ports::TcpEvents* events) { m_events = events; }

bool QtTcpClient::Connect(const AnsiText& host, std::uint16_t port) {
  DropSocket();
  if (host.empty() || port == 0) return false;

  auto* socket = new QTcpSocket(this);
  m_socket = socket;
  m_closedRaised = false;
  // Small frames (login, join, keep-alive) should leave at once rather than wait for Nagle.
  socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);

  // Each handler checks that its socket is still the current one: a handler of ours may have
  // replaced or dropped it (a reconnect from inside OnClosed) while Qt still had signals queued.
  connect(socket, &QTcpSocket::connected, this, [this, socket] {
    if (socket != m_socket) return;
    if (m_events != nullptr) m_events->OnConnected();
  });
  connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
    if (socket != m_socket) return;
    DeliverReadable();
  });
  connect(socket, &QTcpSocket::disconnected, this, [this, socket] {
    if (socket != m_socket) return;
    DeliverReadable();
    RaiseClosed();
  });
  connect(socket, &QTcpSocket::errorOccurred, this, [this, socket](QAbstractSocket::SocketError) {
    if (socket != m_socket) return;
    // A failed connect leaves the socket unconnected without a disconnected signal; a broken
    // connection may report its error while still counting as connected, and then the
    // disconnected signal follows.
    if (socket->state() == QAbstractSocket::UnconnectedState ||
        socket->error() == QAbstractSocket::RemoteHostClosedError) {
      DeliverReadable();
      RaiseClosed();
    }
  });

  socket->connectToHost(FromAnsi(host), port);
  return true;
}

bool QtTcpClient::Send(std::span<const std::uint8_t> bytes) {
  if (m_socket == nullptr || m_closedRaised) return false;
  const auto state = m_socket->state();
  if (state == QAbstractSocket::UnconnectedState || state == QAbstractSocket::ClosingState) {
    return false;
  }
  if (bytes.empty()) return true;
  const qint64 written = m_socket->write(reinterpret_cast<const char*>(bytes.data()),
                                         static_cast<qint64>(bytes.size()));
  return written == static_cast<qint64>(bytes.size());
}

void QtTcpClient::Disconnect() { DropSocket(); }

void QtTcpClient::DropSocket() {
  QTcpSocket* socket = m_socket;
  m_socket = nullptr;
  if (socket == nullptr) return;
  socket->disconnect(this);
  // abort() discards unsent data and raises no signal to us any more; deleteLater because we
  // may be inside one of this socket's own signals.
  socket->abort();
  socket->deleteLater();
}

void QtTcpClient::DeliverReadable() {
  // The handler may replace the socket; keep a guarded pointer to the one being read.
  QPointer<QTcpSocket> socket = m_socket;
  if (socket == nullptr || socket->bytesAvailable() <= 0) return;
  const QByteArray block = socket->readAll();
  if (block.isEmpty() || m_events == nullptr) return;
  m_events->OnData(std::span<const std::uint8_t>(
      reinterpret_cast<const std::uint8_t*>(block.constData()),
      static_cast<std::size_t>(block.size())));
}

void QtTcpClient::RaiseClosed() {
  if (m_closedRaised) return;
  m_closedRaised = true;
  if (m_events != nullptr) m_events->OnClosed();
}

}  // namespace kestrova::app
