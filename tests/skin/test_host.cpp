#include "test_host.h"

#include "skin/call_address.h"
#include "skin/host_modules.h"
#include "skin/platform.h"

namespace kestrova::skin::test {
namespace {

std::uint32_t RecordEntry(std::uintptr_t instance, std::uintptr_t reason, std::uintptr_t reserved) {
  EntryCalls().push_back({instance, reason, reserved});
  return 1;
}

}  // namespace

std::vector<EntryCall>& EntryCalls() {
  static std::vector<EntryCall> calls;
  return calls;
}

void EnsureTestHost() {
  static const bool registered =
      RegisterHostModule(kTestHost, {{"RecordEntry", kRecordEntryOrdinal, CodeAddress(&RecordEntry)}});
  (void)registered;
}

HostModuleHandle TestHostHandle() {
  EnsureTestHost();
  return LoadHostModule(kTestHost);
}

pe::ImageBuilder RecordingDll(std::uint32_t imageBase, std::uint32_t entryResult) {
  EnsureTestHost();
  pe::ImageBuilder builder(imageBase);
  const pe::Ref record = builder.ImportByName(kTestHost, "RecordEntry");
  builder.SetEntryPoint(builder.AddCallThenReturn(record, entryResult));
  return builder;
}

bool AddressFree(std::uint32_t base) {
  const std::uint32_t got = platform::ReserveLow(base, 0x1000);
  if (got != 0) {
    platform::ReleaseLow(got, 0x1000);
  }
  return got == base;
}

}  // namespace kestrova::skin::test
