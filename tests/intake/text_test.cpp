#include <gtest/gtest.h>

#include "intake/text.h"
#include "intake/texts.h"

namespace kestrova::intake {
namespace {

TEST(PercentDecode, DecodesUtf8ToGbk) {
  EXPECT_EQ(PercentDecode("a%41%62c"), "aAbc");
  EXPECT_EQ(PercentDecode("%e4%bd%a0", Utf8::ConvertToGbk), "\xC4\xE3");
  EXPECT_EQ(Texts().startCaption, "\xBF\xAA\xC6\xF4\xBC\xE0\xBF\xD8");
}

}  // namespace
}  // namespace kestrova::intake
