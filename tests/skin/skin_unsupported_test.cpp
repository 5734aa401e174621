#include <gtest/gtest.h>

#include "skin/carried_skin.h"
#include "skin/skin_attachment.h"

namespace kestrova::skin {
namespace {

// Where the library's code cannot run, the load fails softly and nothing is called.
TEST(SkinWithoutPlatform, LoadFailsSoftlyAndNothingIsCalled) {
  InMemoryLibrary skinModule;
  EXPECT_FALSE(LoadSkinLibrary(skinModule));
  EXPECT_EQ(skinModule.BaseAddress(), 0U);
  EXPECT_EQ(AttachSkin(skinModule, SkinData(), {}), std::nullopt);
  EXPECT_EQ(DetachSkin(skinModule), std::nullopt);
  EXPECT_TRUE(skinModule.Unload());
}

}  // namespace
}  // namespace kestrova::skin
