#pragma once

#include <cstdint>

// What the carried skin library and the program agree on: the host module the library imports
// from and the functions it finds there. The build step that writes the library and the host
// side that offers the functions both take the names from here.
namespace kestrova::skin {

inline constexpr char kSkinLibraryName[] = "kestrova_skin.dll";
inline constexpr char kSkinHostModuleName[] = "kestrova_host.dll";

// ApplySkin (skin address, length, password address, three words) -> 1 applied, 0 refused.
inline constexpr char kHostApplySkin[] = "KestrovaApplySkin";
// RemoveSkin () -> 1.
inline constexpr char kHostRemoveSkin[] = "KestrovaRemoveSkin";
// LibraryEvent (instance, reason, reserved) -> 1; the library's entry point reports every call
// it gets. The library imports this one by ordinal, so that path runs in every start.
inline constexpr char kHostLibraryEvent[] = "KestrovaSkinLibraryEvent";
inline constexpr std::uint16_t kHostLibraryEventOrdinal = 1;

inline constexpr char kExportAttach[] = "SkinH_AttachRes";
inline constexpr char kExportDetach[] = "SkinH_Detach";

}  // namespace kestrova::skin
