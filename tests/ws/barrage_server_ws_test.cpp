// The local barrage server in its WebSocket mode, as a process on loopback (ephemeral ports):
// the session logic is the TCP one, and each piece the delivery mode cuts is one binary message.

#include <gtest/gtest.h>

#include <QSslConfiguration>
#include <QStringList>
#include <QTest>
#include <QUrl>
#include <QWebSocket>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "barrage/frame_codec.h"
#include "barrage/frame_splitter.h"
#include "intake/broadcast.h"
#include "intake/text.h"
#include "ports/ports.h"
#include "support/tool_process.h"
#include "test_pki.h"

namespace kestrova {
namespace {

// Each wait is bounded; the rates below make every one of them a fraction of this.
constexpr int kWaitMs = 10000;

template <typename Condition>
bool WaitFor(Condition condition) {
  return QTest::qWaitFor(condition, kWaitMs);
}

// Fast enough that a handful of gift-box rockets takes well under a second.
const QStringList kRates{QStringLiteral("--rocket-rate"), QStringLiteral("20"),
                         QStringLiteral("--noise-rate"),  QStringLiteral("400"),
                         QStringLiteral("--seed"),        QStringLiteral("7")};

// The server as a child process, on loopback, any free port, ended by itself within a minute
// should the test not end it first.
class ServerProcess : public ToolProcess {
 public:
  explicit ServerProcess(const QStringList& arguments)
      : ToolProcess(QStringLiteral(KESTROVA_BARRAGE_SERVER),
                    QStringList{QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0"),
                                QStringLiteral("--duration"), QStringLiteral("60")} +
                        arguments) {}

  // The port of the first line, which must be "listening 127.0.0.1:PORT"; 0 otherwise.
  quint16 Port() {
    const QString prefix = QStringLiteral("listening 127.0.0.1:");
    const QString first = FirstLine(kWaitMs);
    return first.startsWith(prefix) ? first.mid(prefix.size()).toUShort() : 0;
  }
};

// A client that keeps track of how the frames came: how many binary messages, which of them
// held several frames, which went on with a frame an earlier message had begun.
class Client {
 public:
  // caFile: for wss://, the CA to trust besides the system's.
  explicit Client(const QString& caFile = {}) {
    if (!caFile.isEmpty()) {
      QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
      tls.addCaCertificates(caFile);
      m_socket.setSslConfiguration(tls);
    }
    QObject::connect(&m_socket, &QWebSocket::binaryMessageReceived, &m_socket,
                     [this](const QByteArray& message) { OnMessage(message); });
    QObject::connect(&m_socket, &QWebSocket::disconnected, &m_socket, [this] { closed = true; });
    QObject::connect(&m_socket, &QWebSocket::pong, &m_socket, [this] { ++pongs; });
  }

  bool Open(const QString& scheme, quint16 port) {
    m_socket.open(QUrl(scheme + QStringLiteral("://127.0.0.1:") + QString::number(port) +
                       QStringLiteral("/")));
    return WaitFor(
               [this] { return m_socket.state() == QAbstractSocket::ConnectedState || closed; }) &&
           !closed;
  }

  void Send(const AnsiText& message) {
    const ByteBuffer frame = barrage::EncodeMessage(message);
    m_socket.sendBinaryMessage(QByteArray(reinterpret_cast<const char*>(frame.data()),
                                          static_cast<qsizetype>(frame.size())));
  }

  // Answered by the peer's WebSocket layer on the same connection, after whatever the server
  // wrote before it read the ping: a barrier that needs no waiting for time.
  void Ping() { m_socket.ping(); }

  QWebSocket& Socket() { return m_socket; }

  // The gift-box rockets among the frames, each as the six texts in UTF-8, tab-separated, as
  // the server's "rocket" lines give them after the client id.
  QStringList GiftBoxRockets() const {
    static const ports::SystemClock clock;
    QStringList rockets;
    for (const ByteBuffer& frame : frames) {
      const auto record = intake::RecognizeBroadcast(frame, clock);
      if (!record || record->size() < intake::kRocketTexts) continue;
      QStringList texts;
      for (std::size_t i = 0; i < intake::kRocketTexts; ++i) {
        texts.append(QString::fromStdString(intake::GbkToUtf8((*record)[i])));
      }
      rockets.append(texts.join(QLatin1Char('\t')));
    }
    return rockets;
  }

  bool HasFrameWithBody(std::string_view body) const {
    for (const ByteBuffer& frame : frames) {
      if (intake::FrameBody(frame) == body) return true;
    }
    return false;
  }

  std::vector<ByteBuffer> frames;
  std::size_t messages = 0;
  std::size_t messagesWithSeveralFrames = 0;
  std::size_t messagesGoingOnWithAFrame = 0;
  barrage::FrameSplitter splitter;
  bool closed = false;
  int pongs = 0;

 private:
  void OnMessage(const QByteArray& message) {
    ++messages;
    if (splitter.PendingBytes() > 0) ++messagesGoingOnWithAFrame;
    std::size_t here = 0;
    splitter.Feed(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(message.constData()),
                                      static_cast<std::size_t>(message.size())),
        [&](std::span<const std::uint8_t> frame) {
          frames.emplace_back(frame.begin(), frame.end());
          ++here;
        });
    if (here > 1) ++messagesWithSeveralFrames;
  }

  QWebSocket m_socket;
};

// The fields after "rocket<TAB>CLIENT<TAB>" of every rocket line of that client.
QStringList RocketsLogged(ServerProcess& server, int client) {
  QStringList rockets;
  const QString prefix = QStringLiteral("rocket\t") + QString::number(client) + QLatin1Char('\t');
  for (const QString& line : server.LinesStartingWith(prefix))
    rockets.append(line.mid(prefix.size()));
  return rockets;
}

const TestPki& Pki() {
  QString error;
  const TestPki* pki = SharedTestPki(&error);
  if (pki == nullptr) ADD_FAILURE() << "no test certificates: " << error.toStdString();
  static const TestPki none;
  return pki != nullptr ? *pki : none;
}

QStringList TlsArguments() {
  return {QStringLiteral("--tls-cert"), Pki().serverCertificate, QStringLiteral("--tls-key"),
          Pki().serverKey};
}

struct StreamCase {
  const char* name;
  bool secure;
  const char* delivery;
};

class BarrageServerWs : public ::testing::TestWithParam<StreamCase> {};

TEST_P(BarrageServerWs, LogsClientMessagesInOrderAnswersMrklAndEveryGiftBoxRocketArrives) {
  const StreamCase& param = GetParam();
  const std::string delivery = param.delivery;
  constexpr int kRockets = 6;
  QStringList arguments{QStringLiteral("--ws"),
                        QStringLiteral("--delivery"),
                        QString::fromLatin1(param.delivery),
                        QStringLiteral("--rockets"),
                        QString::number(kRockets),
                        QStringLiteral("--linger"),
                        QStringLiteral("30")};
  if (param.secure) arguments += TlsArguments();
  ServerProcess server(arguments + kRates);
  const quint16 port = server.Port();
  ASSERT_NE(port, 0) << server.Errors().toStdString();

  Client client(param.secure ? Pki().caCertificate : QString());
  ASSERT_TRUE(client.Open(param.secure ? QStringLiteral("wss") : QStringLiteral("ws"), port))
      << client.Socket().errorString().toStdString();
  client.Send(barrage::LoginMessage("100"));
  client.Send(barrage::JoinGroupMessage("100"));
  client.Send(barrage::MarkAliveMessage());

  ASSERT_TRUE(server.WaitForLine(QStringLiteral("done rockets")));
  const QStringList logged = RocketsLogged(server, 1);
  ASSERT_EQ(logged.size(), kRockets);
  ASSERT_TRUE(WaitFor([&] { return client.GiftBoxRockets().size() >= kRockets; }));
  EXPECT_EQ(client.GiftBoxRockets(), logged);

  EXPECT_EQ(server.LinesStartingWith(QStringLiteral("recv ")),
            (QStringList{QStringLiteral("recv 1 loginreq type@=loginreq/roomid@=100/"),
                         QStringLiteral("recv 1 joingroup type@=joingroup/rid@=100/gid@=-9999/"),
                         QStringLiteral("recv 1 mrkl type@=mrkl/")}));
  EXPECT_TRUE(client.HasFrameWithBody("type@=mrkl/"));
  EXPECT_EQ(client.splitter.DroppedBytes(), 0u);

  if (delivery == "whole") {
    EXPECT_EQ(client.messages, client.frames.size());
    EXPECT_EQ(client.messagesWithSeveralFrames, 0u);
  } else if (delivery == "batch") {
    EXPECT_GT(client.messagesWithSeveralFrames, 0u);
  }
  if (delivery == "split") {
    EXPECT_GT(client.messagesGoingOnWithAFrame, 0u);
  } else {
    EXPECT_EQ(client.messagesGoingOnWithAFrame, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(SchemeAndDelivery, BarrageServerWs,
                         ::testing::Values(StreamCase{"ws_whole", false, "whole"},
                                           StreamCase{"ws_split", false, "split"},
                                           StreamCase{"ws_batch", false, "batch"},
                                           StreamCase{"wss_whole", true, "whole"},
                                           StreamCase{"wss_split", true, "split"},
                                           StreamCase{"wss_batch", true, "batch"}),
                         [](const ::testing::TestParamInfo<StreamCase>& info) {
                           return std::string(info.param.name);
                         });

// A ws:// server whose sessions end their stream after two gift-box rockets, and one client
// that has logged in and joined.
class BarrageServerWsSession : public ::testing::Test {
 protected:
  void Join(const char* delivery, const char* fault) {
    server.emplace(QStringList{QStringLiteral("--ws"), QStringLiteral("--delivery"),
                               QString::fromLatin1(delivery), QString::fromLatin1(fault),
                               QStringLiteral("2")} +
                   kRates);
    port = server->Port();
    ASSERT_NE(port, 0) << server->Errors().toStdString();
    ASSERT_TRUE(client.Open(QStringLiteral("ws"), port));
    client.Send(barrage::LoginMessage("100"));
    client.Send(barrage::JoinGroupMessage("100"));
  }

  std::optional<ServerProcess> server;
  quint16 port = 0;
  Client client;
};

// Split delivery holds a frame's tail back between ticks; a drop must still end on a whole frame.
TEST_F(BarrageServerWsSession, DropAfterClosesTheWebSocketOnAWholeFrameAndTheServerGoesOn) {
  ASSERT_NO_FATAL_FAILURE(Join("split", "--drop-after"));

  ASSERT_TRUE(WaitFor([&] { return client.closed; }));
  EXPECT_EQ(client.Socket().closeCode(), QWebSocketProtocol::CloseCodeNormal);
  EXPECT_EQ(client.splitter.PendingBytes(), 0u);
  EXPECT_EQ(client.GiftBoxRockets(), RocketsLogged(*server, 1));
  EXPECT_EQ(client.GiftBoxRockets().size(), 2);
  ASSERT_TRUE(server->WaitForLine(QStringLiteral("client 1 closed")));
  const QStringList lines = server->Lines();
  EXPECT_LT(lines.indexOf(QStringLiteral("drop 1")),
            lines.indexOf(QStringLiteral("client 1 closed")));
  EXPECT_EQ(lines.count(QStringLiteral("drop 1")), 1);

  Client next;
  ASSERT_TRUE(next.Open(QStringLiteral("ws"), port));
  next.Send(barrage::LoginMessage("200"));
  EXPECT_TRUE(server->WaitForLine(QStringLiteral("recv 2 loginreq")));
  EXPECT_TRUE(WaitFor([&] { return !next.frames.empty(); }));
}

TEST_F(BarrageServerWsSession, SilentAfterKeepsTheConnectionOpenButAnswersNothingMore) {
  ASSERT_NO_FATAL_FAILURE(Join("batch", "--silent-after"));
  ASSERT_TRUE(server->WaitForLine(QStringLiteral("silent 1")));

  client.Send(barrage::MarkAliveMessage());
  client.Send(barrage::KeepAliveMessage("1500000000"));
  ASSERT_TRUE(server->WaitForLine(QStringLiteral("recv 1 keeplive")));
  // Any answer to those two was written before the server read the ping.
  client.Ping();
  ASSERT_TRUE(WaitFor([&] { return client.pongs == 1; }));

  EXPECT_FALSE(client.closed);
  EXPECT_TRUE(server->LinesStartingWith(QStringLiteral("client 1 closed")).isEmpty());
  EXPECT_FALSE(client.HasFrameWithBody("type@=mrkl/"));
  EXPECT_FALSE(client.HasFrameWithBody("type@=keeplive/tick@=1500000000/"));
  EXPECT_EQ(client.GiftBoxRockets(), RocketsLogged(*server, 1));
  ASSERT_EQ(client.GiftBoxRockets().size(), 2);
  // The stream stopped with the frame of the rocket that reached the bound.
  static const ports::SystemClock clock;
  ASSERT_FALSE(client.frames.empty());
  EXPECT_TRUE(intake::RecognizeBroadcast(client.frames.back(), clock).has_value());
}

struct UsageCase {
  const char* name;
  QStringList arguments;  // CERT and KEY stand for the test's certificate and key files
  int exitCode;
  const char* says;  // on stderr
};

class BarrageServerWsUsage : public ::testing::TestWithParam<UsageCase> {};

TEST_P(BarrageServerWsUsage, RefusesWithAReasonAndNeverListens) {
  QStringList arguments;
  for (const QString& argument : GetParam().arguments) {
    arguments.append(argument == QStringLiteral("CERT")  ? Pki().serverCertificate
                     : argument == QStringLiteral("KEY") ? Pki().serverKey
                                                         : argument);
  }
  ServerProcess server(arguments);
  EXPECT_EQ(server.ExitCode(), GetParam().exitCode);
  EXPECT_TRUE(server.LinesStartingWith(QStringLiteral("listening")).isEmpty());
  EXPECT_TRUE(server.Errors().contains(QString::fromLatin1(GetParam().says)));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BarrageServerWsUsage,
    ::testing::Values(
        UsageCase{"CertWithoutKey",
                  {QStringLiteral("--ws"), QStringLiteral("--tls-cert"), QStringLiteral("CERT")},
                  2,
                  "go together"},
        UsageCase{"KeyWithoutCert",
                  {QStringLiteral("--ws"), QStringLiteral("--tls-key"), QStringLiteral("KEY")},
                  2,
                  "go together"},
        UsageCase{"TlsWithoutWs",
                  {QStringLiteral("--tls-cert"), QStringLiteral("CERT"),
                   QStringLiteral("--tls-key"), QStringLiteral("KEY")},
                  2,
                  "need --ws"},
        UsageCase{"CertificateAsKey",
                  {QStringLiteral("--ws"), QStringLiteral("--tls-cert"), QStringLiteral("CERT"),
                   QStringLiteral("--tls-key"), QStringLiteral("CERT")},
                  1,
                  "no private key"},
        UsageCase{"MissingCertificate",
                  {QStringLiteral("--ws"), QStringLiteral("--tls-cert"),
                   QStringLiteral("/nonexistent/cert.pem"), QStringLiteral("--tls-key"),
                   QStringLiteral("KEY")},
                  1,
                  "no certificate"}),
    [](const ::testing::TestParamInfo<UsageCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrova
