// The window headless: built by the same Session the program runs, shown offscreen, driven by
// real clicks and keys, against the local configuration and barrage servers on loopback.
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "app/endpoints.h"
#include "app/options.h"
#include "app/program.h"
#include "app/qt_text.h"
#include "app/session.h"
#include "intake/text.h"
#include "intake/texts.h"
#include "local_servers.h"
#include "window_fixture.h"

namespace kestrova::app {
namespace {

TEST_F(WindowTest, LayoutAndInitialStates) {
  // Port 9 on loopback: nothing listens, the gate ends blocked at once.
  MainWindow& window = Open(QStringLiteral("127.0.0.1:9/config")).Window();

  EXPECT_EQ(window.windowTitle(), QStringLiteral("KestrovaPC版 v1.1"));
  EXPECT_EQ(window.size(), QSize(713, 383));
  EXPECT_EQ(window.minimumSize(), window.maximumSize());
  EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_TRUE(window.windowFlags() & Qt::WindowSystemMenuHint);
  const QRect screen = window.screen()->availableGeometry();
  EXPECT_LE(std::abs(window.frameGeometry().center().x() - screen.center().x()), 3);
  EXPECT_LE(std::abs(window.frameGeometry().center().y() - screen.center().y()), 3);

  struct Place {
    const char16_t* name;
    QRect geometry;
    bool visible;
  };
  for (const Place& place : {
           Place{u"超级列表框1", QRect(0, 0, 704, 304), true},
           Place{u"透明标签1", QRect(576, 306, 112, 24), true},
           Place{u"编辑框1", QRect(576, 304, 48, 24), false},
           Place{u"编辑框2", QRect(640, 304, 48, 24), false},
           Place{u"按钮1", QRect(482, 308, 70, 20), true},
           Place{u"选择框1", QRect(8, 312, 104, 16), true},
           Place{u"选择框2", QRect(136, 312, 320, 16), true},
           Place{u"状态条1", QRect(0, 363, 713, 20), true},
       }) {
    QWidget* widget = Find<QWidget>(place.name);
    ASSERT_NE(widget, nullptr) << QString::fromUtf16(place.name).toStdString();
    EXPECT_EQ(widget->geometry(), place.geometry) << QString::fromUtf16(place.name).toStdString();
    EXPECT_EQ(widget->isVisible(), place.visible) << QString::fromUtf16(place.name).toStdString();
  }
  EXPECT_EQ(Find<QLabel>(u"透明标签1")->text(), QStringLiteral("双击可打开直播间"));
  EXPECT_EQ(Find<QLineEdit>(u"编辑框1")->text(), QStringLiteral("3164920"));
  EXPECT_EQ(Find<QLineEdit>(u"编辑框2")->text(), QStringLiteral("1.1"));
  EXPECT_EQ(Find<QPushButton>(u"按钮1")->text(), QStringLiteral("开启监控"));
  EXPECT_FALSE(Find<QPushButton>(u"按钮1")->isEnabled());
  EXPECT_TRUE(Find<QCheckBox>(u"选择框1")->isChecked());
  EXPECT_EQ(Find<QCheckBox>(u"选择框1")->text(), QStringLiteral("音效提示"));
  EXPECT_FALSE(Find<QCheckBox>(u"选择框2")->isChecked());
  EXPECT_EQ(Find<QCheckBox>(u"选择框2")->text(),
            QStringLiteral("监测到火箭后自动打开斗鱼（火箭较多情况下慎用）"));
  QLabel* pane0 = Find<QLabel>(u"状态条1.0");
  QLabel* pane1 = Find<QLabel>(u"状态条1.1");
  ASSERT_NE(pane0, nullptr);
  ASSERT_NE(pane1, nullptr);
  EXPECT_EQ(pane0->text(), QStringLiteral("状态:"));
  EXPECT_EQ(pane0->width(), 80);
  EXPECT_EQ(pane1->width(), 1500);

  QTableView& list = window.List();
  EXPECT_EQ(list.model()->rowCount(), 0);
  const QStringList titles{QStringLiteral("礼包"), QStringLiteral("赠送者"),
                           QStringLiteral("被赠送的主播"), QStringLiteral("礼物名称"),
                           QStringLiteral("数量"), QStringLiteral("赠送时间"),
                           QStringLiteral("抢领结束时间"), QStringLiteral("房间ID")};
  const int widths[] = {60, 120, 120, 90, 50, 140, 140};
  ASSERT_EQ(list.model()->columnCount(), 8);
  for (int column = 0; column < 8; ++column) {
    EXPECT_EQ(list.model()->headerData(column, Qt::Horizontal).toString(), titles[column]);
    if (column < 7) {
      EXPECT_EQ(list.columnWidth(column), widths[column]);
    }
  }
  EXPECT_TRUE(list.isColumnHidden(7));
  EXPECT_EQ(list.selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_TRUE(list.showGrid());
  EXPECT_FALSE(list.isSortingEnabled());
  EXPECT_FALSE(list.horizontalHeader()->sectionsClickable());
  EXPECT_FALSE(list.verticalHeader()->isVisible());
  // HideHorizontalScrollBar ran in the created handler: the visible widths (720) exceed the
  // list, yet no horizontal bar; a vertical one comes with enough rows.
  EXPECT_EQ(list.horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_FALSE(list.horizontalScrollBar()->isVisible());
  for (int i = 0; i < 40; ++i) window.InsertRow(0);
  ASSERT_TRUE(QTest::qWaitFor([&] { return list.verticalScrollBar()->isVisible(); }, kWaitMs));
  EXPECT_FALSE(list.horizontalScrollBar()->isVisible());
  // Flags as read by the created handler.
  EXPECT_EQ(m_state.soundAlertFlag, 1);
  EXPECT_EQ(m_state.autoOpenFlag, 0);
}

// The gate's outcomes through the real download from the local configuration server.
TEST_F(WindowTest, CreatedHandlerOutcomesWithTheConfigurationServer) {
  struct Case {
    QStringList serverArguments;
    config::GateOutcome outcome;
  };
  const AnsiText downloading = intake::Texts().downloading;
  for (const Case& c : {
           Case{{QStringLiteral("--room"), QStringLiteral("9999")}, config::GateOutcome::Ready},
           Case{{QStringLiteral("--misbehave"), QStringLiteral("wrong-tag")}, config::GateOutcome::Blocked},
           Case{{QStringLiteral("--misbehave"), QStringLiteral("empty")}, config::GateOutcome::Blocked},
           Case{{QStringLiteral("--version"), QStringLiteral("2.0")}, config::GateOutcome::UpdateOffered},
       }) {
    SCOPED_TRACE(c.serverArguments.join(QLatin1Char(' ')).toStdString());
    m_state = ProgramState{};
    ConfigServer server(c.serverArguments);
    ASSERT_FALSE(server.url.isEmpty());
    MainWindow& window = Open(server.url).Window();
    // The window is up before the answer: the download does not hold the created handler.
    EXPECT_EQ(window.StatusText(1), downloading);
    ASSERT_TRUE(WaitForGate());
    EXPECT_EQ(*m_session->Gate().Outcome(), c.outcome);
    int boxes = 0;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible()) {
        ++boxes;
        EXPECT_EQ(box->windowTitle(), QStringLiteral("信息："));
        EXPECT_TRUE(box->text().startsWith(QStringLiteral("有可用更新，可加群")));
      }
    }
    if (c.outcome == config::GateOutcome::Ready) {
      EXPECT_TRUE(window.Button().isEnabled());
      EXPECT_EQ(window.StatusText(1), intake::Texts().initialised);
      EXPECT_EQ(m_state.configuredRoomId, "9999");
      EXPECT_EQ(boxes, 0);
    } else {
      EXPECT_FALSE(window.Button().isEnabled());
      EXPECT_EQ(window.StatusText(1), downloading);
      EXPECT_TRUE(m_state.configuredRoomId.empty());
      EXPECT_EQ(boxes, c.outcome == config::GateOutcome::UpdateOffered ? 1 : 0);
    }
    EXPECT_EQ(m_state.soundAlertFlag, 1);
    EXPECT_EQ(m_state.autoOpenFlag, 0);
    TearDown();
  }
}

// The whole monitoring path: a click on 按钮1, the link's login and join on the wire, rockets
// from the local server as top rows of eight cells, the check boxes, the double-click, Esc and
// a close without a logout.
TEST_F(WindowTest, MonitoringFromClickToRowsAndCloseWithoutLogout) {
  ConfigServer config({QStringLiteral("--room"), QStringLiteral("9999")});
  BarrageServer barrage({QStringLiteral("--rockets"), QStringLiteral("3"), QStringLiteral("--rocket-rate"),
                         QStringLiteral("20"), QStringLiteral("--delivery"), QStringLiteral("split"),
                         QStringLiteral("--linger"), QStringLiteral("60")});
  ASSERT_FALSE(config.url.isEmpty());
  ASSERT_FALSE(barrage.address.isEmpty());
  MainWindow& window = Open(config.url, barrage.address).Window();
  ASSERT_TRUE(QTest::qWaitFor([&] { return window.Button().isEnabled(); }, kWaitMs));

  QTest::mouseClick(&window.Button(), Qt::LeftButton);
  EXPECT_EQ(window.Button().text(), QStringLiteral("停止监控"));
  ASSERT_TRUE(barrage.process.WaitForLine(QStringLiteral("recv 1 joingroup")));
  QStringList received;
  for (const QString& line : barrage.process.Lines()) {
    if (line.startsWith(QStringLiteral("recv "))) received.append(line.section(QLatin1Char(' '), 2, 2));
  }
  ASSERT_GE(received.size(), 2);
  EXPECT_EQ(received[0], QStringLiteral("loginreq"));
  EXPECT_EQ(received[1], QStringLiteral("joingroup"));

  ASSERT_TRUE(QTest::qWaitFor([&] { return window.RowCount() == 3; }, kWaitMs));
  const QList<QStringList> sent = barrage.RocketsSent();
  ASSERT_EQ(sent.size(), 3);
  for (int row = 0; row < 3; ++row) {
    // The newest rocket is the top row.
    const QStringList& rocket = sent[2 - row];
    EXPECT_EQ(Utf8(window.CellText(row, 0)), QStringLiteral("[有礼包]"));
    for (int field = 0; field < 4; ++field) {
      EXPECT_EQ(Utf8(window.CellText(row, field + 1)), rocket[field]) << row << "/" << field;
    }
    EXPECT_EQ(Utf8(window.CellText(row, 7)), rocket[4]);
    EXPECT_FALSE(window.CellText(row, 5).empty());
    EXPECT_FALSE(window.CellText(row, 6).empty());
  }
  EXPECT_EQ(m_sound.played, 3);  // 选择框1 is ticked at start
  EXPECT_TRUE(m_opener.opened.empty());

  // Check boxes set their flags at once.
  QTest::mouseClick(&window.AutoOpenBox(), Qt::LeftButton);
  EXPECT_EQ(m_state.autoOpenFlag, 1);
  QTest::mouseClick(&window.SoundBox(), Qt::LeftButton);
  EXPECT_EQ(m_state.soundAlertFlag, 0);
  QTest::mouseClick(&window.AutoOpenBox(), Qt::LeftButton);
  EXPECT_EQ(m_state.autoOpenFlag, 0);

  // A double-click on a row selects it and opens its room.
  QTableView& list = window.List();
  const QRect second = list.visualRect(list.model()->index(1, 1));
  QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, second.center());
  QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, second.center());
  ASSERT_EQ(window.SelectedRow(), 1);
  ASSERT_EQ(m_opener.opened.size(), 1U);
  EXPECT_EQ(m_opener.opened[0], AnsiText(RoomPagePrefix) + window.CellText(1, 7));

  // Esc closes the window like the close box: the destroy handler disconnects without a logout.
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_FALSE(window.isVisible());
  EXPECT_TRUE(m_session->ClosingHandled());
  ASSERT_TRUE(barrage.process.WaitForLine(QStringLiteral("client 1 closed")));
  for (const QString& line : barrage.process.Lines()) {
    EXPECT_FALSE(line.startsWith(QStringLiteral("recv 1 logout"))) << line.toStdString();
  }
}

// The row acted on is the selected one, not the one under the pointer; and only an all-digit
// room (or none) is ever opened.
TEST_F(WindowTest, DoubleClickOpensTheSelectedRowsRoomOnly) {
  MainWindow& window = Open(QStringLiteral("127.0.0.1:9/config")).Window();
  for (const char* room : {"", "12a/x", "7788"}) {
    window.SetCell(window.InsertRow(0), 7, room);
  }
  // Rows: 0 "7788", 1 "12a/x", 2 "".
  Q_EMIT window.ListDoubleClicked();  // nothing selected
  EXPECT_TRUE(m_opener.opened.empty());

  QTableView& list = window.List();
  list.selectRow(2);
  Q_EMIT window.ListDoubleClicked();
  list.selectRow(1);
  Q_EMIT window.ListDoubleClicked();
  list.selectRow(0);
  Q_EMIT window.ListDoubleClicked();
  ASSERT_EQ(m_opener.opened.size(), 2U);
  EXPECT_EQ(m_opener.opened[0], AnsiText(RoomPagePrefix));  // empty room: the bare prefix
  EXPECT_EQ(m_opener.opened[1], AnsiText(RoomPagePrefix) + "7788");
}

TEST(ProgramTest, ExitHookRunsOnceAfterTheDestroyHandler) {
  ConfigServer config({QStringLiteral("--misbehave"), QStringLiteral("silent")});
  ASSERT_FALSE(config.url.isEmpty());
  Options options = DefaultOptions();
  options.configUrl = ToAnsi(config.url);
  options.barrageServer = *ws::ParseBarrageEndpoint("127.0.0.1:9");
  RecordingOpener opener;
  RecordingSound sound;
  int exitHooks = 0;
  bool closedBeforeExitHook = false;
  ProgramHooks hooks;
  hooks.urlOpener = &opener;
  hooks.soundPlayer = &sound;
  hooks.rowLog = nullptr;
  bool destroyHandlerRan = false;
  hooks.onShown = [&](Session& session) {
    QObject::connect(&session.Window(), &MainWindow::Closing, [&] { destroyHandlerRan = true; });
    // The configuration server never answers: closing now means the gate never decided.
    QTimer::singleShot(100, &session.Window(), [&session] { session.Window().close(); });
  };
  hooks.onExitHook = [&] {
    ++exitHooks;
    closedBeforeExitHook = destroyHandlerRan;
  };
  EXPECT_EQ(RunProgram(options, hooks), 0);
  EXPECT_EQ(exitHooks, 1);
  EXPECT_TRUE(closedBeforeExitHook);
}

}  // namespace
}  // namespace kestrova::app
