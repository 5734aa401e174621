// The command line as the program reads it: which barrage endpoint and trust it ends up with,
// and which combinations are refused before any window opens.
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/options.h"
#include "test_pki.h"

namespace kestrova::app {
namespace {

ParsedOptions Parse(QStringList arguments) {
  arguments.prepend(QStringLiteral("kestrova"));
  return ParseOptions(arguments);
}

TEST(OptionsTest, BarrageEndpointChoices) {
  struct Case {
    QStringList arguments;
    ws::BarrageEndpoint expected;
  };
  for (const Case& c : {
           Case{{}, DefaultOptions().barrageServer},
           Case{{QStringLiteral("--live")}, ws::LiveBarrageEndpoint()},
           Case{{QStringLiteral("--barrage-server"), QStringLiteral("127.0.0.1:7000")},
                {ws::Transport::Tcp, "127.0.0.1", {7000}}},
           Case{{QStringLiteral("--barrage-server"), QStringLiteral("ws://127.0.0.1:7001")},
                {ws::Transport::WebSocket, "127.0.0.1", {7001}}},
           Case{{QStringLiteral("--barrage-server"), QStringLiteral("wss://localhost:7002/")},
                {ws::Transport::SecureWebSocket, "localhost", {7002}}},
       }) {
    SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
    const ParsedOptions parsed = Parse(c.arguments);
    ASSERT_EQ(parsed.status, ParsedOptions::Status::Run) << parsed.message.toStdString();
    EXPECT_EQ(parsed.options.barrageServer, c.expected);
    EXPECT_TRUE(parsed.options.barrageCaFile.isEmpty());
    EXPECT_EQ(parsed.options.keepAlivePeriodMs, 45000);
  }
  // The built-in endpoint stays the described TCP server.
  EXPECT_EQ(DefaultOptions().barrageServer,
            (ws::BarrageEndpoint{ws::Transport::Tcp, "openbarrage.douyutv.com", {8601}}));
}

TEST(OptionsTest, ExtraCaIsReadAtStartAndOnlyForTls) {
  QString error;
  const TestPki* pki = SharedTestPki(&error);
  ASSERT_NE(pki, nullptr) << error.toStdString();
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString notPem = dir.filePath(QStringLiteral("not.pem"));
  QFile file(notPem);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write("not a certificate\n");
  file.close();

  const ParsedOptions good = Parse({QStringLiteral("--barrage-server"),
                                    QStringLiteral("wss://127.0.0.1:7002"),
                                    QStringLiteral("--barrage-ca"), pki->caCertificate});
  ASSERT_EQ(good.status, ParsedOptions::Status::Run) << good.message.toStdString();
  EXPECT_EQ(good.options.barrageCaFile, pki->caCertificate);
  EXPECT_EQ(Parse({QStringLiteral("--live"), QStringLiteral("--barrage-ca"), pki->caCertificate})
                .status,
            ParsedOptions::Status::Run);

  struct Refusal {
    QStringList arguments;
    const char* complaint;
  };
  for (const Refusal& r : {
           Refusal{{QStringLiteral("--barrage-server"), QStringLiteral("wss://127.0.0.1:7002"),
                    QStringLiteral("--barrage-ca"), notPem},
                   "--barrage-ca: no PEM certificate in "},
           Refusal{{QStringLiteral("--barrage-server"), QStringLiteral("wss://127.0.0.1:7002"),
                    QStringLiteral("--barrage-ca"), dir.filePath(QStringLiteral("missing.pem"))},
                   "--barrage-ca: no PEM certificate in "},
           Refusal{{QStringLiteral("--barrage-server"), QStringLiteral("ws://127.0.0.1:7001"),
                    QStringLiteral("--barrage-ca"), pki->caCertificate},
                   "--barrage-ca: only a wss://"},
           Refusal{{QStringLiteral("--barrage-ca"), pki->caCertificate},
                   "--barrage-ca: only a wss://"},
           Refusal{{QStringLiteral("--live"), QStringLiteral("--barrage-server"),
                    QStringLiteral("wss://127.0.0.1:7002")},
                   "--barrage-server and --live"},
           Refusal{{QStringLiteral("--barrage-server"), QStringLiteral("wss://127.0.0.1:7002/path")},
                   "--barrage-server: not HOST[:PORT]"},
       }) {
    SCOPED_TRACE(r.arguments.join(QLatin1Char(' ')).toStdString());
    const ParsedOptions parsed = Parse(r.arguments);
    EXPECT_EQ(parsed.status, ParsedOptions::Status::Error);
    EXPECT_TRUE(parsed.message.startsWith(QString::fromLatin1(r.complaint)))
        << parsed.message.toStdString();
  }
}

}  // namespace
}  // namespace kestrova::app
