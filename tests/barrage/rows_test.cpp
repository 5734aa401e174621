#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "barrage/frame_codec.h"
#include "fakes/fakes.h"
#include "intake/alert_sound.h"
#include "intake/rocket_rows.h"
#include "intake/text.h"
#include "intake/texts.h"

namespace kestrova::intake {
namespace {

ByteBuffer ServerFrame(const std::string& utf8Body) {
  return barrage::BuildFrame(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(utf8Body.data()),
                                    utf8Body.size()),
      barrage::kServerMessageType);
}

std::string Rocket(const std::string& sn, const std::string& room, const std::string& time,
                   const std::string& gb = "1") {
  return "type@=spbc/sn@=" + sn + "/dn@=B/gn@=C/gc@=2/drid@=" + room +
         "/gs@=6/gfid@=196/bid@=" + time + "_0421/gb@=" + gb + "/es@=1/";
}

std::vector<AnsiText> Row(std::initializer_list<const char*> utf8Cells) {
  std::vector<AnsiText> row;
  for (const char* cell : utf8Cells) row.push_back(Utf8ToGbk(cell));
  return row;
}

class RowsTest : public ::testing::Test {
 protected:
  RowsTest() { state.soundAlertFlag = state.autoOpenFlag = 0; }
  RocketRows MakeRows(ClockStyle style) {
    return RocketRows(window, sound, opener, state, clock, style);
  }

  fakes::FakeWindow window;
  fakes::FakeSoundPlayer sound;
  fakes::FakeUrlOpener opener;
  fakes::FakeClock clock;
  ProgramState state;
};

TEST_F(RowsTest, RowLayoutWithEitherClock) {
  struct Case {
    ClockStyle style;
    const char* time;
    const char* sent;
    const char* ends;
  };
  const Case cases[] = {
      {ClockStyle::TwentyFourHour, "1500000000", "2017-7-14 10:40:00", "2017-7-14 10:42:00"},
      {ClockStyle::TwelveHour, "1500000000", "2017-7-14 10:40:00", "2017-7-14 10:42:00"},
      {ClockStyle::TwentyFourHour, "1500030000", "2017-7-14 19:00:00", "2017-7-14 19:02:00"},
      {ClockStyle::TwelveHour, "1500030000", "2017-7-14 07:00:00", "2017-7-14 07:02:00"},
      // Around midnight the end of the grab window is on the next day, with either clock.
      {ClockStyle::TwentyFourHour, "1504281540", "2017-9-01 23:59:00", "2017-9-02 00:01:00"},
      {ClockStyle::TwelveHour, "1504281540", "2017-9-01 11:59:00", "2017-9-02 12:01:00"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.time);
    window.rows.clear();
    RocketRows rows = MakeRows(c.style);
    EXPECT_TRUE(rows.OnBarrageFrame(ServerFrame(Rocket("A", "123456", c.time))));
    ASSERT_EQ(window.rows.size(), 1u);
    EXPECT_EQ(window.rows[0], Row({"[有礼包]", "A", "B", "C", "2", c.sent, c.ends, "123456"}));
  }
}

TEST_F(RowsTest, ChineseTextsArriveAsCodePage936) {
  RocketRows rows = MakeRows(ClockStyle::TwentyFourHour);
  rows.OnBarrageFrame(ServerFrame(
      "type@=spbc/sn@=%E5%B0%8F%E7%8C%AB/dn@=主播/gn@=火箭/gc@=1/drid@=88/bid@=1500000000/gb@=1/"));
  ASSERT_EQ(window.rows.size(), 1u);
  EXPECT_EQ(window.rows[0][1], Utf8ToGbk("小猫"));
  EXPECT_EQ(window.rows[0][2], Utf8ToGbk("主播"));
  EXPECT_EQ(window.rows[0][3], Utf8ToGbk("火箭"));
}

TEST_F(RowsTest, NewestRowOnTopAndNoRowForOtherFrames) {
  RocketRows rows = MakeRows(ClockStyle::TwentyFourHour);
  EXPECT_TRUE(rows.OnBarrageFrame(ServerFrame(Rocket("first", "1", "1500000000"))));
  EXPECT_FALSE(rows.OnBarrageFrame(ServerFrame(Rocket("nobox", "2", "1500000000", "0"))));
  EXPECT_FALSE(rows.OnBarrageFrame(ServerFrame("type@=chatmsg/txt@=hi/")));
  // Passes both filters but not the pattern: no partial row.
  EXPECT_FALSE(rows.OnBarrageFrame(ServerFrame("type@=spbc/gb@=1/")));
  EXPECT_TRUE(rows.OnBarrageFrame(ServerFrame(Rocket("second", "3", "1500000000"))));
  ASSERT_EQ(window.rows.size(), 2u);
  EXPECT_EQ(window.rows[0][1], "second");
  EXPECT_EQ(window.rows[1][1], "first");
}

TEST_F(RowsTest, FlagsReadPerRowAndOnlyOneMeansOn) {
  RocketRows rows = MakeRows(ClockStyle::TwentyFourHour);
  struct Step {
    int sound;
    int open;
    std::size_t played;
    std::size_t opened;
  };
  const Step steps[] = {{0, 0, 0, 0}, {1, 0, 1, 0}, {2, 1, 1, 1}, {-1, 256, 1, 1}, {1, 1, 2, 2}};
  for (const Step& s : steps) {
    state.soundAlertFlag = s.sound;
    state.autoOpenFlag = s.open;
    rows.OnBarrageFrame(ServerFrame(Rocket("A", "123456", "1500000000")));
    EXPECT_EQ(sound.played.size(), s.played);
    EXPECT_EQ(opener.opened.size(), s.opened);
  }
  EXPECT_EQ(sound.played.back().data(), AlertSound().data());
  EXPECT_EQ(opener.opened.back(), "https://www.douyu.com/123456");
}

TEST(RoomPageUrl, OnlyDigitsOrNothingOpens) {
  EXPECT_EQ(RoomPageUrl("123456"), "https://www.douyu.com/123456");
  EXPECT_EQ(RoomPageUrl(""), "https://www.douyu.com/");
  for (const char* room : {"12a", "../admin", "123 ", " 1", "1/2", "9;rm -rf", "javascript:x",
                           "\xef\xbc\x91"}) {
    SCOPED_TRACE(room);
    EXPECT_EQ(RoomPageUrl(room), std::nullopt);
  }
}

TEST_F(RowsTest, HostileRoomOpensNothingButStillMakesTheRow) {
  state.autoOpenFlag = 1;
  RocketRows rows = MakeRows(ClockStyle::TwentyFourHour);
  rows.OnBarrageFrame(ServerFrame(Rocket("A", "evil.example%2Fx", "1500000000")));
  rows.OnBarrageFrame(ServerFrame(Rocket("A", "", "1500000000")));
  EXPECT_EQ(opener.opened, std::vector<AnsiText>{"https://www.douyu.com/"});
  EXPECT_EQ(window.rows.size(), 2u);
}

TEST(RocketRowCells, EmptyTextsGiveEmptyCellsAndShortRecordsNoRow) {
  EXPECT_EQ(RocketRowCells(RocketRecord{}, ClockStyle::TwentyFourHour), std::nullopt);
  EXPECT_EQ(RocketRowCells(RocketRecord{"a", "b", "c", "d", "e"}, ClockStyle::TwentyFourHour),
            std::nullopt);
  const auto cells =
      RocketRowCells(RocketRecord{"", "", "", "", "", "1500000000"}, ClockStyle::TwentyFourHour);
  ASSERT_TRUE(cells);
  EXPECT_EQ((*cells)[0], Texts().giftBoxMark);
  for (int column : {1, 2, 3, 4, 7}) EXPECT_EQ((*cells)[static_cast<std::size_t>(column)], "");
}

}  // namespace
}  // namespace kestrova::intake
