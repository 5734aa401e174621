#include "app/program.h"

#include <QApplication>
#include <QTextStream>

#include "app/alsa_sound_player.h"
#include "app/qt_url_opener.h"
#include "app/session.h"

namespace kestrova::app {

void ExitHook(ProgramGlobals& globals) {
  globals.state.configuredRoomId.clear();
  globals.state.configuredRoomId.shrink_to_fit();
  globals.state.monitoredRoomId.reset();
}

int RunProgram(const Options& options, const ProgramHooks& hooks) {
  ProgramGlobals globals;
  ExitHookArrangement exitHook(globals, hooks.onExitHook);

  ports::SystemClock clock;
  QtUrlOpener browser;
  AlsaSoundPlayer speaker;
  SessionPlatform platform{
      .urlOpener = hooks.urlOpener != nullptr ? *hooks.urlOpener : browser,
      .soundPlayer = hooks.soundPlayer != nullptr ? *hooks.soundPlayer
                                                  : static_cast<ports::SoundPlayer&>(speaker),
      .clock = clock,
      .attachSkin = {},
      .detachSkin = {},
      .rowLog = hooks.rowLog,
  };

  {
    Session session(options, globals.state, std::move(platform));
    session.RunCreatedHandler();
    // A window closed while its created handler ran ends the run before the loop.
    if (!session.ClosingHandled()) {
      session.Window().CentreOnScreen();
      session.Window().show();
      if (hooks.onShown) hooks.onShown(session);
      QApplication::exec();
    }
  }
  exitHook.Run();
  return 0;
}

int ProgramStart(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments.append(QString::fromLocal8Bit(argv[i]));

  // Help and complaints need no display: they are settled before the GUI application exists.
  if (ParseOptions(arguments).status != ParsedOptions::Status::Run) {
    QCoreApplication console(argc, argv);
    const ParsedOptions parsed = ParseOptions(arguments);
    if (parsed.status == ParsedOptions::Status::Help) {
      QTextStream(stdout) << parsed.message;
      return 0;
    }
    QTextStream(stderr) << "kestrova: " << parsed.message << "\n"
                        << "Try 'kestrova --help'.\n";
    return 2;
  }

  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kestrova"));
  QApplication::setApplicationVersion(QStringLiteral("1.1"));
  return RunProgram(ParseOptions(QApplication::arguments()).options);
}

}  // namespace kestrova::app
