#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "intake/broadcast.h"
#include "intake/time_convert.h"
#include "ports/ports.h"
#include "ports/program_state.h"
#include "ports/types.h"

// Turns each gift-box rocket broadcast into a new top row of 超级列表框1, with the alert sound
// and the room's page on request.
namespace kestrova::intake {

// A room's page is this followed by the room number.
inline constexpr std::string_view RoomPagePrefix{"https://www.douyu.com/"};

inline constexpr int kRowColumns = 8;

// 礼包, 赠送者, 被赠送的主播, 礼物名称, 数量, 赠送时间, 抢领结束时间, 房间ID.
using RowCells = std::array<AnsiText, kRowColumns>;

// The eight cell texts of a record, or nothing for a record of fewer than six texts (a
// broadcast the pattern did not match: no partial row). The end of the grab window is the
// gift time plus 120 s, shown in the same format as the gift time.
std::optional<RowCells> RocketRowCells(const RocketRecord& record, ClockStyle style);

// The page to open for a room text: the prefix and the room when the room is all decimal
// digits, the bare prefix when it is empty, and nothing for anything else the server sent.
std::optional<AnsiText> RoomPageUrl(const AnsiText& room);

// Holds references only; everything must outlive it. GUI thread only.
class RocketRows {
 public:
  RocketRows(ports::Window& window, ports::SoundPlayer& sound, ports::UrlOpener& opener,
             const ProgramState& state, const ports::Clock& clock, ClockStyle style);

  // One whole frame of the barrage stream (the link's splitter cuts them). Inserts a row at
  // index 0 for a gift-box rocket, then plays the alert and opens the room when the flags,
  // read anew for this row, are exactly 1. True when a row was inserted.
  bool OnBarrageFrame(std::span<const std::uint8_t> frame);

 private:
  ports::Window& m_window;
  ports::SoundPlayer& m_sound;
  ports::UrlOpener& m_opener;
  const ProgramState& m_state;
  const ports::Clock& m_clock;
  ClockStyle m_style;
};

}  // namespace kestrova::intake
