#pragma once

#include <optional>

#include "ports/types.h"

namespace kestrova {

// The values that the original program kept as globals. One instance lives in the program (and
// one per test); components receive it by reference. GUI thread only.
struct ProgramState {
  // Written only by the configuration gate; empty until it accepts a configuration.
  AnsiText configuredRoomId;
  // A copy of configuredRoomId taken at every start of monitoring; absent before the first.
  std::optional<AnsiText> monitoredRoomId;
  // 1 when 选择框1 / 选择框2 is ticked, else 0. Only the exact value 1 means on.
  int soundAlertFlag = 0;
  int autoOpenFlag = 0;
};

}  // namespace kestrova
