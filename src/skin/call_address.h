#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "skin/platform.h"

namespace kestrova::skin {

inline constexpr std::size_t kCallWords = 10;

// Calls the code at `target` with exactly ten pointer-sized argument words, those not given
// being 0, and returns its 32-bit result. Words are 64 bits wide because the addresses handed
// over (skin bytes, texts) live in the executable, far above 4 GiB. A target of 0 is not
// called and gives 0. Runs the callee on the calling thread.
template <typename... Words>
std::uint32_t CallAddress(std::uintptr_t target, Words... words) {
  static_assert(sizeof...(Words) <= kCallWords, "CallAddress takes at most ten argument words");
  static_assert((std::is_integral_v<Words> && ...), "pass addresses as std::uintptr_t");
  if (target == 0) {
    return 0;
  }
  const std::uintptr_t all[kCallWords] = {static_cast<std::uintptr_t>(words)...};
  return platform::CallWords(target, all);
}

template <typename Function>
std::uintptr_t CodeAddress(Function* function) {
  return reinterpret_cast<std::uintptr_t>(function);
}

}  // namespace kestrova::skin
