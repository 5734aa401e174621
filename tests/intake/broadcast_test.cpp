#include "intake/broadcast.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "broadcast_fixtures.h"
#include "intake/text.h"

namespace kestrova::intake {
namespace {

using fixtures::FixedClock;
using fixtures::MakeFrame;

constexpr std::int64_t kArrival = 1700000000;

std::optional<RocketRecord> Recognize(const std::string& body) {
  const FixedClock clock(kArrival);
  return RecognizeBroadcast(MakeFrame(body), clock);
}

// Expected texts are written in UTF-8 and compared as code page 936.
RocketRecord Gbk(const std::vector<std::string>& utf8) {
  RocketRecord out;
  for (const auto& text : utf8) out.push_back(Utf8ToGbk(text));
  return out;
}

struct RocketCase {
  const char* name;
  std::string body;
  std::vector<std::string> expected;
};

class RecognizesRocket : public ::testing::TestWithParam<RocketCase> {};

TEST_P(RecognizesRocket, GivesTheSixTexts) {
  const auto record = Recognize(GetParam().body);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ(*record, Gbk(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Broadcasts, RecognizesRocket,
    ::testing::Values(
        RocketCase{"TimeFromBidNotFromNegativeRid", fixtures::kGiftBoxRocket,
                   {"飞翔的小鱼", "主播小美", "火箭", "1", "5189167", "1497455820"}},
        RocketCase{"NegativeIfsBeforeBid",
                   "type@=spbc/sn@=a/dn@=b/gn@=火箭/gc@=1/drid@=1/gs@=6/gb@=1/es@=1/gfid@=196/"
                   "eid@=143/bgl@=3/ifs@=-1253966326/rid@=1/gid@=0/bid@=30002_1497455820_33/",
                   {"a", "b", "火箭", "1", "1", "1497455820"}},
        RocketCase{"NoTenDigitRunTakesArrivalTime", fixtures::kOldServerRocket,
                   {"老用户", "老主播", "火箭", "2", "56040", "1700000000"}},
        RocketCase{"DescribedExampleWithoutBid",
                   "type@=spbc/sn@=A/dn@=B/gn@=C/gc@=2/drid@=123456/ts@=1500000000/gb@=1/",
                   {"A", "B", "C", "2", "123456", "1500000000"}},
        RocketCase{"FirstTenDigitsOfALongerRun",
                   "type@=spbc/sn@=A/dn@=B/gn@=C/gc@=2/drid@=1/x@=150000000012345/gb@=1/",
                   {"A", "B", "C", "2", "1", "1500000000"}},
        RocketCase{"MalformedBidFallsBackToFirstRun",
                   "type@=spbc/sn@=A/dn@=B/gn@=C/gc@=2/drid@=1/ts@=1500000000/gb@=1/"
                   "bid@=30002_149745582_33/",
                   {"A", "B", "C", "2", "1", "1500000000"}},
        RocketCase{"EmptyValues", "type@=spbc/sn@=/dn@=/gn@=/gc@=/drid@=/gb@=1/bid@=1_1497455820_2/",
                   {"", "", "", "", "", "1497455820"}},
        RocketCase{"EscapesUndoneSlashFirst",
                   "type@=spbc/sn@=a@Sb@Ac@AS/dn@=x@Ay/gn@=火箭/gc@=1/drid@=7/gb@=1/"
                   "bid@=1_1497455820_2/",
                   {"a/b@c@S", "x@y", "火箭", "1", "7", "1497455820"}},
        // 丂 is 81 40 in code page 936: its trail byte is "@" and must not be unescaped.
        RocketCase{"TrailByteAtIsNotAnEscape",
                   "type@=spbc/sn@=丂S/dn@=B/gn@=C/gc@=1/drid@=7/gb@=1/bid@=1_1497455820_2/",
                   {"丂S", "B", "C", "1", "7", "1497455820"}},
        RocketCase{"PercentEscapesEverywhere",
                   "type%40%3dspbc%2fsn@=%E9%A3%9E%E9%B1%BC/dn@=B/gn@=%E7%81%AB%E7%AE%AD/gc@=1/"
                   "drid@=9/gb%40=1/bid@=1_1497455820_2/",
                   {"飞鱼", "B", "火箭", "1", "9", "1497455820"}},
        RocketCase{"CapitalTypeAndKeys",
                   "TYPE@=SPBC/SN@=A/DN@=B/GN@=C/GC@=1/DRID@=5/gb@=1/ts@=1497455820/",
                   {"A", "B", "C", "1", "5", "1497455820"}},
        RocketCase{"LineBreakInsideAValue",
                   "type@=spbc/sn@=第一行\n第二行/dn@=B/gn@=C/gc@=1/drid@=5/gb@=1/"
                   "bid@=1_1497455820_2/",
                   {"第一行\n第二行", "B", "C", "1", "5", "1497455820"}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RejectCase {
  const char* name;
  std::string body;
};

class RejectsFrame : public ::testing::TestWithParam<RejectCase> {};

TEST_P(RejectsFrame, GivesNoRecord) { EXPECT_FALSE(Recognize(GetParam().body).has_value()); }

INSTANTIATE_TEST_SUITE_P(
    Broadcasts, RejectsFrame,
    ::testing::Values(RejectCase{"Chat", fixtures::kChat}, RejectCase{"Gift", fixtures::kGift},
                      RejectCase{"Anbc", fixtures::kAnbc}, RejectCase{"Cthn", fixtures::kCthn},
                      RejectCase{"Rnewbc", fixtures::kRnewbc},
                      RejectCase{"RocketWithoutBox", fixtures::kRocketWithoutBox},
                      RejectCase{"FirstGbCounts",
                                 "type@=spbc/sn@=A/dn@=B/gn@=C/gc@=1/drid@=1/gb@=0/x@=1/gb@=1/"},
                      RejectCase{"GbTen", "type@=spbc/sn@=A/dn@=B/gn@=C/gc@=1/drid@=1/gb@=10/"},
                      RejectCase{"GbUnclosed", "type@=spbc/sn@=A/dn@=B/gn@=C/gc@=1/drid@=1/gb@=1"},
                      RejectCase{"GbComparedExactly", "TYPE@=SPBC/SN@=A/DN@=B/GN@=C/GC@=1/DRID@=1/GB@=1/"},
                      RejectCase{"Empty", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecognizeBroadcast, ShortFramesGiveNoRecord) {
  const FixedClock clock(kArrival);
  const std::string rocket = fixtures::kGiftBoxRocket;
  for (std::size_t size : {0U, 1U, 12U, 13U}) {
    ByteBuffer frame(rocket.begin(), rocket.begin() + static_cast<std::ptrdiff_t>(size));
    EXPECT_FALSE(RecognizeBroadcast(frame, clock).has_value()) << size;
  }
}

TEST(RecognizeBroadcast, OnlyTheFirstFrameOfABlockIsJudged) {
  const FixedClock clock(kArrival);
  ByteBuffer block = MakeFrame(fixtures::kChat);
  const ByteBuffer rocket = MakeFrame(fixtures::kGiftBoxRocket);
  block.insert(block.end(), rocket.begin(), rocket.end());
  EXPECT_FALSE(RecognizeBroadcast(block, clock).has_value());

  ByteBuffer rocketFirst = rocket;
  const ByteBuffer chat = MakeFrame(fixtures::kChat);
  rocketFirst.insert(rocketFirst.end(), chat.begin(), chat.end());
  const auto record = RecognizeBroadcast(rocketFirst, clock);
  ASSERT_TRUE(record.has_value());
  EXPECT_EQ((*record)[5], "1497455820");
}

TEST(RecognizeBroadcast, FiltersPassedButPatternMissedGivesEmptyRecord) {
  // dn is missing: the rows decide what becomes of a record with fewer than six texts.
  const auto record = Recognize("type@=spbc/sn@=A/gn@=C/gc@=1/drid@=1/gb@=1/");
  ASSERT_TRUE(record.has_value());
  EXPECT_TRUE(record->empty());
}

TEST(RecognizeBroadcast, DecodedSlashIsSeenByFiltersAndPattern) {
  const auto record = Recognize("type@=spbc/sn@=A%2Fdn@=B/gn@=C/gc@=1/drid@=1/gb@=1%2F");
  ASSERT_TRUE(record.has_value());
  ASSERT_EQ(record->size(), kRocketTexts);
  EXPECT_EQ((*record)[0], "A");
  EXPECT_EQ((*record)[1], "B");
  EXPECT_EQ((*record)[5], "1700000000");
}

// The raw-byte test may only reject what the full path rejects as well.
TEST(MightBeRocketBody, NeverRejectsWhatTheFullPathAccepts) {
  const FixedClock clock(kArrival);
  const std::vector<std::string> bodies = {
      fixtures::kGiftBoxRocket, fixtures::kOldServerRocket, fixtures::kChat, fixtures::kGift,
      fixtures::kAnbc, "type@=%73pbc/sn@=A/dn@=B/gn@=C/gc@=1/drid@=1/gb@=1/",
      "tYpE@=sPbC/sn@=A/dn@=B/gn@=C/gc@=1/drid@=1/gb@=1/",
      // 16-byte chunk edges: "spbc" split across a chunk boundary.
      "0123456789abtype@=spbc/sn@=A/dn@=B/gn@=C/gc@=1/drid@=1/gb@=1/",
      "0123456789abcdtype@=spbc/sn@=A/dn@=B/gn@=C/gc@=1/drid@=1/gb@=1/"};
  for (const auto& body : bodies) {
    if (RecognizeBody(body, clock).has_value()) {
      EXPECT_TRUE(MightBeRocketBody(body)) << body;
    }
  }
  EXPECT_TRUE(RecognizeBody("type@=%73pbc/sn@=A/dn@=B/gn@=C/gc@=1/drid@=1/gb@=1/", clock));
  EXPECT_FALSE(MightBeRocketBody(fixtures::kChat));
  EXPECT_FALSE(MightBeRocketBody(fixtures::kGift));
  EXPECT_FALSE(MightBeRocketBody("spb"));
  // Escapes are decoded before the check, so they neither hide "spbc" nor let noise through.
  EXPECT_FALSE(MightBeRocketBody("xxxxxxxxxxxxxxxxxxxx%"));
  EXPECT_FALSE(MightBeRocketBody("type@=chatmsg/nn@=%E4%BD%A0/txt@=hi/"));
  EXPECT_TRUE(MightBeRocketBody("xxxxxxxxxxxxxxxxxxxx%53PbC"));
}

TEST(FrameBody, DropsHeaderAndLastByteAndStopsAtZero) {
  EXPECT_EQ(FrameBody(MakeFrame("abc")), "abc");
  const std::string withZero("ab\0cd", 5);
  EXPECT_EQ(FrameBody(MakeFrame(withZero)), "ab");
  // A frame split over two blocks: the tail is judged as if it had a header.
  const ByteBuffer frame = MakeFrame("0123456789abcdefXYZ");
  const ByteBuffer tail(frame.begin() + 16, frame.end());
  EXPECT_EQ(FrameBody(tail), "XYZ");
}

}  // namespace
}  // namespace kestrova::intake
