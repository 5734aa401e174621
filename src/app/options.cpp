#include "app/options.h"

#include <QCommandLineParser>
#include <QSslCertificate>

#include "app/endpoints.h"
#include "app/qt_text.h"

namespace kestrova::app {

Options DefaultOptions() {
  Options options;
  options.barrageServer.kind = ws::Transport::Tcp;
  options.barrageServer.host = std::string(BarrageServerHost);
  options.barrageServer.ports = {kBarrageServerPort};
  options.configUrl = AnsiText(ConfigUrl);
  return options;
}

ParsedOptions ParseOptions(const QStringList& arguments) {
  ParsedOptions result;
  result.options = DefaultOptions();

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Kestrova watches the Douyu barrage server for rocket broadcasts that carry a gift box and "
      "lists each one at once.\nWithout options it uses the built-in barrage server and "
      "configuration URL."));
  const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("Show this help and exit."));
  const QCommandLineOption barrage(
      QStringLiteral("barrage-server"),
      QStringLiteral("Barrage server to watch instead of the built-in one: HOST[:PORT] "
                     "(TCP, port 8601 when omitted), tcp://, ws:// or wss://HOST[:PORT]."),
      QStringLiteral("HOST[:PORT]"));
  const QCommandLineOption live(
      QStringLiteral("live"),
      QStringLiteral("Watch today's platform: wss://danmuproxy.douyu.com, ports 8501 to 8506 (one "
                     "at random for each connection, the next one after a failure)."));
  const QCommandLineOption barrageCa(
      QStringLiteral("barrage-ca"),
      QStringLiteral("Trust the CA certificates in the PEM FILE as well as the system's, for a "
                     "wss:// barrage server of your own. Certificates are always verified."),
      QStringLiteral("FILE"));
  const QCommandLineOption config(
      QStringLiteral("config-url"),
      QStringLiteral("Configuration address instead of the built-in one, for example "
                     "127.0.0.1:8680/config (plain HTTP)."),
      QStringLiteral("URL"));
  const QCommandLineOption logRows(
      QStringLiteral("log-rows"),
      QStringLiteral("Also write every new row to standard output at once: the eight cells "
                     "separated by tabs, UTF-8, one line per row."));
  const QCommandLineOption start(
      QStringLiteral("start"),
      QStringLiteral("Press the start button once, as soon as the configuration has enabled it."));
  const QCommandLineOption screenshot(
      QStringLiteral("screenshot"),
      QStringLiteral("Save a picture of the window to FILE just before it closes."),
      QStringLiteral("FILE"));
  const QCommandLineOption quitAfter(
      QStringLiteral("quit-after"),
      QStringLiteral("Close the window normally after SECONDS (fractions allowed)."),
      QStringLiteral("SECONDS"));
  parser.addOptions({help, barrage, live, barrageCa, config, logRows, start, screenshot, quitAfter});

  auto fail = [&result](const QString& message) {
    result.status = ParsedOptions::Status::Error;
    result.message = message;
    return result;
  };

  if (!parser.parse(arguments)) return fail(parser.errorText());
  if (parser.isSet(help)) {
    result.status = ParsedOptions::Status::Help;
    result.message = parser.helpText();
    return result;
  }
  if (!parser.positionalArguments().isEmpty()) {
    return fail(QStringLiteral("unexpected argument: ") + parser.positionalArguments().first());
  }
  if (parser.isSet(barrage)) {
    const QString text = parser.value(barrage);
    const std::optional<ws::BarrageEndpoint> endpoint =
        ws::ParseBarrageEndpoint(text.toStdString());
    if (!endpoint) {
      return fail(QStringLiteral("--barrage-server: not HOST[:PORT], tcp://, ws:// or "
                                 "wss://HOST[:PORT]: ") +
                  text);
    }
    if (parser.isSet(live)) {
      return fail(QStringLiteral("--barrage-server and --live: choose one"));
    }
    result.options.barrageServer = *endpoint;
  } else if (parser.isSet(live)) {
    result.options.barrageServer = ws::LiveBarrageEndpoint();
  }
  if (parser.isSet(barrageCa)) {
    const QString file = parser.value(barrageCa);
    if (result.options.barrageServer.kind != ws::Transport::SecureWebSocket) {
      return fail(QStringLiteral("--barrage-ca: only a wss:// barrage server uses certificates"));
    }
    // Read here as the client will read it, so that a wrong file is refused at start instead
    // of failing every connection later.
    if (QSslCertificate::fromPath(file, QSsl::Pem, QSslCertificate::PatternSyntax::FixedString)
            .isEmpty()) {
      return fail(QStringLiteral("--barrage-ca: no PEM certificate in ") + file);
    }
    result.options.barrageCaFile = file;
  }
  if (parser.isSet(config)) {
    const QString text = parser.value(config);
    if (text.isEmpty()) return fail(QStringLiteral("--config-url: empty"));
    result.options.configUrl = ToAnsi(text);
  }
  result.options.logRows = parser.isSet(logRows);
  result.options.start = parser.isSet(start);
  if (parser.isSet(screenshot)) {
    result.options.screenshotFile = parser.value(screenshot);
    if (result.options.screenshotFile.isEmpty()) return fail(QStringLiteral("--screenshot: empty"));
  }
  if (parser.isSet(quitAfter)) {
    bool ok = false;
    const double seconds = parser.value(quitAfter).toDouble(&ok);
    if (!ok || seconds < 0 || seconds > 7 * 24 * 3600.0) {
      return fail(QStringLiteral("--quit-after: not a number of seconds: ") + parser.value(quitAfter));
    }
    result.options.quitAfterSeconds = seconds;
  }
  return result;
}

}  // namespace kestrova::app
