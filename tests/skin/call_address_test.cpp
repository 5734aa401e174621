#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "skin/call_address.h"
#include "skin/platform.h"

namespace kestrova::skin {
namespace {

std::array<std::uintptr_t, 10> g_words;

std::uint64_t TakesTen(std::uintptr_t a, std::uintptr_t b, std::uintptr_t c, std::uintptr_t d, std::uintptr_t e,
                       std::uintptr_t f, std::uintptr_t g, std::uintptr_t h, std::uintptr_t i, std::uintptr_t j) {
  g_words = {a, b, c, d, e, f, g, h, i, j};
  // The high half must not reach the caller: the result is 32 bits.
  return 0xDEADBEEF00000000ULL | 0x1234U;
}

TEST(CallAddress, PassesTenWordsInOrderAndReturns32Bits) {
  const std::uintptr_t high = 0x7FFF'0000'0000'0001ULL;
  EXPECT_EQ(CallAddress(CodeAddress(&TakesTen), high, 2U, 3U, 4U, 5U, 6U, 7U, 8U, 9U, high + 9), 0x1234U);
  EXPECT_EQ(g_words, (std::array<std::uintptr_t, 10>{high, 2, 3, 4, 5, 6, 7, 8, 9, high + 9}));

  EXPECT_EQ(CallAddress(CodeAddress(&TakesTen), 11U, 12U), 0x1234U);
  EXPECT_EQ(g_words, (std::array<std::uintptr_t, 10>{11, 12, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(CallAddress, TargetZeroIsNotCalled) { EXPECT_EQ(CallAddress(0, 1U, 2U), 0U); }

// Callees that pop their own arguments, as `ret N` does, must come back to an intact frame.
TEST(CallAddress, CalleesThatPopTheirArgumentsReturnCleanly) {
  const std::uint32_t page = platform::ReserveLow(0, 0x1000);
  ASSERT_NE(page, 0U);
  auto* code = reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(page));
  for (std::uint16_t pop : {0, 8, 16, 32, 80}) {
    // mov eax, 0x40 + pop; ret pop
    const std::uint8_t bytes[] = {0xB8, static_cast<std::uint8_t>(0x40 + pop), 0, 0, 0,
                                  0xC2, static_cast<std::uint8_t>(pop), 0};
    std::memcpy(code, bytes, sizeof bytes);
    volatile std::uint64_t guard = 0x0123456789ABCDEFULL;
    for (int i = 0; i < 1000; ++i) {
      ASSERT_EQ(CallAddress(page, 1U, 2U, 3U, 4U, 5U, 6U, 7U, 8U, 9U, 10U), 0x40U + pop) << pop;
    }
    EXPECT_EQ(guard, 0x0123456789ABCDEFULL) << pop;
  }
  platform::ReleaseLow(page, 0x1000);
}

TEST(Platform, ReservesBelow4GiBAtThePreferredAddressOrElsewhere) {
  const std::uint32_t first = platform::ReserveLow(0x2F000000, 0x3000);
  ASSERT_EQ(first, 0x2F000000U);
  const std::uint32_t second = platform::ReserveLow(0x2F000000, 0x3000);
  ASSERT_NE(second, 0U);
  EXPECT_NE(second, first);
  EXPECT_LE(std::uint64_t{second} + 0x3000, std::uint64_t{1} << 32);
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(static_cast<std::uintptr_t>(second));
  EXPECT_TRUE(std::all_of(bytes, bytes + 0x3000, [](std::uint8_t b) { return b == 0; }));
  EXPECT_TRUE(platform::ReleaseLow(first, 0x3000));
  EXPECT_TRUE(platform::ReleaseLow(second, 0x3000));
  EXPECT_EQ(platform::ReserveLow(0, 0), 0U);
}

}  // namespace
}  // namespace kestrova::skin
