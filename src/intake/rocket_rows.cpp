#include "intake/rocket_rows.h"

#include <algorithm>
#include <string>

#include "intake/alert_sound.h"
#include "intake/texts.h"

namespace kestrova::intake {

namespace {

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDecimalDigits(const AnsiText& text) {
  return std::all_of(text.begin(), text.end(), IsDecimalDigit);
}

// The seconds a ten-character time stands for, read as the ten-digit display reads it: its
// leading digits, 0 when there are none.
std::int64_t LeadingNumber(const AnsiText& text) {
  std::int64_t value = 0;
  for (char c : text) {
    if (!IsDecimalDigit(c)) {
      break;
    }
    value = value * 10 + (c - '0');
  }
  return value;
}

AnsiText GrabWindowEnd(const AnsiText& giftTime, ClockStyle style) {
  constexpr std::int64_t kGrabWindowSeconds = 120;
  if (giftTime.size() == 10) {
    // From the moment itself, not from its display text: with a 12-hour clock the text has
    // lost whether it was morning or evening.
    return FormatUnixSeconds(LeadingNumber(giftTime) + kGrabWindowSeconds, style);
  }
  // Any other length is milliseconds, as the display takes it.
  if (!giftTime.empty() && giftTime.size() <= 18 && AllDecimalDigits(giftTime)) {
    return FormatTimestamp(std::to_string(LeadingNumber(giftTime) + kGrabWindowSeconds * 1000),
                           style);
  }
  return FormatTimestamp(giftTime, style);
}

}  // namespace

std::optional<RowCells> RocketRowCells(const RocketRecord& record, ClockStyle style) {
  if (record.size() < kRocketTexts) {
    return std::nullopt;
  }
  return RowCells{
      Texts().giftBoxMark,
      record[0],
      record[1],
      record[2],
      record[3],
      FormatTimestamp(record[5], style),
      GrabWindowEnd(record[5], style),
      record[4],
  };
}

std::optional<AnsiText> RoomPageUrl(const AnsiText& room) {
  if (!AllDecimalDigits(room)) {
    return std::nullopt;
  }
  return AnsiText(RoomPagePrefix) + room;
}

RocketRows::RocketRows(ports::Window& window, ports::SoundPlayer& sound, ports::UrlOpener& opener,
                       const ProgramState& state, const ports::Clock& clock, ClockStyle style)
    : m_window(window),
      m_sound(sound),
      m_opener(opener),
      m_state(state),
      m_clock(clock),
      m_style(style) {}

bool RocketRows::OnBarrageFrame(std::span<const std::uint8_t> frame) {
  const std::optional<RocketRecord> record = RecognizeBroadcast(frame, m_clock);
  if (!record) {
    return false;
  }
  const std::optional<RowCells> cells = RocketRowCells(*record, m_style);
  if (!cells) {
    return false;
  }
  const int row = m_window.InsertRow(0);
  for (int column = 0; column < kRowColumns; ++column) {
    m_window.SetCell(row, column, (*cells)[static_cast<std::size_t>(column)]);
  }
  if (m_state.soundAlertFlag == 1) {
    m_sound.Play(AlertSound());
  }
  if (m_state.autoOpenFlag == 1) {
    if (const std::optional<AnsiText> url = RoomPageUrl((*cells)[7])) {
      m_opener.Open(*url);
    }
  }
  return true;
}

}  // namespace kestrova::intake
