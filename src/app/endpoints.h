#pragma once

#include <cstdint>
#include <string_view>

#include "barrage/barrage_link.h"
#include "intake/rocket_rows.h"

// The outside parties the program talks to when no option points it elsewhere.
namespace kestrova::app {

// The platform's historic open barrage server (plain TCP, frames of message type 689).
inline constexpr std::string_view BarrageServerHost{"openbarrage.douyutv.com"};
inline constexpr std::uint16_t kBarrageServerPort = barrage::kBarragePort;  // 8601

// The configuration server: an IPv4 host followed directly by "/config", fetched over plain
// HTTP on port 80. The project runs no public configuration server, so the default is this
// machine; whoever hosts one points the program at it with --config-url.
inline constexpr std::string_view ConfigUrl{"127.0.0.1/config"};

// Where a room's page lives; shared with the rows' auto-open.
inline constexpr std::string_view RoomPagePrefix = intake::RoomPagePrefix;

}  // namespace kestrova::app
