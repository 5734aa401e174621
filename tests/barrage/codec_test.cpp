#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "barrage/frame_codec.h"

namespace kestrova::barrage {
namespace {

std::string Hex(const ByteBuffer& bytes, std::size_t count) {
  std::string out;
  char piece[4];
  for (std::size_t i = 0; i < count && i < bytes.size(); ++i) {
    std::snprintf(piece, sizeof piece, i == 0 ? "%02x" : " %02x", bytes[i]);
    out += piece;
  }
  return out;
}

TEST(FrameCodec, LogoutFrameByteForByte) {
  EXPECT_EQ(Hex(EncodeMessage(LogoutMessage()), 100),
            "16 00 00 00 16 00 00 00 b1 02 00 00 74 79 70 65 40 3d 6c 6f 67 6f 75 74 2f 00");
}

TEST(FrameCodec, WorkedExamples) {
  struct Case {
    AnsiText text;
    std::size_t bodyLength;
    const char* header;
    std::size_t frameLength;
  };
  const Case cases[] = {
      {LoginMessage("100"), 27, "24 00 00 00 24 00 00 00 b1 02 00 00", 40},
      {JoinGroupMessage("100"), 36, "2d 00 00 00 2d 00 00 00 b1 02 00 00", 49},
      {KeepAliveMessage("1500000000"), 32, "29 00 00 00 29 00 00 00 b1 02 00 00", 45},
      {AnsiText(300, 'x'), 300, "35 01 00 00 35 01 00 00 b1 02 00 00", 313},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    EXPECT_EQ(c.text.size(), c.bodyLength);
    const ByteBuffer frame = EncodeMessage(c.text);
    EXPECT_EQ(frame.size(), c.frameLength);
    EXPECT_EQ(Hex(frame, 12), c.header);
    EXPECT_EQ(std::string(frame.begin() + 12, frame.end() - 1), c.text);
    EXPECT_EQ(frame.back(), 0);
  }
}

TEST(FrameCodec, MessageTextsAndUnchangedRoom) {
  EXPECT_EQ(LoginMessage("100"), "type@=loginreq/roomid@=100/");
  EXPECT_EQ(JoinGroupMessage("100"), "type@=joingroup/rid@=100/gid@=-9999/");
  EXPECT_EQ(KeepAliveMessage("1500000000"), "type@=keeplive/tick@=1500000000/");
  EXPECT_EQ(MarkAliveMessage(), "type@=mrkl/");
  // No trimming, escaping or conversion of what the configuration supplied.
  EXPECT_EQ(LoginMessage(" a/b@c\xc4\xe3 "), "type@=loginreq/roomid@= a/b@c\xc4\xe3 /");
  EXPECT_EQ(LoginMessage(""), "type@=loginreq/roomid@=/");
}

TEST(FrameCodec, ServerTypeAndEmptyBody) {
  const ByteBuffer frame = BuildFrame(std::span<const std::uint8_t>(), kServerMessageType);
  EXPECT_EQ(Hex(frame, 13), "09 00 00 00 09 00 00 00 b2 02 00 00 00");
  EXPECT_EQ(Hex(BuildFrame(ByteBuffer{}), 13), "09 00 00 00 09 00 00 00 b1 02 00 00 00");
}

}  // namespace
}  // namespace kestrova::barrage
