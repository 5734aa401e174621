#include "app/program.h"

#include <QApplication>
#include <QTextStream>

#include "app/alsa_sound_player.h"
#include "app/qt_skin_engine.h"
#include "app/qt_url_opener.h"
#include "app/session.h"
#include "skin/carried_skin.h"
#include "skin/skin_attachment.h"

namespace kestrova::app {

void ExitHook(ProgramGlobals& globals) {
  globals.skinModule.reset();
  globals.state.configuredRoomId.clear();
  globals.state.configuredRoomId.shrink_to_fit();
  globals.state.monitoredRoomId.reset();
}

int RunProgram(const Options& options, const ProgramHooks& hooks) {
  // The skin library's host functions reach the look through this engine; it outlives the
  // skin module, whose destruction may still call into it.
  QtSkinEngine skinEngine;
  skin::SkinEngine* previousEngine = skin::InstallSkinEngine(&skinEngine);

  ProgramGlobals globals;
  globals.skinModule = std::make_unique<skin::InMemoryLibrary>();
  ExitHookArrangement exitHook(globals, hooks.onExitHook);
  // Its result is not looked at: without the library the window keeps its plain look.
  static_cast<void>(skin::LoadSkinLibrary(*globals.skinModule));
  skin::InMemoryLibrary& skinModule = *globals.skinModule;

  ports::SystemClock clock;
  QtUrlOpener browser;
  AlsaSoundPlayer speaker;
  SessionPlatform platform{
      .urlOpener = hooks.urlOpener != nullptr ? *hooks.urlOpener : browser,
      .soundPlayer = hooks.soundPlayer != nullptr ? *hooks.soundPlayer
                                                  : static_cast<ports::SoundPlayer&>(speaker),
      .clock = clock,
      .attachSkin = [&skinModule] { skin::AttachSkin(skinModule, skin::SkinData(), AnsiText()); },
      .detachSkin = [&skinModule] { skin::DetachSkin(skinModule); },
      .rowLog = hooks.rowLog,
  };

  {
    Session session(options, globals.state, std::move(platform));
    session.RunCreatedHandler();
    // A window closed while its created handler ran ends the run before the loop.
    if (!session.ClosingHandled()) {
      session.Window().CentreOnScreen();
      session.Window().show();
      // The loop ends with the main window, also while an unanswered message box is open.
      QObject::connect(&session.Window(), &MainWindow::Closing, QCoreApplication::instance(),
                       &QCoreApplication::quit, Qt::QueuedConnection);
      if (hooks.onShown) hooks.onShown(session);
      QApplication::exec();
    }
  }
  exitHook.Run();
  skin::InstallSkinEngine(previousEngine);
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
