#include "skin/platform.h"

// Where there is no x86-64 code to run, nothing is ever mapped: every load fails softly and the
// window is shown with its plain look.
namespace kestrova::skin::platform {

bool Supported() { return false; }

std::uint32_t ReserveLow(std::uint32_t /*preferred*/, std::uint32_t /*size*/) { return 0; }

bool ReleaseLow(std::uint32_t /*base*/, std::uint32_t /*size*/) { return false; }

std::uint32_t ThunkFor(std::uintptr_t /*code*/) { return 0; }

std::uint32_t CallWords(std::uintptr_t /*target*/, const std::uintptr_t (&/*words*/)[10]) { return 0; }

}  // namespace kestrova::skin::platform
