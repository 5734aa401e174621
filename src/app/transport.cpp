#include "app/transport.h"

#include "app/qt_tcp_client.h"
#include "ws/websocket_client.h"

namespace kestrova::app {

std::unique_ptr<ports::TcpClient> MakeBarrageClient(const ws::BarrageEndpoint& endpoint,
                                                    const QString& extraCaFile, QObject* parent) {
  switch (endpoint.kind) {
    case ws::Transport::WebSocket:
    case ws::Transport::SecureWebSocket:
      return std::make_unique<ws::WebSocketClient>(
          ws::WebSocketClientSettings::ForEndpoint(endpoint, extraCaFile), parent);
    case ws::Transport::Tcp:
      break;
  }
  return std::make_unique<QtTcpClient>(parent);
}

barrage::LinkOptions LinkOptionsFor(const ws::BarrageEndpoint& endpoint, int keepAlivePeriodMs) {
  barrage::LinkOptions options;
  options.keepAlivePeriodMs = keepAlivePeriodMs;
  options.host = endpoint.host;
  options.port = endpoint.ports.empty() ? barrage::kBarragePort : endpoint.ports.front();
  if (endpoint.kind != ws::Transport::Tcp) {
    options.keepAlive = barrage::KeepAlive::Mrkl;
    options.watchdog = barrage::SilenceWatchdog::On;
  }
  return options;
}

}  // namespace kestrova::app
