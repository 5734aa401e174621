// The whole program as a process, offscreen, against the local barrage and configuration
// servers, over plain TCP and over WebSocket: its row log must list every gift-box rocket the
// server sent, and nothing else.
#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <string>

#include "test_pki.h"
#include "local_servers.h"

namespace {

struct Route {
  const char* name;
  const char* scheme;  // of --barrage-server: "" (bare HOST:PORT, TCP), "ws://" or "wss://"
  const char* delivery;
};

class ProgramEndToEnd : public ::testing::TestWithParam<Route> {};

TEST_P(ProgramEndToEnd, RowLogListsEveryGiftBoxRocketAndNothingElse) {
  constexpr int kRockets = 6;
  const QString scheme = QString::fromLatin1(GetParam().scheme);
  QStringList serverMode;
  QStringList programTrust;
  if (!scheme.isEmpty()) serverMode << QStringLiteral("--ws");
  if (scheme == QStringLiteral("wss://")) {
    QString error;
    const TestPki* pki = SharedTestPki(&error);
    ASSERT_NE(pki, nullptr) << error.toStdString();
    serverMode << QStringLiteral("--tls-cert") << pki->serverCertificate
               << QStringLiteral("--tls-key") << pki->serverKey;
    programTrust << QStringLiteral("--barrage-ca") << pki->caCertificate;
  }
  ConfigServer config({QStringLiteral("--room"), QStringLiteral("9999")});
  BarrageServer barrage(serverMode +
                        QStringList{QStringLiteral("--rockets"), QString::number(kRockets),
                                    QStringLiteral("--rocket-rate"), QStringLiteral("12"),
                                    QStringLiteral("--noise-rate"), QStringLiteral("400"),
                                    QStringLiteral("--delivery"),
                                    QString::fromLatin1(GetParam().delivery),
                                    QStringLiteral("--linger"), QStringLiteral("30")});
  ASSERT_FALSE(config.url.isEmpty());
  ASSERT_FALSE(barrage.address.isEmpty());

  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString screenshot = dir.filePath(QStringLiteral("window.png"));
  ToolProcess program(QStringLiteral(KESTROVA_PROGRAM),
                      QStringList{QStringLiteral("--barrage-server"), scheme + barrage.address,
                                  QStringLiteral("--config-url"), config.url,
                                  QStringLiteral("--start"), QStringLiteral("--log-rows"),
                                  QStringLiteral("--quit-after"), QStringLiteral("8"),
                                  QStringLiteral("--screenshot"), screenshot} +
                          programTrust);
  // The server reports when its last gift-box rocket is out; the program closes by itself.
  ASSERT_TRUE(barrage.process.WaitForLine(QStringLiteral("done"), 30000));
  ASSERT_TRUE(program.WaitForExit(30000));
  EXPECT_EQ(program.Process().exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.Process().exitCode(), 0);
  EXPECT_TRUE(QFileInfo(screenshot).size() > 0);

  const QList<QStringList> sent = barrage.RocketsSent();
  ASSERT_EQ(sent.size(), kRockets);
  const QStringList rows = program.Lines();
  ASSERT_EQ(rows.size(), kRockets) << rows.join(QLatin1Char('\n')).toStdString();
  for (int i = 0; i < kRockets; ++i) {
    const QStringList cells = rows[i].split(QLatin1Char('\t'));
    ASSERT_EQ(cells.size(), 8) << rows[i].toStdString();
    EXPECT_EQ(cells[0], QStringLiteral("[有礼包]"));
    // The log is in arrival order, as the server sent them.
    EXPECT_EQ((QStringList{cells[1], cells[2], cells[3], cells[4], cells[7]}), sent[i])
        << rows[i].toStdString();
  }
  // A close ends the connection without a logout.
  for (const QString& line : barrage.process.Lines()) {
    EXPECT_FALSE(line.contains(QStringLiteral(" logout "))) << line.toStdString();
  }
}

INSTANTIATE_TEST_SUITE_P(
    Routes, ProgramEndToEnd,
    ::testing::Values(Route{"TcpWhole", "", "whole"}, Route{"TcpSplit", "", "split"},
                      Route{"TcpBatch", "", "batch"}, Route{"WsBatch", "ws://", "batch"},
                      Route{"WssWhole", "wss://", "whole"}, Route{"WssSplit", "wss://", "split"},
                      Route{"WssBatch", "wss://", "batch"}),
    [](const ::testing::TestParamInfo<Route>& info) { return std::string(info.param.name); });

}  // namespace
