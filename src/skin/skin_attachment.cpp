#include "skin/skin_attachment.h"

#include <atomic>
#include <deque>
#include <mutex>

#include "skin/call_address.h"
#include "skin/carried_skin.h"
#include "skin/host_modules.h"
#include "skin/skin_engine.h"
#include "skin/skin_host_abi.h"

namespace kestrova::skin {
namespace {

// A skin is a few hundred bytes; anything near this is not one of ours.
constexpr std::uintptr_t kMaxSkinLength = 1 << 20;
constexpr std::size_t kMaxEvents = 64;

std::atomic<SkinEngine*> g_engine{nullptr};

struct EventLog {
  std::mutex mutex;
  std::deque<std::uint32_t> reasons;
};

EventLog& Events() {
  static EventLog log;
  return log;
}

// The host functions. Native code calls them, so nothing may escape them: an exception cannot
// unwind through the library's frames.
std::uint32_t HostApplySkin(std::uintptr_t skin, std::uintptr_t length, std::uintptr_t /*password*/,
                            std::uintptr_t /*word4*/, std::uintptr_t /*word5*/, std::uintptr_t /*word6*/) {
  try {
    SkinEngine* engine = g_engine.load();
    if (engine == nullptr || skin == 0 || length > kMaxSkinLength) {
      return 0;
    }
    // Our skins have no password; whatever is passed there is not read.
    const auto theme = ParseSkin(std::span(reinterpret_cast<const std::uint8_t*>(skin), length));
    return theme && engine->Apply(*theme) ? 1 : 0;
  } catch (...) {
    return 0;
  }
}

std::uint32_t HostRemoveSkin() {
  try {
    if (SkinEngine* engine = g_engine.load()) {
      engine->Remove();
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

std::uint32_t HostLibraryEvent(std::uintptr_t /*instance*/, std::uintptr_t reason, std::uintptr_t /*reserved*/) {
  try {
    EventLog& log = Events();
    const std::lock_guard lock(log.mutex);
    log.reasons.push_back(static_cast<std::uint32_t>(reason));
    if (log.reasons.size() > kMaxEvents) {
      log.reasons.pop_front();
    }
  } catch (...) {
  }
  return 1;
}

}  // namespace

SkinEngine* InstallSkinEngine(SkinEngine* engine) { return g_engine.exchange(engine); }

bool RegisterSkinHostModule() {
  return RegisterHostModule(kSkinHostModuleName,
                            {{kHostApplySkin, 0, CodeAddress(&HostApplySkin)},
                             {kHostRemoveSkin, 0, CodeAddress(&HostRemoveSkin)},
                             {kHostLibraryEvent, kHostLibraryEventOrdinal, CodeAddress(&HostLibraryEvent)}});
}

bool LoadSkinLibrary(InMemoryLibrary& skinModule) {
  RegisterSkinHostModule();
  return skinModule.LoadFromMemory(SkinLibraryImage());
}

std::optional<std::uint32_t> AttachSkin(const InMemoryLibrary& skinModule, std::span<const std::uint8_t> skin,
                                        const AnsiText& password) {
  const Address attach = skinModule.FindExport(kExportAttach);
  if (attach == 0) {
    return std::nullopt;
  }
  const auto passwordAddress = password.empty() ? std::uintptr_t{0} : reinterpret_cast<std::uintptr_t>(password.c_str());
  return CallAddress(attach, reinterpret_cast<std::uintptr_t>(skin.data()), std::uintptr_t{skin.size()},
                     passwordAddress, std::uintptr_t{0}, std::uintptr_t{0}, std::uintptr_t{0});
}

std::optional<std::uint32_t> DetachSkin(const InMemoryLibrary& skinModule) {
  const Address detach = skinModule.FindExport(kExportDetach);
  if (detach == 0) {
    return std::nullopt;
  }
  return CallAddress(detach);
}

std::vector<std::uint32_t> SkinLibraryEvents() {
  EventLog& log = Events();
  const std::lock_guard lock(log.mutex);
  return {log.reasons.begin(), log.reasons.end()};
}

void ClearSkinLibraryEvents() {
  EventLog& log = Events();
  const std::lock_guard lock(log.mutex);
  log.reasons.clear();
}

}  // namespace kestrova::skin
