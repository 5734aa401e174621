#pragma once

#include <optional>

#include <QString>
#include <QStringList>

#include "barrage/barrage_link.h"
#include "ports/types.h"
#include "ws/barrage_endpoint.h"

// What the command line may change. Without options the program behaves exactly as it always
// did: the described barrage server and configuration URL, nothing logged, nothing pressed.
namespace kestrova::app {

struct Options {
  ws::BarrageEndpoint barrageServer;  // BarrageServerHost, port 8601
  // A PEM file of CA certificates trusted, beside the system's, for a wss:// barrage server.
  QString barrageCaFile;
  // The heartbeat period. Not on the command line: the servers expect 45 s; tests of the
  // silence watchdog shorten it.
  int keepAlivePeriodMs = barrage::kKeepAlivePeriodMs;
  AnsiText configUrl;                 // ConfigUrl
  // Every inserted row also goes to standard output at once, one line of eight tab-separated
  // UTF-8 cells: a log for automation.
  bool logRows = false;
  // Press 按钮1 once, as soon as the configuration gate has enabled it.
  bool start = false;
  // Saved just before the window closes, however it closes.
  QString screenshotFile;
  // Close the window normally (destroy handler and exit hook included) after this long.
  std::optional<double> quitAfterSeconds;
};

Options DefaultOptions();

struct ParsedOptions {
  enum class Status { Run, Help, Error };
  Status status = Status::Run;
  Options options;
  // The help text for Help, the complaint for Error.
  QString message;
};

// `arguments` as QCoreApplication::arguments() gives them, the program name first.
ParsedOptions ParseOptions(const QStringList& arguments);

}  // namespace kestrova::app
