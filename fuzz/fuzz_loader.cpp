// Feeds arbitrary bytes to the in-memory library loader. Whatever the bytes say, the loader must
// neither read nor write outside the buffer or its mapping.
//
// No code from a fuzzed image ever runs: the loader is told EntryPointCalls::Skip, so neither
// the attach at load nor the detach at unload is sent (the detach goes only to an entry point
// that saw an attach), and no import resolver is given, so CallAddress is never reached. The
// host functions the imports may bind to are only looked up, never called.

#include <cstddef>
#include <cstdint>

#include "skin/call_address.h"
#include "skin/host_modules.h"
#include "skin/in_memory_library.h"
#include "skin/skin_attachment.h"

namespace {

std::uint32_t NeverCalled() { __builtin_trap(); }

bool RegisterModules() {
  // Ours, so the carried library used as a seed links completely, and a small one besides.
  kestrova::skin::RegisterSkinHostModule();
  kestrova::skin::RegisterHostModule(
      "fuzz_host.dll", {{"Function", 1, kestrova::skin::CodeAddress(&NeverCalled)},
                        {"Other", 2, kestrova::skin::CodeAddress(&NeverCalled)}});
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool registered = RegisterModules();
  (void)registered;

  kestrova::skin::InMemoryLibrary library;
  if (library.LoadFromMemory({data, size}, 0, 0, kestrova::skin::EntryPointCalls::Skip)) {
    library.FindExport("SkinH_AttachRes");
    library.FindExport("SkinH_Detach");
    library.FindExport("1");
    library.FindExport("-2");
    library.EntryAddress();
    library.Unload();
  }
  return 0;
}
