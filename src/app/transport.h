#pragma once

#include <memory>

#include <QObject>

#include "barrage/barrage_link.h"
#include "ports/ports.h"
#include "ws/barrage_endpoint.h"

// The one place that decides how the barrage frames travel. Everything above the TcpClient port
// (the link, the splitter, the rows) is the same for every transport.
namespace kestrova::app {

// 客户1 for the endpoint: QTcpSocket for the plain stream, QWebSocket for ws:// and wss://,
// trusting the CA certificates of `extraCaFile` (if not empty) beside the system's. The client is
// a child of `parent`. GUI thread only.
std::unique_ptr<ports::TcpClient> MakeBarrageClient(const ws::BarrageEndpoint& endpoint,
                                                    const QString& extraCaFile, QObject* parent);

// The link's settings for the endpoint: host and first port, the heartbeat the server expects,
// and the silence watchdog where a healthy server always answers.
barrage::LinkOptions LinkOptionsFor(const ws::BarrageEndpoint& endpoint,
                                    int keepAlivePeriodMs = barrage::kKeepAlivePeriodMs);

}  // namespace kestrova::app
