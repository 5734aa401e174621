#pragma once

#include "skin/skin_theme.h"

namespace kestrova::skin {

// The port through which the carried skin library changes the application's look. The window
// layer implements it (palette and style sheet); tests use a recording fake.
//
// Called on the GUI thread only, from the host functions that the library's exports jump to,
// that is from inside AttachSkin and DetachSkin.
class SkinEngine {
 public:
  virtual ~SkinEngine() = default;
  // Applies a skin that parsed; false leaves the plain look.
  virtual bool Apply(const SkinTheme& theme) = 0;
  // Restores the plain look; harmless when nothing is applied.
  virtual void Remove() = 0;
};

// The one place that tells the host functions which engine to use: native code calls them, so
// they cannot be handed one. Not owned; the caller keeps the engine alive until it installs
// another or nullptr. Returns the engine installed before.
SkinEngine* InstallSkinEngine(SkinEngine* engine);

}  // namespace kestrova::skin
