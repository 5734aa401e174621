#include "app/qt_skin_engine.h"

#include <QApplication>
#include <QColor>

namespace kestrova::app {

namespace {

QColor ToQColor(const skin::SkinColour& colour) {
  return QColor(colour.red, colour.green, colour.blue);
}

QString Css(const skin::SkinColour& colour) { return ToQColor(colour).name(QColor::HexRgb); }

}  // namespace

QString QtSkinEngine::StyleSheet(const skin::SkinTheme& theme) {
  // The font family has been checked by the skin parser: printable ASCII without quotes,
  // backslashes, semicolons or braces, so it can stand in the sheet as it is.
  const QString family = QString::fromLatin1(theme.fontFamily.data(),
                                             static_cast<qsizetype>(theme.fontFamily.size()));
  QString sheet;
  sheet += QStringLiteral("QWidget { font-family: \"%1\"; font-size: %2pt; }\n")
               .arg(family)
               .arg(theme.fontPointSize);
  sheet += QStringLiteral("QTableView { background: %1; color: %2; gridline-color: %3;"
                          " selection-background-color: %4; selection-color: %5; }\n")
               .arg(Css(theme.list.background), Css(theme.list.text), Css(theme.button.background),
                    Css(theme.selection.background), Css(theme.selection.text));
  sheet += QStringLiteral("QHeaderView::section { background: %1; color: %2; border: none;"
                          " border-right: 1px solid %3; padding-left: 4px; }\n")
               .arg(Css(theme.header.background), Css(theme.header.text), Css(theme.window.background));
  sheet += QStringLiteral("QPushButton { background: %1; color: %2; border: 1px solid %3;"
                          " border-radius: 3px; }\n"
                          "QPushButton:disabled { color: %4; }\n"
                          "QPushButton:pressed { background: %3; color: %5; }\n")
               .arg(Css(theme.button.background), Css(theme.button.text),
                    Css(theme.header.background), Css(theme.header.background),
                    Css(theme.header.text));
  sheet += QStringLiteral("QWidget[kestrovaPart=\"statusBar\"] QLabel { background: %1; color: %2;"
                          " border: none; border-right: 1px solid %3; padding-left: 3px; }\n")
               .arg(Css(theme.statusBar.background), Css(theme.statusBar.text),
                    Css(theme.window.background));
  return sheet;
}

bool QtSkinEngine::Apply(const skin::SkinTheme& theme) {
  auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (application == nullptr) return false;
  if (!m_plainPalette) m_plainPalette = QApplication::palette();

  QPalette palette = *m_plainPalette;
  palette.setColor(QPalette::Window, ToQColor(theme.window.background));
  palette.setColor(QPalette::WindowText, ToQColor(theme.window.text));
  palette.setColor(QPalette::Base, ToQColor(theme.list.background));
  palette.setColor(QPalette::Text, ToQColor(theme.list.text));
  palette.setColor(QPalette::Button, ToQColor(theme.button.background));
  palette.setColor(QPalette::ButtonText, ToQColor(theme.button.text));
  palette.setColor(QPalette::Highlight, ToQColor(theme.selection.background));
  palette.setColor(QPalette::HighlightedText, ToQColor(theme.selection.text));
  QApplication::setPalette(palette);
  application->setStyleSheet(StyleSheet(theme));
  return true;
}

void QtSkinEngine::Remove() {
  auto* application = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (application == nullptr || !m_plainPalette) return;
  application->setStyleSheet(QString());
  QApplication::setPalette(*m_plainPalette);
  m_plainPalette.reset();
}

}  // namespace kestrova::app
