#include <gtest/gtest.h>

#include <cstring>

#include "skin/call_address.h"
#include "skin/carried_skin.h"
#include "skin/host_modules.h"
#include "skin/pe_layout.h"
#include "skin/skin_attachment.h"
#include "skin/skin_engine.h"
#include "skin/skin_host_abi.h"
#include "skin/skin_library_build.h"

namespace kestrova::skin {
namespace {

// What a recording stand-in for our host module received.
struct Received {
  std::vector<std::uintptr_t> attachWords;
  int detaches = 0;
  std::vector<std::uintptr_t> events;
};
Received g_received;

std::uint32_t RecordAttach(std::uintptr_t a, std::uintptr_t b, std::uintptr_t c, std::uintptr_t d, std::uintptr_t e,
                           std::uintptr_t f) {
  g_received.attachWords = {a, b, c, d, e, f};
  return 0xA77AC4;
}
std::uint32_t RecordDetach() {
  ++g_received.detaches;
  return 0xDE7AC4;
}
std::uint32_t RecordEvent(std::uintptr_t instance, std::uintptr_t reason, std::uintptr_t reserved) {
  g_received.events.insert(g_received.events.end(), {instance, reason, reserved});
  return 1;
}

class RecordingEngine final : public SkinEngine {
 public:
  bool Apply(const SkinTheme& theme) override {
    applied.push_back(theme);
    return true;
  }
  void Remove() override { ++removes; }
  std::vector<SkinTheme> applied;
  int removes = 0;
};

// Puts a recording module in the place of ours for one test, and ours back afterwards.
class SkinAttachmentTest : public ::testing::Test {
 protected:
  void TearDown() override {
    InstallSkinEngine(nullptr);
    UnregisterHostModule(kSkinHostModuleName);
  }
  static void UseRecordingHost() {
    UnregisterHostModule(kSkinHostModuleName);
    g_received = {};
    ASSERT_TRUE(RegisterHostModule(kSkinHostModuleName,
                                   {{kHostApplySkin, 0, CodeAddress(&RecordAttach)},
                                    {kHostRemoveSkin, 0, CodeAddress(&RecordDetach)},
                                    {kHostLibraryEvent, kHostLibraryEventOrdinal, CodeAddress(&RecordEvent)}}));
  }
  static void UseOurHost() {
    UnregisterHostModule(kSkinHostModuleName);
    ClearSkinLibraryEvents();
  }
};

TEST_F(SkinAttachmentTest, CarriedBytesAreOurLibraryAndOurSkin) {
  const auto image = SkinLibraryImage();
  const pe::BuiltImage rebuilt = BuildSkinLibraryImage();
  ASSERT_EQ(ByteBuffer(image.begin(), image.end()), rebuilt.bytes) << "the build wrote what the writer makes";
  const std::uint16_t characteristics = pe::ReadU16(image.data() + rebuilt.NtField(pe::kNtCharacteristics));
  EXPECT_NE(characteristics & pe::kDll, 0);
  EXPECT_NE(pe::ReadU32(image.data() + rebuilt.NtField(pe::kNtDataDirectory + 8 * pe::kDirectoryRelocations + 4)), 0U);
  auto contains = [&](std::string_view text) {
    return std::search(image.begin(), image.end(), text.begin(), text.end()) != image.end();
  };
  EXPECT_TRUE(contains(kSkinHostModuleName));
  EXPECT_TRUE(contains(kSkinLibraryName));

  const auto skin = SkinData();
  ASSERT_GE(skin.size(), 4U);
  EXPECT_EQ(std::memcmp(skin.data(), ".SHE", 4), 0);
  EXPECT_EQ(ParseSkin(skin), CarriedSkinTheme());
}

TEST_F(SkinAttachmentTest, TheCarriedLibraryRunsEndToEndThroughTheHostModule) {
  UseRecordingHost();
  InMemoryLibrary skinModule;
  ASSERT_TRUE(LoadSkinLibrary(skinModule));
  EXPECT_FALSE(RegisterSkinHostModule()) << "the recording module stays in place";
  EXPECT_EQ(g_received.events, (std::vector<std::uintptr_t>{0, 1, 0}));
  EXPECT_NE(skinModule.FindExport(kExportAttach), 0U);
  EXPECT_NE(skinModule.FindExport(kExportDetach), 0U);

  const auto skin = SkinData();
  EXPECT_EQ(AttachSkin(skinModule, skin, {}), 0xA77AC4U);
  EXPECT_EQ(g_received.attachWords,
            (std::vector<std::uintptr_t>{reinterpret_cast<std::uintptr_t>(skin.data()), skin.size(), 0, 0, 0, 0}))
      << "the skin's own address, its exact length, a null password, three zero words";

  const AnsiText password = "secret";
  AttachSkin(skinModule, skin, password);
  EXPECT_EQ(g_received.attachWords[2], reinterpret_cast<std::uintptr_t>(password.c_str()));

  EXPECT_EQ(DetachSkin(skinModule), 0xDE7AC4U);
  EXPECT_EQ(g_received.detaches, 1);
  EXPECT_TRUE(skinModule.Unload());
  EXPECT_EQ(g_received.events, (std::vector<std::uintptr_t>{0, 1, 0, 0, 0, 0})) << "attach, then detach";
}

TEST_F(SkinAttachmentTest, OurHostModuleAppliesTheSkinThroughTheEngine) {
  UseOurHost();
  RecordingEngine engine;
  InstallSkinEngine(&engine);
  InMemoryLibrary skinModule;
  ASSERT_TRUE(LoadSkinLibrary(skinModule));
  EXPECT_EQ(SkinLibraryEvents(), std::vector<std::uint32_t>{1});

  EXPECT_EQ(AttachSkin(skinModule, SkinData(), {}), 1U);
  ASSERT_EQ(engine.applied.size(), 1U);
  EXPECT_EQ(engine.applied[0], CarriedSkinTheme());

  // A skin that does not parse is refused and never reaches the engine.
  ByteBuffer broken(SkinData().begin(), SkinData().end());
  broken[20] ^= 0xFF;
  EXPECT_EQ(AttachSkin(skinModule, broken, {}), 0U);
  EXPECT_EQ(engine.applied.size(), 1U);

  EXPECT_EQ(DetachSkin(skinModule), 1U);
  EXPECT_EQ(engine.removes, 1);
  EXPECT_TRUE(skinModule.Unload());
  EXPECT_EQ(SkinLibraryEvents(), (std::vector<std::uint32_t>{1, 0}));

  // Without an engine the host refuses rather than failing.
  InstallSkinEngine(nullptr);
  ASSERT_TRUE(LoadSkinLibrary(skinModule));
  EXPECT_EQ(AttachSkin(skinModule, SkinData(), {}), 0U);
  EXPECT_EQ(DetachSkin(skinModule), 1U);
}

TEST_F(SkinAttachmentTest, NoCallWithoutALoadedLibraryOrItsExports) {
  UseRecordingHost();
  InMemoryLibrary empty;
  EXPECT_EQ(AttachSkin(empty, SkinData(), {}), std::nullopt);
  EXPECT_EQ(DetachSkin(empty), std::nullopt);

  // A library that loads but lacks both exports.
  pe::ImageBuilder builder;
  builder.SetExportName(kSkinLibraryName);
  builder.Export("SomethingElse", builder.AddReturn(1));
  const pe::BuiltImage image = builder.Build();
  InMemoryLibrary other;
  ASSERT_TRUE(other.LoadFromMemory(image.bytes));
  EXPECT_EQ(AttachSkin(other, SkinData(), {}), std::nullopt);
  EXPECT_EQ(DetachSkin(other), std::nullopt);
  EXPECT_TRUE(g_received.attachWords.empty());
  EXPECT_EQ(g_received.detaches, 0);
}

}  // namespace
}  // namespace kestrova::skin
