#pragma once

#include <optional>

#include <QPalette>
#include <QString>

#include "skin/skin_engine.h"

namespace kestrova::app {

// The skin library's host side in Qt: a skin becomes the application's palette and one style
// sheet; removing it restores the palette that was there before. GUI thread only; installed
// with skin::InstallSkinEngine for as long as the program runs.
class QtSkinEngine final : public skin::SkinEngine {
 public:
  bool Apply(const skin::SkinTheme& theme) override;
  void Remove() override;
  bool Applied() const { return m_plainPalette.has_value(); }

  // The style sheet for a theme; public for the tests.
  static QString StyleSheet(const skin::SkinTheme& theme);

 private:
  std::optional<QPalette> m_plainPalette;
};

}  // namespace kestrova::app
