#include "app/main_window.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeySequence>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>

#include "app/qt_text.h"

namespace kestrova::app {

void HideHorizontalScrollBar(QAbstractScrollArea& list) {
  list.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  list.setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
}

namespace {

QLabel* MakePane(QWidget* parent, const QString& name, int x, int width) {
  auto* pane = new QLabel(parent);
  pane->setObjectName(name);
  pane->setGeometry(x, 0, width, 20);
  pane->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  pane->setContentsMargins(2, 0, 2, 0);
  pane->setTextFormat(Qt::PlainText);
  return pane;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent)
    : QWidget(parent,
              Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                  Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                  Qt::WindowCloseButtonHint) {
  setObjectName(QStringLiteral("MainWindow"));
  setWindowTitle(QStringLiteral("KestrovaPC版 v1.1"));
  // The controls' sizes were laid out for a 12-pixel system font; a larger desktop default
  // would clip the captions.
  QFont font = this->font();
  font.setPixelSize(12);
  setFont(font);
  setFixedSize(kWidth, kHeight);

  m_model = new RocketListModel(this);
  m_list = new QTableView(this);
  m_list->setObjectName(QStringLiteral("超级列表框1"));
  m_list->setGeometry(0, 0, 704, 304);
  m_list->setModel(m_model);
  m_list->setSelectionMode(QAbstractItemView::SingleSelection);
  m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_list->setShowGrid(true);
  m_list->setSortingEnabled(false);
  m_list->setWordWrap(false);
  m_list->setTextElideMode(Qt::ElideRight);
  m_list->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
  m_list->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  m_list->verticalHeader()->hide();
  m_list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  m_list->verticalHeader()->setDefaultSectionSize(m_list->fontMetrics().height() + 6);
  QHeaderView* header = m_list->horizontalHeader();
  header->setSectionsClickable(false);
  header->setSortIndicatorShown(false);
  header->setHighlightSections(false);
  header->setSectionsMovable(false);
  header->setStretchLastSection(false);
  header->setMinimumSectionSize(0);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  for (int column = 0; column < RowStore::kColumns; ++column) {
    m_list->setColumnWidth(column, RocketListModel::ColumnWidths()[static_cast<std::size_t>(column)]);
  }
  // The room column carries its text but is never shown, whatever the user drags.
  m_list->setColumnHidden(RowStore::kColumns - 1, true);
  QPalette listColours = m_list->palette();
  listColours.setColor(QPalette::Base, Qt::white);
  listColours.setColor(QPalette::Text, Qt::black);
  m_list->setPalette(listColours);

  m_hint = new QLabel(QStringLiteral("双击可打开直播间"), this);
  m_hint->setObjectName(QStringLiteral("透明标签1"));
  m_hint->setGeometry(576, 306, 112, 24);
  m_hint->setAttribute(Qt::WA_TranslucentBackground);
  m_hint->setAutoFillBackground(false);

  m_keyEdit = new QLineEdit(QStringLiteral("3164920"), this);
  m_keyEdit->setObjectName(QStringLiteral("编辑框1"));
  m_keyEdit->setGeometry(576, 304, 48, 24);
  m_keyEdit->hide();

  m_versionEdit = new QLineEdit(QStringLiteral("1.1"), this);
  m_versionEdit->setObjectName(QStringLiteral("编辑框2"));
  m_versionEdit->setGeometry(640, 304, 48, 24);
  m_versionEdit->hide();

  m_button = new QPushButton(QStringLiteral("开启监控"), this);
  m_button->setObjectName(QStringLiteral("按钮1"));
  m_button->setGeometry(482, 308, 70, 20);
  m_button->setEnabled(false);

  m_soundBox = new QCheckBox(QStringLiteral("音效提示"), this);
  m_soundBox->setObjectName(QStringLiteral("选择框1"));
  m_soundBox->setGeometry(8, 312, 104, 16);
  m_soundBox->setChecked(true);

  m_autoOpenBox =
      new QCheckBox(QStringLiteral("监测到火箭后自动打开斗鱼（火箭较多情况下慎用）"), this);
  m_autoOpenBox->setObjectName(QStringLiteral("选择框2"));
  m_autoOpenBox->setGeometry(136, 312, 320, 16);
  m_autoOpenBox->setChecked(false);

  // The status bar follows the bottom edge at the window's width, as a status bar does.
  m_statusBar = new QWidget(this);
  m_statusBar->setObjectName(QStringLiteral("状态条1"));
  // Style sheets address the bar by this property; selectors cannot spell its Chinese name.
  m_statusBar->setProperty("kestrovaPart", QStringLiteral("statusBar"));
  m_statusBar->setGeometry(0, kHeight - 20, kWidth, 20);
  m_statusPanes[0] = MakePane(m_statusBar, QStringLiteral("状态条1.0"), 0, 80);
  m_statusPanes[0]->setText(QStringLiteral("状态:"));
  m_statusPanes[1] = MakePane(m_statusBar, QStringLiteral("状态条1.1"), 80, 1500);

  setTabOrder(m_list, m_button);
  setTabOrder(m_button, m_soundBox);
  setTabOrder(m_soundBox, m_autoOpenBox);

  connect(m_button, &QPushButton::clicked, this, [this] { Q_EMIT ButtonClicked(); });
  connect(m_soundBox, &QCheckBox::clicked, this, [this] { Q_EMIT SoundBoxClicked(); });
  connect(m_autoOpenBox, &QCheckBox::clicked, this, [this] { Q_EMIT AutoOpenBoxClicked(); });
  connect(m_list, &QTableView::doubleClicked, this, [this] { Q_EMIT ListDoubleClicked(); });
  // Header clicks do nothing: no signal of the header is connected, and it is not clickable.

  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  escape->setContext(Qt::WindowShortcut);
  connect(escape, &QShortcut::activated, this, &QWidget::close);
}

MainWindow::~MainWindow() {
  RunClosingOnce();
  for (const QPointer<QMessageBox>& box : m_messages) delete box.data();
}

void MainWindow::CentreOnScreen() {
  const QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  move(frame.topLeft());
}

AnsiText MainWindow::ButtonCaption() const { return ToAnsi(m_button->text()); }

void MainWindow::SetButtonCaption(const AnsiText& caption) { m_button->setText(FromAnsi(caption)); }

bool MainWindow::ButtonEnabled() const { return m_button->isEnabled(); }

void MainWindow::SetButtonEnabled(bool enabled) {
  if (m_button->isEnabled() == enabled) return;
  m_button->setEnabled(enabled);
  Q_EMIT ButtonEnabledChanged(enabled);
}

AnsiText MainWindow::StatusText(int pane) const {
  if (pane < 0 || pane > 1) return {};
  return ToAnsi(m_statusPanes[static_cast<std::size_t>(pane)]->text());
}

void MainWindow::SetStatusText(int pane, const AnsiText& text) {
  if (pane < 0 || pane > 1) return;
  m_statusPanes[static_cast<std::size_t>(pane)]->setText(FromAnsi(text));
}

bool MainWindow::IsChecked(ports::CheckBox box) const {
  return box == ports::CheckBox::SoundAlert ? m_soundBox->isChecked() : m_autoOpenBox->isChecked();
}

AnsiText MainWindow::EditText(ports::EditBox box) const {
  return ToAnsi(box == ports::EditBox::ConfigKey ? m_keyEdit->text() : m_versionEdit->text());
}

int MainWindow::InsertRow(int index) {
  const int inserted = m_model->InsertRow(index);
  Q_EMIT RowInserted(inserted);
  return inserted;
}

void MainWindow::SetCell(int row, int column, const AnsiText& text) { m_model->SetCell(row, column, text); }

AnsiText MainWindow::CellText(int row, int column) const { return m_model->CellText(row, column); }

int MainWindow::RowCount() const { return m_model->RowCount(); }

int MainWindow::SelectedRow() const {
  const QItemSelectionModel* selection = m_list->selectionModel();
  if (selection == nullptr) return -1;
  const QModelIndexList rows = selection->selectedRows();
  return rows.isEmpty() ? -1 : rows.first().row();
}

void MainWindow::ShowMessage(const AnsiText& text, const AnsiText& caption) {
  // No owner window and application-modal, like a task-modal box; shown without waiting so the
  // caller (the configuration gate) finishes at once.
  auto* box = new QMessageBox(QMessageBox::NoIcon, FromAnsi(caption), FromAnsi(text), QMessageBox::Ok);
  box->setObjectName(QStringLiteral("信息"));
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setWindowModality(Qt::ApplicationModal);
  m_messages.append(box);
  box->show();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  event->accept();
  RunClosingOnce();
  // An unanswered message box must not keep the program alive once its window is gone.
  for (const QPointer<QMessageBox>& box : m_messages) {
    if (box != nullptr) box->close();
  }
}

void MainWindow::RunClosingOnce() {
  if (m_closingDone) return;
  m_closingDone = true;
  Q_EMIT Closing();
}

}  // namespace kestrova::app
