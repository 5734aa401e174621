#pragma once

#include <QObject>
#include <QPointer>
#include <QTcpSocket>

#include "ports/ports.h"

namespace kestrova::app {

// 客户1 over QTcpSocket. The connect is asynchronous, so a start never freezes the window;
// QTcpSocket keeps what is written while it connects and sends it in order once connected, so
// login and join leave in the order they were written. Every readyRead becomes one OnData block
// holding everything readable at that moment. GUI thread only; the events object is not owned.
class QtTcpClient final : public QObject, public ports::TcpClient {
  Q_OBJECT

 public:
  explicit QtTcpClient(QObject* parent = nullptr);
  ~QtTcpClient() override;

  void SetEvents(ports::TcpEvents* events) override;
  bool Connect(const AnsiText& host, std::uint16_t port) override;
  bool Send(std::span<const std::uint8_t> bytes) override;
  void Disconnect() override;

 private:
  void DropSocket();
  void DeliverReadable();
  void RaiseClosed();

  ports::TcpEvents* m_events = nullptr;
  QPointer<QTcpSocket> m_socket;
  // One OnClosed per connection attempt, whichever of Qt's signals reports the end first.
  bool m_closedRaised = false;
};

}  // namespace kestrova::app
