#include "intake/text.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <optional>
#include <string_view>

#include "intake/texts.h"

namespace kestrova::intake {
namespace {

constexpr std::string_view kHexDigits = "0123456789ABCDEF";

bool IsLeadByte(unsigned char byte) { return byte >= 0x80; }

unsigned char FoldAscii(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') ? static_cast<unsigned char>(byte - 'a' + 'A') : byte;
}

bool EqualAt(const AnsiText& text, std::size_t offset, const AnsiText& needle, Case mode) {
  for (std::size_t i = 0; i < needle.size(); ++i) {
    auto a = static_cast<unsigned char>(text[offset + i]);
    auto b = static_cast<unsigned char>(needle[i]);
    if (mode == Case::Insensitive) {
      a = FoldAscii(a);
      b = FoldAscii(b);
    }
    if (a != b) return false;
  }
  return true;
}

bool IsAscii(const AnsiText& text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

void AppendUnit(ByteBuffer& out, std::uint32_t unit) {
  out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  out.push_back(static_cast<std::uint8_t>(unit >> 8));
}

// Writes into a buffer sized for the worst case; received messages are converted one by one, so
// this loop is on the path of every broadcast.
std::uint8_t* PutUnit(std::uint8_t* out, std::uint32_t unit) {
  out[0] = static_cast<std::uint8_t>(unit & 0xFF);
  out[1] = static_cast<std::uint8_t>(unit >> 8);
  return out + 2;
}

std::uint8_t* PutCodePoint(std::uint8_t* out, std::uint32_t cp) {
  if (cp >= 0x10000) {
    cp -= 0x10000;
    out = PutUnit(out, 0xD800 + (cp >> 10));
    return PutUnit(out, 0xDC00 + (cp & 0x3FF));
  }
  return PutUnit(out, cp);
}

// UTF-8 to UTF-16LE, each maximal ill-formed subsequence becoming one U+FFFD, as the system
// converter does.
ByteBuffer DecodeUtf8(const AnsiText& text) {
  // Each input byte gives at most one UTF-16 unit (a four-byte sequence gives two).
  ByteBuffer buffer(text.size() * 2 + 2);
  std::uint8_t* out = buffer.data();
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char b0 = s[i];
    if (b0 < 0x80) {
      out = PutUnit(out, b0);
      ++i;
      continue;
    }
    int length = 0;
    std::uint32_t cp = 0;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      length = 2;
      cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      length = 3;
      cp = b0 & 0x0F;
      if (b0 == 0xE0) lo = 0xA0;
      if (b0 == 0xED) hi = 0x9F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      length = 4;
      cp = b0 & 0x07;
      if (b0 == 0xF0) lo = 0x90;
      if (b0 == 0xF4) hi = 0x8F;
    } else {
      out = PutUnit(out, 0xFFFD);
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    bool ok = true;
    for (int k = 1; k < length; ++k, ++j) {
      const unsigned char limitLo = (k == 1) ? lo : 0x80;
      const unsigned char limitHi = (k == 1) ? hi : 0xBF;
      if (j >= n || s[j] < limitLo || s[j] > limitHi) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (s[j] & 0x3F);
    }
    out = PutCodePoint(out, ok ? cp : 0xFFFD);
    i = j;
  }
  out = PutUnit(out, 0);
  buffer.resize(static_cast<std::size_t>(out - buffer.data()));
  return buffer;
}

// UTF-16LE units (up to the first zero unit) to UTF-8; a lone surrogate becomes U+FFFD.
AnsiText EncodeUtf8(const ByteBuffer& wide) {
  const std::size_t units = wide.size() / 2;
  // At most three bytes per unit (a pair of units gives four).
  AnsiText buffer(units * 3, '\0');
  char* out = buffer.data();
  auto unitAt = [&](std::size_t k) {
    return static_cast<std::uint32_t>(wide[2 * k] | (wide[2 * k + 1] << 8));
  };
  auto put = [&out](std::uint32_t byte) { *out++ = static_cast<char>(byte); };
  for (std::size_t k = 0; k < units; ++k) {
    std::uint32_t cp = unitAt(k);
    if (cp == 0) break;
    if (cp >= 0xD800 && cp <= 0xDBFF && k + 1 < units && unitAt(k + 1) >= 0xDC00 &&
        unitAt(k + 1) <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (unitAt(k + 1) - 0xDC00);
      ++k;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      put(cp);
    } else if (cp < 0x800) {
      put(0xC0 | (cp >> 6));
      put(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      put(0xE0 | (cp >> 12));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
    } else {
      put(0xF0 | (cp >> 18));
      put(0x80 | ((cp >> 12) & 0x3F));
      put(0x80 | ((cp >> 6) & 0x3F));
      put(0x80 | (cp & 0x3F));
    }
  }
  buffer.resize(static_cast<std::size_t>(out - buffer.data()));
  return buffer;
}

// One iconv descriptor per direction and thread, opened on first use: opening one costs far
// more than converting a short message.
class Converter {
 public:
  Converter(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
  ~Converter() {
    if (Valid()) iconv_close(m_handle);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool Valid() const { return m_handle != reinterpret_cast<iconv_t>(-1); }

  // Converts one whole input; returns false on an invalid or unmappable sequence, leaving
  // `out` holding what was converted before it and `used` the input bytes consumed.
  bool Convert(const char* in, std::size_t size, std::string& out, std::size_t& used) {
    iconv(m_handle, nullptr, nullptr, nullptr, nullptr);
    std::array<char, 256> buffer{};
    char* src = const_cast<char*>(in);
    std::size_t left = size;
    while (left > 0) {
      char* dst = buffer.data();
      std::size_t room = buffer.size();
      const std::size_t result = iconv(m_handle, &src, &left, &dst, &room);
      out.append(buffer.data(), static_cast<std::size_t>(dst - buffer.data()));
      if (result == static_cast<std::size_t>(-1) && errno != E2BIG) {
        used = size - left;
        return false;
      }
    }
    used = size;
    return true;
  }

 private:
  iconv_t m_handle;
};

const char* IconvName(int codePage) {
  switch (codePage) {
    case kCodePageSystem:
    case kCodePageGbk:
      return "CP936";
    case 1252:
      return "CP1252";
    case 20127:
      return "ASCII";
    case 28591:
      return "ISO-8859-1";
    default:
      return nullptr;
  }
}

AnsiText WideToCodePage(const ByteBuffer& wide, const char* name) {
  // Up to the first zero unit.
  std::size_t units = wide.size() / 2;
  for (std::size_t k = 0; k < units; ++k) {
    if (wide[2 * k] == 0 && wide[2 * k + 1] == 0) {
      units = k;
      break;
    }
  }
  thread_local Converter gbk("CP936", "UTF-16LE");
  std::optional<Converter> other;
  if (std::string_view(name) != "CP936") other.emplace(name, "UTF-16LE");
  Converter& converter = other ? *other : gbk;
  if (!converter.Valid()) return {};
  AnsiText out;
  const char* in = reinterpret_cast<const char*>(wide.data());
  std::size_t offset = 0;
  const std::size_t size = units * 2;
  while (offset < size) {
    std::size_t used = 0;
    if (converter.Convert(in + offset, size - offset, out, used)) break;
    offset += used;
    // The character at `offset` cannot be written in this code page (or is a lone surrogate):
    // it becomes the default character, whatever the process locale says.
    out.push_back('?');
    const auto unitAt = [&](std::size_t at) {
      return static_cast<std::uint32_t>(wide[at] | (wide[at + 1] << 8));
    };
    const std::uint32_t unit = unitAt(offset);
    // A surrogate pair is one character and one '?'; a lone high surrogate is only itself.
    const bool pair = unit >= 0xD800 && unit <= 0xDBFF && offset + 4 <= size &&
                      unitAt(offset + 2) >= 0xDC00 && unitAt(offset + 2) <= 0xDFFF;
    offset += pair ? 4 : 2;
  }
  return out;
}

ByteBuffer CodePageToWide(const AnsiText& text, const char* name) {
  thread_local Converter gbk("UTF-16LE", "CP936");
  std::optional<Converter> other;
  if (std::string_view(name) != "CP936") other.emplace("UTF-16LE", name);
  Converter& converter = other ? *other : gbk;
  if (!converter.Valid()) return {};
  std::string units;
  std::size_t offset = 0;
  while (offset < text.size()) {
    std::size_t used = 0;
    if (converter.Convert(text.data() + offset, text.size() - offset, units, used)) break;
    offset += used;
    units.append("\xFD\xFF", 2);  // U+FFFD for a byte the code page does not define
    ++offset;
  }
  ByteBuffer out(units.begin(), units.end());
  AppendUnit(out, 0);
  return out;
}

}  // namespace

int FindText(const AnsiText& text, const AnsiText& needle, int start, Case mode) {
  const std::size_t s = start < 2 ? 0 : static_cast<std::size_t>(start - 1);
  const std::size_t n = text.size();
  if (s >= n) return -1;
  if (needle.empty()) return 1;
  if (needle.size() > n) return -1;
  const std::size_t last = n - needle.size();
  const unsigned char first = static_cast<unsigned char>(needle[0]);
  const unsigned char firstFolded = FoldAscii(first);
  std::size_t offset = s;
  while (offset <= last) {
    const auto byte = static_cast<unsigned char>(text[offset]);
    const bool candidate = mode == Case::Insensitive ? FoldAscii(byte) == firstFolded : byte == first;
    if (candidate && EqualAt(text, offset, needle, mode)) return static_cast<int>(offset + 1);
    if (IsLeadByte(static_cast<unsigned char>(text[offset]))) {
      if (offset + 1 >= n) return -1;
      offset += 2;
    } else {
      offset += 1;
    }
  }
  return -1;
}

AnsiText PercentDecode(const AnsiText& text, Utf8 conversion) {
  AnsiText out;
  out.reserve(text.size());
  const std::size_t length = text.size();
  auto digit = [&](std::size_t index) -> int {
    if (index >= length) return 0;
    const unsigned char c = FoldAscii(static_cast<unsigned char>(text[index]));
    const auto position = kHexDigits.find(static_cast<char>(c));
    return position == std::string_view::npos ? -2 : static_cast<int>(position);
  };
  std::size_t i = 0;
  while (i < length) {
    if (text[i] != '%') {
      // Copy the run up to the next escape at once.
      std::size_t next = text.find('%', i);
      if (next == AnsiText::npos) next = length;
      out.append(text, i, next - i);
      i = next;
      continue;
    }
    const int value = digit(i + 1) * 16 + digit(i + 2);
    const auto byte = static_cast<unsigned char>(value & 0xFF);
    if (byte != 0) out.push_back(static_cast<char>(byte));
    i += 3;
  }
  return conversion == Utf8::ConvertToGbk ? Utf8ToGbk(out) : out;
}

AnsiText Utf8ToGbk(const AnsiText& text) {
  if (IsAscii(text)) return text.substr(0, text.find('\0'));
  return FromWideText(ToWideText(text, kCodePageUtf8), kCodePageGbk);
}

AnsiText GbkToUtf8(const AnsiText& text) {
  if (IsAscii(text)) return text.substr(0, text.find('\0'));
  return FromWideText(ToWideText(text, kCodePageGbk), kCodePageUtf8);
}

ByteBuffer ToWideText(const AnsiText& text, int codePage) {
  if (text.empty()) return {};
  if (codePage == kCodePageUtf8) return DecodeUtf8(text);
  const char* name = IconvName(codePage);
  if (name == nullptr) return {};
  return CodePageToWide(text, name);
}

AnsiText FromWideText(const ByteBuffer& wide, int codePage) {
  if (wide.size() < 2) return {};
  if (codePage == kCodePageUtf8) return EncodeUtf8(wide);
  const char* name = IconvName(codePage);
  if (name == nullptr) return {};
  return WideToCodePage(wide, name);
}

AnsiText ReplaceAll(const AnsiText& text, const AnsiText& from, const AnsiText& to) {
  if (from.empty()) return text;
  AnsiText out;
  int position = 1;
  while (true) {
    const int found = FindText(text, from, position);
    if (found == -1) break;
    out.append(text, static_cast<std::size_t>(position - 1),
               static_cast<std::size_t>(found - position));
    out.append(to);
    position = found + static_cast<int>(from.size());
  }
  if (static_cast<std::size_t>(position - 1) < text.size()) {
    out.append(text, static_cast<std::size_t>(position - 1));
  }
  return out;
}

AnsiText TextBetween(const AnsiText& text, const AnsiText& left, const AnsiText& right,
                     int start, Case mode) {
  const AnsiText& token = Texts().quoteToken;
  const auto expand = [&token](const AnsiText& marker) {
    return marker.find('#') == AnsiText::npos ? marker : ReplaceAll(marker, token, "\"");
  };
  const AnsiText leftMarker = expand(left);
  const AnsiText rightMarker = expand(right);
  int p = FindText(text, leftMarker, start, mode);
  if (p == -1) return {};
  p += static_cast<int>(leftMarker.size());
  const int q = FindText(text, rightMarker, p, mode);
  if (q == -1) return {};
  return text.substr(static_cast<std::size_t>(p - 1), static_cast<std::size_t>(q - p));
}

std::vector<AnsiText> SplitText(const AnsiText& text, const AnsiText& separator) {
  std::vector<AnsiText> pieces;
  if (text.empty()) return pieces;
  if (separator.empty()) {
    pieces.push_back(text);
    return pieces;
  }
  int position = 1;
  while (static_cast<std::size_t>(position - 1) < text.size()) {
    const int found = FindText(text, separator, position);
    if (found == -1) {
      pieces.push_back(text.substr(static_cast<std::size_t>(position - 1)));
      return pieces;
    }
    pieces.push_back(text.substr(static_cast<std::size_t>(position - 1),
                                 static_cast<std::size_t>(found - position)));
    position = found + static_cast<int>(separator.size());
  }
  return pieces;
}

AnsiText TrimSpaces(const AnsiText& text) {
  // Walks forward by whole characters, so that the trail byte of a double-byte character is
  // never taken for half of a full-width space.
  std::size_t begin = std::string::npos;
  std::size_t end = 0;
  std::size_t i = 0;
  while (i < text.size()) {
    const auto byte = static_cast<unsigned char>(text[i]);
    const std::size_t width = (IsLeadByte(byte) && i + 1 < text.size()) ? 2 : 1;
    const bool space = byte == ' ' || (width == 2 && byte == 0xA1 &&
                                       static_cast<unsigned char>(text[i + 1]) == 0xA1);
    if (!space) {
      if (begin == std::string::npos) begin = i;
      end = i + width;
    }
    i += width;
  }
  if (begin == std::string::npos) return {};
  return text.substr(begin, end - begin);
}

std::int32_t CountOccurrences(const AnsiText& text, const AnsiText& needle, Case mode) {
  if (text.empty() || needle.empty()) return 0;
  std::int32_t count = 0;
  int p = FindText(text, needle, 1, mode);
  while (p != -1) {
    ++count;
    p = FindText(text, needle, p + static_cast<int>(needle.size()), mode);
  }
  return count;
}

}  // namespace kestrova::intake
