#include "stream_generator.h"

#include <array>
#include <cstdio>
#include <span>

#include "barrage/frame_codec.h"

namespace kestrova::tools {

namespace {

// Nicknames as people choose them: Chinese, mixed, and a few with the characters that need
// escaping ('/', '@', '%'). All of them fit code page 936, so the list shows them faithfully.
constexpr std::array<const char*, 24> kViewers{
    "小猫咪",     "夜空中最亮的星", "大白兔",   "风清扬",    "追风少年",  "糖糖",
    "一条咸鱼",   "不吃香菜",       "阿狸",     "莫问归期",  "老王隔壁",  "剑心",
    "星辰大海",   "奶茶三分糖",     "Lucky_7",  "kiki酱",    "AC/DC迷",   "me@斗鱼",
    "100%真爱粉", "静静",           "北方的狼", "桃花岛主",  "吃瓜群众",  "一只小可爱"};
constexpr std::array<const char*, 12> kAnchors{
    "冯提莫", "主播小姐姐", "旭旭宝宝", "一条小团团", "大司马", "余小C",
    "女流66", "陈一发儿",   "yyf",      "阿怡大小姐", "PDD",    "张大仙"};
constexpr std::array<const char*, 4> kRocketGifts{"火箭", "超级火箭", "飞机", "宇宙飞船"};
constexpr std::array<const char*, 8> kChat{
    "666666", "主播好厉害", "哈哈哈哈哈", "前方高能", "来了来了", "这波可以", "晚上好/大家好",
    "关注了@主播"};
constexpr std::array<const char*, 5> kSmallGifts{"鱼丸", "赞", "弱鸡", "办卡", "荧光棒"};

bool PlainAscii(unsigned char c) { return c < 0x80 && c != '%'; }

std::string PercentEscape(std::string_view text, bool allNonAscii) {
  std::string out;
  char piece[4];
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '%' || (allNonAscii && !PlainAscii(c))) {
      std::snprintf(piece, sizeof piece, "%%%02X", c);
      out += piece;
    } else {
      out += ch;
    }
  }
  return out;
}

}  // namespace

std::string EscapeStt(std::string_view value) {
  std::string out;
  for (char c : value) {
    if (c == '@') {
      out += "@A";
    } else if (c == '/') {
      out += "@S";
    } else {
      out += c;
    }
  }
  return out;
}

ByteBuffer ServerFrame(std::string_view body) {
  return barrage::BuildFrame(
      std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(body.data()),
                                    body.size()),
      barrage::kServerMessageType);
}

StreamGenerator::StreamGenerator(std::uint64_t seed, std::string room)
    : m_random(seed), m_room(std::move(room)) {}

std::uint64_t StreamGenerator::Below(std::uint64_t bound) { return m_random() % bound; }

const char* StreamGenerator::Pick(std::span<const char* const> names) {
  return names[Below(names.size())];
}

std::string StreamGenerator::Number(std::uint64_t low, std::uint64_t high) {
  return std::to_string(low + Below(high - low + 1));
}

StreamGenerator::Value StreamGenerator::Nickname(std::span<const char* const> names) {
  const std::string name = Pick(names);
  const std::string escaped = EscapeStt(name);
  // A literal '%' is always escaped, or the client would decode it; now and then the server
  // escapes every non-ASCII byte as well, as the real one does for some clients.
  return {PercentEscape(escaped, Below(8) == 0), name};
}

GeneratedMessage StreamGenerator::Next(std::int64_t nowSeconds, const StreamRates& rates) {
  const double total = rates.noisePerSecond + rates.rocketsPerSecond + rates.broadcastsPerSecond;
  if (total <= 0.0) {
    return Noise(nowSeconds);
  }
  const double draw = std::uniform_real_distribution<double>(0.0, total)(m_random);
  if (draw < rates.rocketsPerSecond) {
    const bool giftBox = std::uniform_real_distribution<double>(0.0, 1.0)(m_random) <
                         rates.giftBoxShare;
    return Rocket(nowSeconds, giftBox);
  }
  if (draw < rates.rocketsPerSecond + rates.broadcastsPerSecond) {
    return NobleBroadcast();
  }
  return Noise(nowSeconds);
}

GeneratedMessage StreamGenerator::Noise(std::int64_t nowSeconds) {
  const std::string uid = Number(10000, 399999999);
  const std::string level = Number(1, 60);
  const std::string avatar = "ic@=avatar_v3@S2019" + Number(10, 12) + "@S" + Number(1000, 9999) +
                             "/";
  switch (Below(10)) {
    case 0:
    case 1:
    case 2:
      return {"type@=dgb/rid@=" + m_room + "/gfid@=" + Number(190, 830) + "/gs@=0/uid@=" + uid +
                  "/nn@=" + Nickname(kViewers).wire + "/str@=0/level@=" + level + "/dw@=0/gfcnt@=" +
                  Number(1, 99) + "/hits@=" + Number(1, 520) + "/bcnt@=1/bst@=0/ct@=0/el@=/cm@=0/" +
                  avatar + "gn@=" + PercentEscape(Pick(kSmallGifts), false) + "/sahf@=0/fc@=0/",
              std::nullopt};
    case 3:
    case 4:
      return {"type@=uenter/rid@=" + m_room + "/uid@=" + uid + "/nn@=" + Nickname(kViewers).wire +
                  "/level@=" + level + "/" + avatar + "rni@=0/el@=/sahf@=0/wgei@=0/",
              std::nullopt};
    default: {
      const std::string ms = std::to_string(nowSeconds) + Number(100, 999);
      return {"type@=chatmsg/rid@=" + m_room + "/ct@=2/uid@=" + uid + "/nn@=" +
                  Nickname(kViewers).wire + "/txt@=" + PercentEscape(EscapeStt(Pick(kChat)), false) +
                  "/cid@=" + Number(100000000, 999999999) + "a2b80f0000000000/" + avatar +
                  "level@=" + level + "/sahf@=0/nl@=0/cst@=" + ms +
                  "/bnn@=/bl@=0/brid@=0/hc@=/el@=/lk@=/urlev@=1/dms@=3/pdg@=0/pdk@=0/",
              std::nullopt};
    }
  }
}

GeneratedMessage StreamGenerator::NobleBroadcast() {
  const char* type = Below(2) == 0 ? "anbc" : "rnewbc";
  return {std::string("type@=") + type + "/uid@=" + Number(10000, 399999999) + "/unk@=" +
              Nickname(kViewers).wire + "/uic@=avatar@S" + Number(100, 999) + "/drid@=" +
              Number(10000, 9999999) + "/donk@=" + Nickname(kAnchors).wire + "/nl@=" +
              Number(1, 7) + "/",
          std::nullopt};
}

GeneratedMessage StreamGenerator::Rocket(std::int64_t nowSeconds, bool giftBox) {
  const Value sn = Nickname(kViewers);
  const Value dn = Nickname(kAnchors);
  const std::string gn = Pick(kRocketGifts);
  const std::string gc = Number(1, 3);
  const std::string drid = Number(10000, 9999999);
  const std::string time = std::to_string(nowSeconds);
  // The field order of the real broadcast: the gift time appears first inside bid.
  std::string body = "type@=spbc/sn@=" + sn.wire + "/dn@=" + dn.wire + "/gn@=" + gn + "/gc@=" +
                     gc + "/drid@=" + drid + "/gs@=6/gb@=" + (giftBox ? "1" : "0") +
                     "/es@=1/gfid@=" + Number(59, 196) + "/eid@=0/bgl@=3/ifs@=0/rid@=" + drid +
                     "/gid@=-9999/bid@=" + Number(1000, 99999) + "_" + time + "_" +
                     Number(1000, 9999) + "/sid@=" +
                     Number(10000, 399999999) + "/cl2@=0/";
  GeneratedMessage message{std::move(body), std::nullopt};
  if (giftBox) {
    message.giftBoxRocket = RocketFacts{sn.shown, dn.shown, gn, gc, drid, time};
  }
  return message;
}

std::string StreamGenerator::LoginReply() {
  return "type@=loginres/userid@=0/roomgroup@=0/pg@=0/sessionid@=0/username@=/nickname@=/"
         "is_signined@=0/signin_count@=0/live_stat@=0/npv@=0/best_dlev@=0/cur_lev@=0/";
}

}  // namespace kestrova::tools
