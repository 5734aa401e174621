#include "skin/skin_library_build.h"

#include "skin/skin_host_abi.h"

namespace kestrova::skin {

pe::BuiltImage BuildSkinLibraryImage() {
  pe::ImageBuilder builder;
  builder.SetExportName(kSkinLibraryName);
  const pe::Ref apply = builder.ImportByName(kSkinHostModuleName, kHostApplySkin);
  const pe::Ref remove = builder.ImportByName(kSkinHostModuleName, kHostRemoveSkin);
  const pe::Ref event = builder.ImportByOrdinal(kSkinHostModuleName, kHostLibraryEventOrdinal);
  builder.SetEntryPoint(builder.AddCallThenReturn(event, 1));
  builder.Export(kExportAttach, builder.AddTailJump(apply));
  builder.Export(kExportDetach, builder.AddTailJump(remove));
  return builder.Build();
}

SkinTheme CarriedSkinTheme() {
  SkinTheme theme;
  theme.window = {{0xF3, 0xF5, 0xF8}, {0x1F, 0x29, 0x33}};
  theme.list = {{0xFF, 0xFF, 0xFF}, {0x1F, 0x29, 0x33}};
  theme.header = {{0x2F, 0x48, 0x58}, {0xFF, 0xFF, 0xFF}};
  theme.selection = {{0x3B, 0x82, 0xF6}, {0xFF, 0xFF, 0xFF}};
  theme.button = {{0xE4, 0xE9, 0xF0}, {0x1F, 0x29, 0x33}};
  theme.statusBar = {{0x2F, 0x48, 0x58}, {0xE4, 0xE9, 0xF0}};
  theme.fontFamily = "WenQuanYi Micro Hei";
  theme.fontPointSize = 9;
  return theme;
}

}  // namespace kestrova::skin
