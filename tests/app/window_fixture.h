#pragma once

// What every window test needs: a Session as the program makes it, shown offscreen, with a
// recording browser and sound, and bounded waits.
#include <QApplication>
#include <QMessageBox>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <vector>

#include "app/options.h"
#include "app/qt_text.h"
#include "app/session.h"

namespace kestrova::app {

inline constexpr int kWaitMs = 15000;

struct RecordingOpener : ports::UrlOpener {
  std::vector<AnsiText> opened;
  void Open(const AnsiText& url) override { opened.push_back(url); }
};

struct RecordingSound : ports::SoundPlayer {
  int played = 0;
  void Play(std::span<const std::uint8_t>) override { ++played; }
};

inline QString Utf8(const AnsiText& text) { return FromAnsi(text); }

class WindowTest : public ::testing::Test {
 protected:
  // The options the program would have for this configuration URL and barrage server.
  static Options OptionsFor(const QString& configUrl,
                            const QString& barrage = QStringLiteral("127.0.0.1:9")) {
    Options options = DefaultOptions();
    options.configUrl = ToAnsi(configUrl);
    options.barrageServer = *ws::ParseBarrageEndpoint(barrage.toStdString());
    return options;
  }

  Session& Open(const QString& configUrl, const QString& barrage = QStringLiteral("127.0.0.1:9")) {
    return Open(OptionsFor(configUrl, barrage));
  }

  // A session as the program makes it, with recording browser and sound and no row log.
  Session& Open(const Options& options) {
    SessionPlatform platform{.urlOpener = m_opener, .soundPlayer = m_sound, .clock = m_clock,
                             .attachSkin = {}, .detachSkin = {}, .rowLog = nullptr};
    m_session = std::make_unique<Session>(options, m_state, std::move(platform));
    m_session->RunCreatedHandler();
    MainWindow& window = m_session->Window();
    window.CentreOnScreen();
    window.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    return *m_session;
  }

  bool WaitForGate() {
    return QTest::qWaitFor([this] { return m_session->Gate().Outcome().has_value(); }, kWaitMs);
  }

  void TearDown() override {
    m_session.reset();
    // Message boxes have no owner; none may outlive its test.
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (qobject_cast<QMessageBox*>(widget) != nullptr) delete widget;
    }
  }

  template <typename T>
  T* Find(const char16_t* name) {
    return m_session->Window().findChild<T*>(QString::fromUtf16(name));
  }

  ProgramState m_state;
  RecordingOpener m_opener;
  RecordingSound m_sound;
  ports::SystemClock m_clock;
  std::unique_ptr<Session> m_session;
};

}  // namespace kestrova::app
