#include <array>

#include "skin/pe_layout.h"
#include "skin/skin_theme.h"

namespace kestrova::skin {
namespace {

constexpr std::array<std::uint8_t, 4> kMagic = {'.', 'S', 'H', 'E'};
constexpr std::size_t kColourCount = 12;
constexpr std::size_t kColoursAt = 11;
constexpr std::size_t kFontSizeAt = kColoursAt + 3 * kColourCount;
constexpr std::size_t kFamilyLengthAt = kFontSizeAt + 2;
constexpr std::size_t kFamilyAt = kFamilyLengthAt + 1;
constexpr std::size_t kMaxFamily = 64;
constexpr std::uint16_t kMinPoints = 4;
constexpr std::uint16_t kMaxPoints = 96;

std::uint32_t Fnv1a(std::span<const std::uint8_t> bytes) {
  std::uint32_t hash = 2166136261U;
  for (std::uint8_t byte : bytes) {
    hash = (hash ^ byte) * 16777619U;
  }
  return hash;
}

bool FamilyCharacterAllowed(unsigned char c) {
  if (c < 0x20 || c > 0x7E) {
    return false;
  }
  switch (c) {
    case '"':
    case '\'':
    case '\\':
    case ';':
    case '{':
    case '}':
      return false;
    default:
      return true;
  }
}

bool FamilyAllowed(const std::string& family) {
  if (family.empty() || family.size() > kMaxFamily) {
    return false;
  }
  for (char c : family) {
    if (!FamilyCharacterAllowed(static_cast<unsigned char>(c))) {
      return false;
    }
  }
  return true;
}

std::array<SkinColours*, 6> PartsOf(SkinTheme& theme) {
  return {&theme.window, &theme.list, &theme.header, &theme.selection, &theme.button, &theme.statusBar};
}

}  // namespace

std::optional<SkinTheme> ParseSkin(std::span<const std::uint8_t> bytes) {
  if (bytes.size() < kFamilyAt + 1 + 4 || !std::equal(kMagic.begin(), kMagic.end(), bytes.begin())) {
    return std::nullopt;
  }
  const std::uint8_t* at = bytes.data();
  SkinTheme theme;
  theme.version = pe::ReadU16(at + 4);
  if (theme.version != kSkinVersion || pe::ReadU32(at + 6) != bytes.size() || at[10] != kColourCount) {
    return std::nullopt;
  }
  const std::size_t familyLength = at[kFamilyLengthAt];
  if (bytes.size() != kFamilyAt + familyLength + 4) {
    return std::nullopt;
  }
  if (pe::ReadU32(at + bytes.size() - 4) != Fnv1a(bytes.first(bytes.size() - 4))) {
    return std::nullopt;
  }
  std::size_t cursor = kColoursAt;
  for (SkinColours* part : PartsOf(theme)) {
    for (SkinColour* colour : {&part->background, &part->text}) {
      *colour = {at[cursor], at[cursor + 1], at[cursor + 2]};
      cursor += 3;
    }
  }
  theme.fontPointSize = pe::ReadU16(at + kFontSizeAt);
  theme.fontFamily.assign(reinterpret_cast<const char*>(at + kFamilyAt), familyLength);
  if (theme.fontPointSize < kMinPoints || theme.fontPointSize > kMaxPoints || !FamilyAllowed(theme.fontFamily)) {
    return std::nullopt;
  }
  return theme;
}

ByteBuffer EncodeSkin(const SkinTheme& theme) {
  if (!FamilyAllowed(theme.fontFamily) || theme.fontPointSize < kMinPoints || theme.fontPointSize > kMaxPoints) {
    return {};
  }
  ByteBuffer out(kFamilyAt + theme.fontFamily.size() + 4, 0);
  std::copy(kMagic.begin(), kMagic.end(), out.begin());
  pe::WriteU16(out.data() + 4, kSkinVersion);
  pe::WriteU32(out.data() + 6, static_cast<std::uint32_t>(out.size()));
  out[10] = kColourCount;
  std::size_t cursor = kColoursAt;
  SkinTheme copy = theme;
  for (SkinColours* part : PartsOf(copy)) {
    for (const SkinColour* colour : {&part->background, &part->text}) {
      out[cursor] = colour->red;
      out[cursor + 1] = colour->green;
      out[cursor + 2] = colour->blue;
      cursor += 3;
    }
  }
  pe::WriteU16(out.data() + kFontSizeAt, theme.fontPointSize);
  out[kFamilyLengthAt] = static_cast<std::uint8_t>(theme.fontFamily.size());
  std::copy(theme.fontFamily.begin(), theme.fontFamily.end(), out.begin() + kFamilyAt);
  pe::WriteU32(out.data() + out.size() - 4, Fnv1a(std::span(out).first(out.size() - 4)));
  return out;
}

}  // namespace kestrova::skin
