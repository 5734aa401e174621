#pragma once

#include "ports/types.h"
#include "skin/pe_writer.h"
#include "skin/skin_theme.h"

// How the carried skin library and skin are made. The generator run by the build writes their
// bytes into the program; tests can rebuild them to see what the carried bytes must be.
namespace kestrova::skin {

// A DLL in the 32-bit PE layout with relocations, an import table naming our host module and
// two exports, SkinH_AttachRes and SkinH_Detach, each a tail jump through its import entry to
// the host function that applies or removes the skin. Its entry point reports every call to the
// host and answers 1.
pe::BuiltImage BuildSkinLibraryImage();

// The look the program ships with.
SkinTheme CarriedSkinTheme();

}  // namespace kestrova::skin
