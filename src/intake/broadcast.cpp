#include "intake/broadcast.h"

#include <chrono>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "intake/regex_object.h"
#include "intake/text.h"

namespace kestrova::intake {
namespace {

constexpr std::size_t kHeaderSize = 12;

// The six items of a rocket broadcast. The time after `drid` is optional here so that a rocket
// whose body carries no ten-digit run still yields its five texts; it gets the arrival time.
// Values may hold a line break, which "." would not cross, so they are taken as any characters
// up to the next key.
constexpr const char* kBroadcastPattern =
    "type@=spbc/sn@=([\\s\\S]*?)/dn@=([\\s\\S]*?)/gn@=([\\s\\S]*?)/gc@=([\\s\\S]*?)"
    "/drid@=([\\s\\S]*?)/(?:[\\s\\S]*?(\\d{10}))?";

constexpr std::size_t kTimeText = 5;  // index of the gift time in the record

char Fold(unsigned char byte) { return static_cast<char>(byte | 0x20); }

bool SpbcAt(const unsigned char* p, std::size_t n, std::size_t k) {
  return k + 4 <= n && Fold(p[k + 1]) == 'p' && Fold(p[k + 2]) == 'b' && Fold(p[k + 3]) == 'c';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The protocol escapes "/" as "@S" and "@" as "@A" inside values; "@S" goes first so that an
// escaped "@" followed by "S" (written "@AS") stays "@S".
AnsiText Unescape(const AnsiText& value) {
  if (value.find('@') == AnsiText::npos) return value;
  return ReplaceAll(ReplaceAll(value, "@S", "/"), "@A", "@");
}

// The ten digits of the first `bid` item shaped <digits>_<ten digits>_<digits>, searched from
// `from` (1-based); empty when there is none.
AnsiText BidTime(const AnsiText& text, int from) {
  static const AnsiText kKey = "/bid@=";
  int p = FindText(text, kKey, from);
  while (p != -1) {
    const std::size_t begin = static_cast<std::size_t>(p - 1) + kKey.size();
    std::size_t end = text.find('/', begin);
    if (end == std::string::npos) end = text.size();
    const std::string_view value(text.data() + begin, end - begin);
    const std::size_t first = value.find('_');
    const std::size_t second =
        first == std::string_view::npos ? std::string_view::npos : value.find('_', first + 1);
    const auto allDigits = [](std::string_view part) {
      if (part.empty()) return false;
      for (char c : part) {
        if (!IsDigit(c)) return false;
      }
      return true;
    };
    if (second != std::string_view::npos && second - first - 1 == 10 &&
        allDigits(value.substr(0, first)) && allDigits(value.substr(first + 1, 10)) &&
        allDigits(value.substr(second + 1))) {
      return AnsiText(value.substr(first + 1, 10));
    }
    p = FindText(text, kKey, p + static_cast<int>(kKey.size()));
  }
  return {};
}

AnsiText ArrivalTime(const ports::Clock& clock) {
  const auto seconds =
      std::chrono::floor<std::chrono::seconds>(clock.Now()).time_since_epoch().count();
  return std::to_string(seconds);
}

}  // namespace

std::string_view FrameBody(std::span<const std::uint8_t> frame) {
  if (frame.size() <= kHeaderSize + 1) return {};
  const auto* begin = reinterpret_cast<const char*>(frame.data()) + kHeaderSize;
  const std::size_t length = frame.size() - kHeaderSize - 1;
  const void* zero = std::memchr(begin, 0, length);
  return {begin, zero == nullptr ? length : static_cast<std::size_t>(
                                                static_cast<const char*>(zero) - begin)};
}

// Percent decoding is the only way a body can gain ASCII letters it does not hold as raw bytes:
// the UTF-8 conversion keeps ASCII bytes as they are and turns everything else into non-ASCII
// characters or "?". So a body with no "%" can only pass the "type@=spbc/" filter if it holds
// "spbc" itself, in some letter case.
namespace {

// For a body with escapes, decoding them (without the code-page conversion, which adds no ASCII
// letters) and looking for "spbc" again is still far cheaper than the full path.
bool DecodedMightBeRocket(std::string_view body) {
  const AnsiText decoded = PercentDecode(AnsiText(body), Utf8::Keep);
  const auto* p = reinterpret_cast<const unsigned char*>(decoded.data());
  const std::size_t n = decoded.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (Fold(p[i]) == 's' && SpbcAt(p, n, i)) return true;
  }
  return false;
}

}  // namespace

bool MightBeRocketBody(std::string_view body) {
  const auto* p = reinterpret_cast<const unsigned char*>(body.data());
  const std::size_t n = body.size();
  std::size_t i = 0;
#if defined(__SSE2__)
  const __m128i caseBit = _mm_set1_epi8(0x20);
  const __m128i letterS = _mm_set1_epi8('s');
  const __m128i percent = _mm_set1_epi8('%');
  for (; i + 16 <= n; i += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(_mm_or_si128(chunk, caseBit), letterS),
                                      _mm_cmpeq_epi8(chunk, percent));
    auto mask = static_cast<unsigned>(_mm_movemask_epi8(hits));
    while (mask != 0) {
      const std::size_t k = i + static_cast<std::size_t>(__builtin_ctz(mask));
      if (p[k] == '%') return DecodedMightBeRocket(body);
      if (SpbcAt(p, n, k)) return true;
      mask &= mask - 1;
    }
  }
#endif
  for (; i < n; ++i) {
    if (p[i] == '%') return DecodedMightBeRocket(body);
    if (Fold(p[i]) == 's' && SpbcAt(p, n, i)) return true;
  }
  return false;
}

std::optional<RocketRecord> RecognizeBody(std::string_view body, const ports::Clock& clock) {
  const AnsiText text = PercentDecode(AnsiText(body), Utf8::ConvertToGbk);
  static const AnsiText kTypeMarker = "type@=spbc/";
  const int typeAt = FindText(text, kTypeMarker, 1, Case::Insensitive);
  if (typeAt == -1) return std::nullopt;
  if (TextBetween(text, "/gb@=", "/", 0, Case::Sensitive) != "1") return std::nullopt;

  RegexObject regex;
  regex.Match(kBroadcastPattern, text,
              MatchOptions{LetterCase::Ignore, LineAnchors::AtTextEnds, MatchScope::All,
                           QuoteToken::Expand});
  RocketRecord record;
  // The number of groups comes from the first match and the texts from the last; a frame body
  // holds one broadcast, so both are the same match.
  const std::int32_t groups = regex.SubMatchCount();
  for (std::int32_t g = 1; g <= groups; ++g) {
    record.push_back(regex.SubMatchText(regex.MatchCount(), g));
  }
  regex.Destroy();
  if (record.size() < kRocketTexts) return record;

  for (std::size_t i = 0; i < kTimeText; ++i) record[i] = Unescape(record[i]);
  // Other ten-digit runs (a negative rid or ifs) may stand between drid and bid, so the time
  // inside bid wins when the body has one.
  AnsiText bid = BidTime(text, typeAt);
  if (!bid.empty()) {
    record[kTimeText] = std::move(bid);
  } else if (record[kTimeText].empty()) {
    record[kTimeText] = ArrivalTime(clock);
  }
  return record;
}

std::optional<RocketRecord> RecognizeBroadcast(std::span<const std::uint8_t> frame,
                                               const ports::Clock& clock) {
  const std::string_view body = FrameBody(frame);
  if (!MightBeRocketBody(body)) return std::nullopt;
  return RecognizeBody(body, clock);
}

}  // namespace kestrova::intake
