#include "barrage_server.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>
#include <QTcpSocket>

#include <cmath>
#include <cstdio>
#include <functional>

#include "barrage/frame_codec.h"
#include "barrage/frame_splitter.h"
#include "intake/broadcast.h"
#include "intake/text.h"

#ifdef KESTROVA_BARRAGE_SERVER_WS
#include "ws/ws_server_transport.h"
#endif

namespace kestrova::tools {

namespace {

// A tick of 20 ms gives split frames a real gap between their pieces.
constexpr int kTickMs = 20;
// No tick writes more than this, whatever the rates say.
constexpr double kMaxMessagesPerTick = 20000.0;

std::string TypeOf(const std::string& body) {
  const auto start = body.find("type@=");
  if (start == std::string::npos) {
    return "?";
  }
  const auto end = body.find('/', start + 6);
  return body.substr(start + 6, end == std::string::npos ? std::string::npos : end - start - 6);
}

std::string ValueOf(const std::string& body, const std::string& key) {
  const std::string marker = key + "@=";
  std::size_t at = 0;
  if (body.compare(0, marker.size(), marker) != 0) {
    at = body.find("/" + marker);
    if (at == std::string::npos) {
      return {};
    }
    ++at;
  }
  const auto start = at + marker.size();
  const auto end = body.find('/', start);
  return body.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::span<const std::uint8_t> BytesOf(const QByteArray& bytes) {
  return {reinterpret_cast<const std::uint8_t*>(bytes.constData()),
          static_cast<std::size_t>(bytes.size())};
}

}  // namespace

bool WebSocketModeAvailable() {
#ifdef KESTROVA_BARRAGE_SERVER_WS
  return true;
#else
  return false;
#endif
}

void LogLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string RocketLine(int client, const RocketFacts& f) {
  return "rocket\t" + std::to_string(client) + "\t" + f.sn + "\t" + f.dn + "\t" + f.gn + "\t" +
         f.gc + "\t" + f.drid + "\t" + f.time;
}

struct BarrageServer::Session {
  Session(int id, const ServerOptions& options)
      : id(id), generator(options.seed), planner(options.delivery, options.seed ^ 0x5eedULL) {}

  int id;
  // All a session needs of its transport. Each piece leaves as it is (one TCP write, one
  // WebSocket message), so that the delivery mode shows on the wire.
  std::function<void(std::span<const std::uint8_t> piece)> write;
  // Ends the connection; the session is erased then or soon after, through EndSession.
  std::function<void()> close;
  barrage::FrameSplitter incoming;
  StreamGenerator generator;
  DeliveryPlanner planner;
  bool streaming = false;
  bool silent = false;
  double due = 0.0;
  std::size_t replayNext = 0;
  std::int64_t rockets = 0;
  // Set by a drop: whatever still arrives or is due before the session is gone is ignored.
  bool dropped = false;
};

BarrageServer::BarrageServer(ServerOptions options) : m_options(std::move(options)) {
  QObject::connect(&m_server, &QTcpServer::newConnection, this,
                   [this] { OnNewConnection(); });
  QObject::connect(&m_tick, &QTimer::timeout, this, [this] { OnTick(); });
}

BarrageServer::~BarrageServer() = default;

bool BarrageServer::Start() {
  if (!StartListening()) {
    return false;
  }
  m_startedMs = m_lastTickMs = QDateTime::currentMSecsSinceEpoch();
  m_tick.start(kTickMs);
  if (m_options.durationSeconds > 0) {
    QTimer::singleShot(static_cast<int>(m_options.durationSeconds * 1000), this, [] {
      LogLine("exit duration");
      QCoreApplication::exit(0);
    });
  }
  return true;
}

bool BarrageServer::StartListening() {
  QString failure;
  QHostAddress host = m_options.address;
  quint16 port = 0;
  if (m_options.webSocket) {
#ifdef KESTROVA_BARRAGE_SERVER_WS
    m_webSockets = new ws::WsServerTransport(
        [this](ws::WsServerConnection& connection) { OnNewWebSocket(connection); }, this);
    ws::WsServerSettings settings;
    settings.address = m_options.address;
    settings.port = m_options.port;
    settings.certificateFile = m_options.tlsCertificateFile;
    settings.keyFile = m_options.tlsKeyFile;
    failure = m_webSockets->Listen(settings);
    port = m_webSockets->Port();
#else
    failure = QStringLiteral("this build has no WebSocket mode");
#endif
  } else if (m_server.listen(m_options.address, m_options.port)) {
    host = m_server.serverAddress();
    port = m_server.serverPort();
  } else {
    failure = m_server.errorString();
  }
  if (!failure.isEmpty()) {
    std::fprintf(stderr, "kestrova-barrage-server: cannot listen on %s:%u: %s\n",
                 m_options.address.toString().toStdString().c_str(), m_options.port,
                 failure.toStdString().c_str());
    return false;
  }
  LogLine("listening " + host.toString().toStdString() + ":" + std::to_string(port));
  return true;
}

std::int64_t BarrageServer::NowSeconds() const {
  const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
  if (m_options.startTime > 0) {
    return m_options.startTime + (nowMs - m_startedMs) / 1000;
  }
  return nowMs / 1000;
}

BarrageServer::Session& BarrageServer::AddSession() {
  const int id = m_nextId++;
  auto session = std::make_unique<Session>(id, m_options);
  Session& ref = *session;
  m_sessions.emplace(id, std::move(session));
  LogLine("client " + std::to_string(id) + " connected");
  return ref;
}

void BarrageServer::EndSession(int id) {
  if (m_sessions.erase(id) > 0) {
    LogLine("client " + std::to_string(id) + " closed");
  }
}

void BarrageServer::OnNewConnection() {
  while (QTcpSocket* socket = m_server.nextPendingConnection()) {
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    Session& session = AddSession();
    const int id = session.id;
    session.write = [socket](std::span<const std::uint8_t> piece) {
      socket->write(reinterpret_cast<const char*>(piece.data()), static_cast<qint64>(piece.size()));
      socket->flush();
    };
    // `disconnected` ends the session, at once or once the bytes still queued are out.
    session.close = [socket] {
      socket->flush();
      socket->disconnectFromHost();
    };
    QObject::connect(socket, &QTcpSocket::readyRead, this, [this, id, socket] {
      const QByteArray bytes = socket->readAll();
      if (const auto it = m_sessions.find(id); it != m_sessions.end()) {
        OnBytes(*it->second, BytesOf(bytes));
      }
    });
    QObject::connect(socket, &QTcpSocket::disconnected, this, [this, id, socket] {
      socket->deleteLater();
      EndSession(id);
    });
  }
}

#ifdef KESTROVA_BARRAGE_SERVER_WS
void BarrageServer::OnNewWebSocket(ws::WsServerConnection& connection) {
  Session& session = AddSession();
  const int id = session.id;
  // The transport deletes a connection once it is closed, which a late write must notice.
  const QPointer<ws::WsServerConnection> guarded(&connection);
  session.write = [guarded](std::span<const std::uint8_t> piece) {
    if (guarded) {
      guarded->Send(piece);
    }
  };
  session.close = [this, id, guarded] {
    if (guarded) {
      guarded->Close();
    }
    // Close() raises no closed handler, so the session is ended here, on the next turn of the
    // event loop: the caller is still inside this session's Stream.
    QTimer::singleShot(0, this, [this, id] { EndSession(id); });
  };
  connection.SetHandlers(
      [this, id](std::span<const std::uint8_t> bytes) {
        if (const auto it = m_sessions.find(id); it != m_sessions.end()) {
          OnBytes(*it->second, bytes);
        }
      },
      [this, id] { EndSession(id); });
}
#endif

void BarrageServer::OnBytes(Session& session, std::span<const std::uint8_t> bytes) {
  if (session.dropped) {
    return;
  }
  std::vector<std::string> bodies;
  session.incoming.Feed(bytes, [&](std::span<const std::uint8_t> frame) {
    const auto body = frame.subspan(barrage::kFrameHeaderSize);
    std::string text(body.begin(), body.end());
    text.resize(std::min(text.size(), text.find('\0')));
    bodies.push_back(std::move(text));
  });
  // Handled after the feed: a reply may close the session.
  const int id = session.id;
  for (const std::string& body : bodies) {
    if (m_sessions.find(id) == m_sessions.end()) {
      return;
    }
    OnClientMessage(session, body);
  }
}

void BarrageServer::OnClientMessage(Session& session, const std::string& body) {
  const std::string type = TypeOf(body);
  LogLine("recv " + std::to_string(session.id) + " " + type + " " + body);
  if (session.silent) {
    return;
  }
  if (type == "loginreq") {
    session.generator.SetRoom(ValueOf(body, "roomid"));
    Write(session, {ServerFrame(session.generator.LoginReply())});
  } else if (type == "joingroup") {
    session.streaming = !m_boundReached;
    session.due = 0.0;
  } else if (type == "keeplive") {
    Write(session, {ServerFrame("type@=keeplive/tick@=" + ValueOf(body, "tick") + "/")});
  } else if (type == "mrkl") {
    Write(session, {ServerFrame("type@=mrkl/")});
  } else if (type == "logout") {
    session.streaming = false;
    Write(session, session.planner.Plan({}));
    const ByteBuffer held = session.planner.Flush();
    if (!held.empty()) {
      Write(session, {held});
    }
  }
}

void BarrageServer::Write(Session& session, const std::vector<ByteBuffer>& pieces) {
  for (const ByteBuffer& piece : pieces) {
    session.write(piece);
  }
}

void BarrageServer::Drop(Session& session) {
  LogLine("drop " + std::to_string(session.id));
  session.dropped = true;
  session.close();  // May erase the session at once: nothing of it is touched after this.
}

void BarrageServer::CountRocket(Session& session, const RocketFacts& facts) {
  ++m_rocketsSent;
  ++session.rockets;
  LogLine(RocketLine(session.id, facts));
}

void BarrageServer::OnTick() {
  const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
  const double seconds = static_cast<double>(nowMs - m_lastTickMs) / 1000.0;
  m_lastTickMs = nowMs;
  std::vector<int> ids;
  for (const auto& [id, session] : m_sessions) {
    ids.push_back(id);
  }
  for (int id : ids) {
    const auto it = m_sessions.find(id);
    if (it != m_sessions.end()) {
      Stream(*it->second, seconds);
    }
  }
}

void BarrageServer::Stream(Session& session, double seconds) {
  if (session.dropped) {
    return;
  }
  if (!session.streaming || session.silent) {
    if (!session.silent) {
      Write(session, session.planner.Plan({}));
    }
    return;
  }
  const StreamRates& rates = m_options.rates;
  const double total = rates.noisePerSecond + rates.rocketsPerSecond + rates.broadcastsPerSecond;
  session.due = std::min(session.due + total * seconds, kMaxMessagesPerTick);
  std::vector<ByteBuffer> frames;
  std::vector<RocketFacts> rockets;
  const std::int64_t now = NowSeconds();
  bool stopAfterThis = false;
  while (session.due >= 1.0 && !stopAfterThis) {
    session.due -= 1.0;
    if (m_options.replay) {
      const auto& replay = *m_options.replay;
      if (session.replayNext >= replay.size()) {
        session.streaming = false;
        LogLine("done replay " + std::to_string(session.id));
        break;
      }
      const ByteBuffer& frame = replay[session.replayNext++];
      frames.push_back(frame);
      static const ports::SystemClock clock;
      if (const auto record = intake::RecognizeBroadcast(frame, clock);
          record && record->size() >= intake::kRocketTexts) {
        RocketFacts facts;
        std::string* fields[] = {&facts.sn, &facts.dn, &facts.gn, &facts.gc, &facts.drid,
                                 &facts.time};
        for (std::size_t i = 0; i < intake::kRocketTexts; ++i) {
          *fields[i] = intake::GbkToUtf8((*record)[i]);
        }
        rockets.push_back(facts);
      }
    } else {
      GeneratedMessage message = session.generator.Next(now, rates);
      frames.push_back(ServerFrame(message.body));
      if (message.giftBoxRocket) {
        rockets.push_back(*message.giftBoxRocket);
      }
    }
    if (!rockets.empty()) {
      const auto sentHere = static_cast<std::int64_t>(rockets.size());
      const bool bound = m_options.rocketBound > 0 &&
                         m_rocketsSent + sentHere >= m_options.rocketBound;
      const bool drop = m_options.dropAfter > 0 && session.rockets + sentHere >= m_options.dropAfter;
      const bool silence =
          m_options.silentAfter > 0 && session.rockets + sentHere >= m_options.silentAfter;
      stopAfterThis = bound || drop || silence;
    }
  }
  // The rocket lines follow the write, so a reader never sees a line before its bytes left.
  Write(session, session.planner.Plan(frames));
  if (!stopAfterThis) {
    for (const auto& facts : rockets) CountRocket(session, facts);
    return;
  }
  // Whatever a bound ends, it ends on a whole frame.
  const ByteBuffer held = session.planner.Flush();
  if (!held.empty()) {
    Write(session, {held});
  }
  for (const auto& facts : rockets) CountRocket(session, facts);
  const int id = session.id;
  if (m_options.rocketBound > 0 && m_rocketsSent >= m_options.rocketBound) {
    m_boundReached = true;
    for (auto& [otherId, other] : m_sessions) {
      other->streaming = false;
    }
    LogLine("done rockets " + std::to_string(m_rocketsSent));
    QTimer::singleShot(static_cast<int>(m_options.lingerSeconds * 1000), this, [] {
      LogLine("exit rockets");
      QCoreApplication::exit(0);
    });
  }
  if (m_options.silentAfter > 0 && session.rockets >= m_options.silentAfter) {
    session.silent = true;
    session.streaming = false;
    LogLine("silent " + std::to_string(id));
  }
  if (m_options.dropAfter > 0 && session.rockets >= m_options.dropAfter) {
    Drop(session);
  }
}

}  // namespace kestrova::tools
