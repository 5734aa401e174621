#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "ports/types.h"
#include "skin/in_memory_library.h"

// The program's side of the skin library: load it at start-up, attach the skin when the main
// window has been created, detach it when the window is about to go. All on the GUI thread.
//
// A run: InstallSkinEngine(&engine); LoadSkinLibrary(skinModule); window created:
// AttachSkin(skinModule, SkinData(), {}); ... window closing: DetachSkin(skinModule); exit:
// skinModule.Unload() or its destruction (process detach, memory released).
namespace kestrova::skin {

// Registers our host module (once per process) and loads the carried library into
// `skinModule` without a resolver. False when it did not load, for instance on a platform
// that cannot run it; the window is then shown with its plain look.
bool LoadSkinLibrary(InMemoryLibrary& skinModule);

// Calls SkinH_AttachRes with the skin's own address and exact length (not a copy), the
// password's characters or a null pointer for the empty text, and three zero words. No call,
// and nullopt, when nothing is loaded or the export is missing.
std::optional<std::uint32_t> AttachSkin(const InMemoryLibrary& skinModule, std::span<const std::uint8_t> skin,
                                        const AnsiText& password);

// Calls SkinH_Detach with no arguments; nullopt, and no call, as for AttachSkin.
std::optional<std::uint32_t> DetachSkin(const InMemoryLibrary& skinModule);

// Registers our host module, kestrova_host.dll, unless a module of that name is registered
// already (tests put a recording one in its place). True when this call registered it.
bool RegisterSkinHostModule();

// The reasons (1 attach, 0 detach) that the library's entry point has reported to our host
// module so far, oldest first, at most the last 64.
std::vector<std::uint32_t> SkinLibraryEvents();
void ClearSkinLibraryEvents();

}  // namespace kestrova::skin
