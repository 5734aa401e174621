#pragma once

#include <cstdint>
#include <vector>

#include "skin/host_modules.h"
#include "skin/in_memory_library.h"
#include "skin/pe_writer.h"

// A host module for the loader's tests, kestrova_test_host.dll, whose functions record how the
// images' code called them. Tests run on one thread; the records are plain globals.
namespace kestrova::skin::test {

inline constexpr char kTestHost[] = "kestrova_test_host.dll";
// RecordEntry (by name, and by ordinal 12) records its three words.
inline constexpr std::uint16_t kRecordEntryOrdinal = 12;

struct EntryCall {
  std::uintptr_t instance = 0;
  std::uintptr_t reason = 0;
  std::uintptr_t reserved = 0;
  bool operator==(const EntryCall&) const = default;
};

std::vector<EntryCall>& EntryCalls();

// Registers kestrova_test_host.dll once per process.
void EnsureTestHost();
HostModuleHandle TestHostHandle();

// A DLL at `imageBase` whose entry point reports to RecordEntry and then answers `entryResult`.
pe::ImageBuilder RecordingDll(std::uint32_t imageBase, std::uint32_t entryResult = 1);

// True when nothing is mapped at `base`: the range can be taken (and is given back at once).
bool AddressFree(std::uint32_t base);

}  // namespace kestrova::skin::test
