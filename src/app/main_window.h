#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QWidget>

#include "app/rocket_list_model.h"
#include "ports/ports.h"

class QMessageBox;

namespace kestrova::app {

// Keeps the list's horizontal scroll bar hidden for good. The described program re-hid it on
// every paint through a subclassed window procedure; in Qt the scroll-bar policy does exactly
// that, and a vertical bar still appears when the rows exceed the height.
void HideHorizontalScrollBar(QAbstractScrollArea& list);

// MainWindow: the program's one window, with every control at its described place and in its
// initial state, and the Window port over them. Texts cross between 936 and QString here.
// The window only reports its events as signals; what they do is wired by the program (see
// session.h), so the window can be shown and driven in tests without the rest. GUI thread only.
class MainWindow final : public QWidget, public ports::Window {
  Q_OBJECT

 public:
  static constexpr int kWidth = 713;
  static constexpr int kHeight = 383;

  explicit MainWindow(QWidget* parent = nullptr);
  ~MainWindow() override;

  // Window port.
  AnsiText ButtonCaption() const override;
  void SetButtonCaption(const AnsiText& caption) override;
  bool ButtonEnabled() const override;
  void SetButtonEnabled(bool enabled) override;
  AnsiText StatusText(int pane) const override;
  void SetStatusText(int pane, const AnsiText& text) override;
  bool IsChecked(ports::CheckBox box) const override;
  AnsiText EditText(ports::EditBox box) const override;
  int InsertRow(int index) override;
  void SetCell(int row, int column, const AnsiText& text) override;
  AnsiText CellText(int row, int column) const override;
  int RowCount() const override;
  int SelectedRow() const override;
  void ShowMessage(const AnsiText& text, const AnsiText& caption) override;

  // Places the window in the middle of the screen it is on.
  void CentreOnScreen();

  QTableView& List() { return *m_list; }
  QPushButton& Button() { return *m_button; }
  QCheckBox& SoundBox() { return *m_soundBox; }
  QCheckBox& AutoOpenBox() { return *m_autoOpenBox; }

 Q_SIGNALS:
  void ButtonClicked();
  void SoundBoxClicked();
  void AutoOpenBoxClicked();
  void ListDoubleClicked();
  void ButtonEnabledChanged(bool enabled);
  // A row has been inserted; its cells are filled by the same handler, so listeners that want
  // the whole row should look at it once control returns to the event loop.
  void RowInserted(int index);
  // Emitted once, when the window has accepted its close and is about to go away: the place of
  // the described destroy handler.
  void Closing();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void RunClosingOnce();

  RocketListModel* m_model = nullptr;
  QTableView* m_list = nullptr;
  QLabel* m_hint = nullptr;
  QLineEdit* m_keyEdit = nullptr;
  QLineEdit* m_versionEdit = nullptr;
  QPushButton* m_button = nullptr;
  QCheckBox* m_soundBox = nullptr;
  QCheckBox* m_autoOpenBox = nullptr;
  QWidget* m_statusBar = nullptr;
  std::array<QLabel*, 2> m_statusPanes{};
  QList<QPointer<QMessageBox>> m_messages;
  bool m_closingDone = false;
};

}  // namespace kestrova::app
