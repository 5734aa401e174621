#include "app/qt_text.h"

#include "intake/text.h"

namespace kestrova::app {

QString FromAnsi(const AnsiText& text) {
  if (text.empty()) return {};
  const AnsiText utf8 = intake::GbkToUtf8(text);
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

AnsiText ToAnsi(const QString& text) {
  if (text.isEmpty()) return {};
  const QByteArray utf8 = text.toUtf8();
  return intake::Utf8ToGbk(AnsiText(utf8.constData(), static_cast<std::size_t>(utf8.size())));
}

}  // namespace kestrova::app
