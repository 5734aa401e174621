// The window over today's transport: the same Session the program runs, its barrage link on a
// WebSocket to the local barrage server in WebSocket mode (ws:// and wss:// with certificates
// made by openssl in the test), every state shown where the user looks: the rows and status
// pane 1.
#include <QFile>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTest>

#include <gtest/gtest.h>

#include "intake/texts.h"
#include "test_pki.h"
#include "local_servers.h"
#include "window_fixture.h"

namespace kestrova::app {
namespace {

using barrage::BarrageLink;

// The message types that client `id` sent, in the order the server read them.
QStringList Received(ToolProcess& server, int client) {
  const QString prefix = QStringLiteral("recv %1 ").arg(client);
  QStringList types;
  for (const QString& line : server.Lines()) {
    if (line.startsWith(prefix)) types.append(line.section(QLatin1Char(' '), 2, 2));
  }
  return types;
}

// Rows are newest first; the server logs its rockets oldest first.
void ExpectRowsAreTheRocketsSent(MainWindow& window, const QList<QStringList>& sent) {
  ASSERT_EQ(window.RowCount(), sent.size());
  for (int row = 0; row < window.RowCount(); ++row) {
    const QStringList& rocket = sent[static_cast<int>(sent.size()) - 1 - row];
    EXPECT_EQ(Utf8(window.CellText(row, 0)), QStringLiteral("[有礼包]"));
    for (int field = 0; field < 4; ++field) {
      EXPECT_EQ(Utf8(window.CellText(row, field + 1)), rocket[field]) << row << "/" << field;
    }
    EXPECT_EQ(Utf8(window.CellText(row, 7)), rocket[4]) << row;
  }
}

class WebSocketWindowTest : public WindowTest {
 protected:
  void SetUp() override {
    QString error;
    m_pki = SharedTestPki(&error);
    ASSERT_NE(m_pki, nullptr) << error.toStdString();
  }

  // The local barrage server in WebSocket mode, over TLS with the test certificate if secure.
  std::unique_ptr<BarrageServer> StartServer(bool secure, QStringList arguments) {
    QStringList mode{QStringLiteral("--ws")};
    if (secure) {
      mode << QStringLiteral("--tls-cert") << m_pki->serverCertificate << QStringLiteral("--tls-key")
           << m_pki->serverKey;
    }
    return std::make_unique<BarrageServer>(mode + arguments);
  }

  // The program's options for that server: the test CA trusted for wss://, and a heartbeat
  // short enough that the silence watchdog acts within the test.
  Options OptionsFor(const QString& configUrl, bool secure, const QString& address) const {
    Options options = WindowTest::OptionsFor(
        configUrl, (secure ? QStringLiteral("wss://") : QStringLiteral("ws://")) + address);
    if (secure) options.barrageCaFile = m_pki->caCertificate;
    options.keepAlivePeriodMs = 200;
    return options;
  }

  // Opens the window and clicks 按钮1 as soon as the configuration allows it.
  MainWindow& StartMonitoring(const Options& options) {
    MainWindow& window = Open(options).Window();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.Button().isEnabled(); }, kWaitMs));
    QTest::mouseClick(&window.Button(), Qt::LeftButton);
    EXPECT_EQ(window.Button().text(), QStringLiteral("停止监控"));
    return window;
  }

  bool WaitForStatus(const AnsiText& text) {
    return QTest::qWaitFor([&] { return m_session->Window().StatusText(1) == text; }, kWaitMs);
  }

  const TestPki* m_pki = nullptr;
};

struct Wire {
  const char* name;
  bool secure;
  const char* delivery;
};

class WebSocketMonitoring : public WebSocketWindowTest, public ::testing::WithParamInterface<Wire> {};

// One frame per message, a frame across messages, several frames in one message: the splitter
// above the transport makes them the same rows.
TEST_P(WebSocketMonitoring, LoginJoinAndMrklInOrderAndEveryGiftBoxRocketBecomesARow) {
  constexpr int kRockets = 5;
  ConfigServer config({QStringLiteral("--room"), QStringLiteral("9999")});
  const auto barrage = StartServer(
      GetParam().secure,
      {QStringLiteral("--rockets"), QString::number(kRockets), QStringLiteral("--rocket-rate"),
       QStringLiteral("20"), QStringLiteral("--noise-rate"), QStringLiteral("400"),
       QStringLiteral("--delivery"), QString::fromLatin1(GetParam().delivery),
       QStringLiteral("--linger"), QStringLiteral("60")});
  ASSERT_FALSE(config.url.isEmpty());
  ASSERT_FALSE(barrage->address.isEmpty());
  MainWindow& window = StartMonitoring(OptionsFor(config.url, GetParam().secure, barrage->address));

  ASSERT_TRUE(barrage->process.WaitForLine(QStringLiteral("done rockets"), kWaitMs));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.RowCount() == kRockets; }, kWaitMs));
  ExpectRowsAreTheRocketsSent(window, barrage->RocketsSent());
  EXPECT_EQ(window.StatusText(1), intake::Texts().monitoring);
  EXPECT_EQ(m_session->Link().ConnectionState(), BarrageLink::Connection::Connected);

  ASSERT_TRUE(QTest::qWaitFor([&] { return Received(barrage->process, 1).size() >= 4; }, kWaitMs));
  const QStringList sent = Received(barrage->process, 1);
  EXPECT_EQ(sent[0], QStringLiteral("loginreq"));
  EXPECT_EQ(sent[1], QStringLiteral("joingroup"));
  for (int i = 2; i < sent.size(); ++i) EXPECT_EQ(sent[i], QStringLiteral("mrkl")) << i;
}

INSTANTIATE_TEST_SUITE_P(
    Wires, WebSocketMonitoring,
    ::testing::Values(Wire{"PlainWhole", false, "whole"}, Wire{"PlainSplit", false, "split"},
                      Wire{"PlainBatch", false, "batch"}, Wire{"TlsWhole", true, "whole"},
                      Wire{"TlsSplit", true, "split"}, Wire{"TlsBatch", true, "batch"}),
    [](const ::testing::TestParamInfo<Wire>& info) { return std::string(info.param.name); });

struct Fault {
  const char* name;
  const char* serverOption;  // what the server does to the first connection after 3 rockets
  bool secure;
};

class WebSocketFault : public WebSocketWindowTest, public ::testing::WithParamInterface<Fault> {};

// A server that closes, and one that stops sending without closing: both are shown as a lost
// connection, reconnected with login and join, and the rockets that follow are rows again.
TEST_P(WebSocketFault, LostConnectionIsShownAndReconnectedAndRowsFollow) {
  constexpr int kRockets = 4;  // three on the first connection, the last on the second
  ConfigServer config({QStringLiteral("--room"), QStringLiteral("9999")});
  const auto barrage = StartServer(
      GetParam().secure,
      {QStringLiteral("--rockets"), QString::number(kRockets), QString::fromLatin1(GetParam().serverOption),
       QStringLiteral("3"), QStringLiteral("--rocket-rate"), QStringLiteral("20"),
       QStringLiteral("--linger"), QStringLiteral("60")});
  ASSERT_FALSE(config.url.isEmpty());
  ASSERT_FALSE(barrage->address.isEmpty());
  MainWindow& window = StartMonitoring(OptionsFor(config.url, GetParam().secure, barrage->address));

  ASSERT_TRUE(WaitForStatus(intake::Texts().connectionLost));
  EXPECT_EQ(window.RowCount(), 3);
  EXPECT_EQ(window.Button().text(), QStringLiteral("停止监控"));

  ASSERT_TRUE(barrage->process.WaitForLine(QStringLiteral("done rockets"), kWaitMs));
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.RowCount() == kRockets; }, kWaitMs));
  ExpectRowsAreTheRocketsSent(window, barrage->RocketsSent());
  EXPECT_EQ(window.StatusText(1), intake::Texts().monitoring);
  const QStringList again = Received(barrage->process, 2);
  ASSERT_GE(again.size(), 2);
  EXPECT_EQ(again[0], QStringLiteral("loginreq"));
  EXPECT_EQ(again[1], QStringLiteral("joingroup"));
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WebSocketFault,
    ::testing::Values(Fault{"ServerCloses", "--drop-after", false},
                      Fault{"ServerFallsSilent", "--silent-after", true}),
    [](const ::testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

// A wss:// server whose certificate the program does not trust is never taken for a connection:
// pane 1 says the connect failed, and the program keeps trying.
TEST_F(WebSocketWindowTest, UntrustedCertificateFailsVisiblyAndIsRetried) {
  QFile keyFile(m_pki->serverKey);
  ASSERT_TRUE(keyFile.open(QIODevice::ReadOnly));
  QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
  tls.setLocalCertificateChain(QSslCertificate::fromPath(m_pki->serverCertificate));
  tls.setPrivateKey(QSslKey(keyFile.readAll(), QSsl::Ec));
  QSslServer server;
  server.setSslConfiguration(tls);
  int handshakes = 0;
  QObject::connect(&server, &QSslServer::startedEncryptionHandshake, [&] { ++handshakes; });
  ASSERT_TRUE(server.listen(QHostAddress(QHostAddress::LocalHost), 0));

  ConfigServer config({QStringLiteral("--room"), QStringLiteral("9999")});
  ASSERT_FALSE(config.url.isEmpty());
  Options options = OptionsFor(config.url, true,
                               QStringLiteral("127.0.0.1:") + QString::number(server.serverPort()));
  options.barrageCaFile.clear();  // the system's CAs only, which never signed the test's
  MainWindow& window = StartMonitoring(options);

  ASSERT_TRUE(WaitForStatus(intake::Texts().connectFailed));
  ASSERT_TRUE(QTest::qWaitFor([&] { return handshakes >= 2; }, kWaitMs));
  EXPECT_EQ(window.StatusText(1), intake::Texts().connectFailed);
  EXPECT_NE(m_session->Link().ConnectionState(), BarrageLink::Connection::Connected);
  EXPECT_EQ(window.RowCount(), 0);
}

}  // namespace
}  // namespace kestrova::app
