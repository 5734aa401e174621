#pragma once

#include <algorithm>
#include <chrono>

namespace kestrova::barrage {

// The wait before each reconnect attempt: first, twice that, four times, ... never more than
// the cap. A pure value; whoever owns a timer applies it.
class ExponentialBackoff {
 public:
  constexpr ExponentialBackoff(std::chrono::milliseconds first = std::chrono::seconds(1),
                               std::chrono::milliseconds cap = std::chrono::seconds(30))
      : m_first(first), m_cap(cap), m_next(first) {}

  // The delay to wait now; the one after it doubles.
  constexpr std::chrono::milliseconds Next() {
    const std::chrono::milliseconds delay = std::min(m_next, m_cap);
    m_next = std::min(m_next * 2, m_cap);
    return delay;
  }

  // After a connection has come up, the next failure starts from the first delay again.
  constexpr void Reset() { m_next = m_first; }

 private:
  std::chrono::milliseconds m_first;
  std::chrono::milliseconds m_cap;
  std::chrono::milliseconds m_next;
};

}  // namespace kestrova::barrage
