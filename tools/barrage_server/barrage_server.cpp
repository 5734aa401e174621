#include "barrage_server.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QTcpSocket>

#include <cmath>
#include <cstdio>

#include "barrage/frame_codec.h"
#include "barrage/frame_splitter.h"
#include "intake/broadcast.h"
#include "intake/text.h"

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

}  // namespace

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
  Session(int id, QTcpSocket* socket, const ServerOptions& options)
      : id(id),
        socket(socket),
        generator(options.seed),
        planner(options.delivery, options.seed ^ 0x5eedULL) {}

  int id;
  QTcpSocket* socket;
  barrage::FrameSplitter incoming;
  StreamGenerator generator;
  DeliveryPlanner planner;
  bool streaming = false;
  bool silent = false;
  double due = 0.0;
  std::size_t replayNext = 0;
  std::int64_t rockets = 0;
};

BarrageServer::BarrageServer(ServerOptions options) : m_options(std::move(options)) {
  QObject::connect(&m_server, &QTcpServer::newConnection, this,
                   [this] { OnNewConnection(); });
  QObject::connect(&m_tick, &QTimer::timeout, this, [this] { OnTick(); });
}

BarrageServer::~BarrageServer() = default;

bool BarrageServer::Start() {
  if (!m_server.listen(m_options.address, m_options.port)) {
    std::fprintf(stderr, "kestrova-barrage-server: cannot listen on %s:%u: %s\n",
                 m_options.address.toString().toStdString().c_str(), m_options.port,
                 m_server.errorString().toStdString().c_str());
    return false;
  }
  LogLine("listening " + m_server.serverAddress().toString().toStdString() + ":" +
          std::to_string(m_server.serverPort()));
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

std::int64_t BarrageServer::NowSeconds() const {
  const qint64 nowMs = QDateTime::currentMSecsSinceEpoch();
  if (m_options.startTime > 0) {
    return m_options.startTime + (nowMs - m_startedMs) / 1000;
  }
  return nowMs / 1000;
}

void BarrageServer::OnNewConnection() {
  while (QTcpSocket* socket = m_server.nextPendingConnection()) {
    const int id = m_nextId++;
    socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    auto session = std::make_unique<Session>(id, socket, m_options);
    Session& ref = *session;
    m_sessions.emplace(id, std::move(session));
    LogLine("client " + std::to_string(id) + " connected");
    QObject::connect(socket, &QTcpSocket::readyRead, this, [this, &ref] { OnReadable(ref); });
    QObject::connect(socket, &QTcpSocket::disconnected, this, [this, id, socket] {
      LogLine("client " + std::to_string(id) + " closed");
      socket->deleteLater();
      m_sessions.erase(id);
    });
  }
}

void BarrageServer::OnReadable(Session& session) {
  const QByteArray bytes = session.socket->readAll();
  std::vector<std::string> bodies;
  session.incoming.Feed(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                    static_cast<std::size_t>(bytes.size())),
      [&](std::span<const std::uint8_t> frame) {
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
    session.socket->write(reinterpret_cast<const char*>(piece.data()),
                          static_cast<qint64>(piece.size()));
    // Each piece leaves on its own, so the delivery mode shows on the wire.
    session.socket->flush();
  }
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
    LogLine("drop " + std::to_string(id));
    session.socket->flush();
    session.socket->disconnectFromHost();  // `disconnected` erases the session
  }
}

}  // namespace kestrova::tools
