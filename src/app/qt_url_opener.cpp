#include "app/qt_url_opener.h"

#include <QDesktopServices>
#include <QUrl>

#include "app/qt_text.h"

namespace kestrova::app {

void QtUrlOpener::Open(const AnsiText& url) {
  const QUrl address(FromAnsi(url), QUrl::StrictMode);
  if (!address.isValid()) return;
  QDesktopServices::openUrl(address);
}

}  // namespace kestrova::app
