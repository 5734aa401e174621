#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The host module registry: what a mapped image's imports bind to. The program registers
// named modules, each a table of its own functions by name (and optionally by ordinal), and the
// loader asks it as the system loader would ask for a library and a function. Since import
// address table entries are 32 bits, a lookup hands out a small stub below 4 GiB that jumps to
// the real function; stubs live as long as the process.
//
// Module names compare without regard to ASCII case, function names exactly. Process-wide and
// thread-safe.
namespace kestrova::skin {

struct HostFunction {
  std::string name;
  // 0: offered by name only.
  std::uint16_t ordinal = 0;
  // The real function, e.g. CodeAddress(&SomeFunction). Native code calls it with the System V
  // convention, with pointer-sized argument words.
  std::uintptr_t code = 0;
};

using HostModuleHandle = std::uintptr_t;

// False, and nothing changed, when a module of that name is registered already: the first
// registration of a name stands until it is unregistered.
bool RegisterHostModule(std::string_view moduleName, std::vector<HostFunction> functions);
bool UnregisterHostModule(std::string_view moduleName);

// 0 for a module nobody registered, as the system answers for a missing library.
HostModuleHandle LoadHostModule(std::string_view moduleName);
// 32-bit stub addresses; 0 for an unknown module or function.
std::uint32_t HostProcAddress(HostModuleHandle module, std::string_view functionName);
std::uint32_t HostProcAddressByOrdinal(HostModuleHandle module, std::uint16_t ordinal);

}  // namespace kestrova::skin
