#pragma once

#include <cstdint>
#include <span>

// The skin library and the skin the program carries, written into the program by the build
// (see skin_library_build.h). Static storage; valid for the life of the process.
namespace kestrova::skin {

std::span<const std::uint8_t> SkinLibraryImage();
std::span<const std::uint8_t> SkinData();

}  // namespace kestrova::skin
