#pragma once

#include "ports/ports.h"

namespace kestrova::app {

// Hands the address to the desktop's browser through QDesktopServices: no shell is involved,
// and the result is not looked at. GUI thread only.
class QtUrlOpener final : public ports::UrlOpener {
 public:
  void Open(const AnsiText& url) override;
};

}  // namespace kestrova::app
