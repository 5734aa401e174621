#include "skin/host_modules.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "skin/platform.h"

namespace kestrova::skin {
namespace {

struct Module {
  std::string name;
  std::vector<HostFunction> functions;
};

struct Registry {
  std::mutex mutex;
  // Handles are never reused, so a handle kept across an unregistration finds nothing.
  std::map<HostModuleHandle, Module> modules;
  HostModuleHandle nextHandle = 1;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

bool SameModuleName(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [&](char x, char y) { return lower(x) == lower(y); });
}

template <typename Match>
std::uint32_t Lookup(HostModuleHandle module, Match match) {
  std::uintptr_t code = 0;
  {
    Registry& registry = TheRegistry();
    const std::lock_guard lock(registry.mutex);
    const auto found = registry.modules.find(module);
    if (found == registry.modules.end()) {
      return 0;
    }
    for (const HostFunction& function : found->second.functions) {
      if (match(function)) {
        code = function.code;
        break;
      }
    }
  }
  return platform::ThunkFor(code);
}

}  // namespace

bool RegisterHostModule(std::string_view moduleName, std::vector<HostFunction> functions) {
  Registry& registry = TheRegistry();
  const std::lock_guard lock(registry.mutex);
  for (const auto& [handle, module] : registry.modules) {
    if (SameModuleName(module.name, moduleName)) {
      return false;
    }
  }
  registry.modules.emplace(registry.nextHandle++, Module{std::string(moduleName), std::move(functions)});
  return true;
}

bool UnregisterHostModule(std::string_view moduleName) {
  Registry& registry = TheRegistry();
  const std::lock_guard lock(registry.mutex);
  for (auto it = registry.modules.begin(); it != registry.modules.end(); ++it) {
    if (SameModuleName(it->second.name, moduleName)) {
      registry.modules.erase(it);
      return true;
    }
  }
  return false;
}

HostModuleHandle LoadHostModule(std::string_view moduleName) {
  Registry& registry = TheRegistry();
  const std::lock_guard lock(registry.mutex);
  for (const auto& [handle, module] : registry.modules) {
    if (SameModuleName(module.name, moduleName)) {
      return handle;
    }
  }
  return 0;
}

std::uint32_t HostProcAddress(HostModuleHandle module, std::string_view functionName) {
  return Lookup(module, [&](const HostFunction& function) { return function.name == functionName; });
}

std::uint32_t HostProcAddressByOrdinal(HostModuleHandle module, std::uint16_t ordinal) {
  if (ordinal == 0) {
    return 0;
  }
  return Lookup(module, [&](const HostFunction& function) { return function.ordinal == ordinal; });
}

}  // namespace kestrova::skin
