#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "skin/call_address.h"
#include "skin/host_modules.h"
#include "skin/in_memory_library.h"
#include "skin/pe_layout.h"
#include "test_host.h"

namespace kestrova::skin {
namespace {

using pe::Area;
using pe::BuiltImage;
using pe::ImageBuilder;
using pe::Ref;
using test::EntryCall;
using test::EntryCalls;

const EntryCall kAttach{0, 1, 0};
const EntryCall kDetach{0, 0, 0};

std::uint8_t* Mapped(Address address) { return reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(address)); }

std::uint32_t MappedU32(Address address) { return pe::ReadU32(Mapped(address)); }

// A buffer of exactly `length` bytes, so the sanitizer sees any read past its end.
ByteBuffer Exactly(const ByteBuffer& bytes, std::size_t length) {
  return ByteBuffer(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min(length, bytes.size())));
}

class InMemoryLibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::EnsureTestHost();
    EntryCalls().clear();
  }
};

TEST_F(InMemoryLibraryTest, LoadsAtImageBaseRunsEntryAndUnloads) {
  constexpr std::uint32_t kBase = 0x21000000;
  ImageBuilder builder = test::RecordingDll(kBase);
  builder.Export("Answer", builder.AddReturn(42));
  const BuiltImage image = builder.Build();

  InMemoryLibrary library;
  ASSERT_TRUE(library.LoadFromMemory(image.bytes));
  EXPECT_EQ(library.BaseAddress(), kBase);
  EXPECT_EQ(EntryCalls(), std::vector<EntryCall>{kAttach});
  EXPECT_EQ(library.EntryAddress(), kBase + image.GetU32(image.NtField(pe::kNtAddressOfEntryPoint)));

  // The headers are copied to the start of the mapping, and the code answers through an export.
  EXPECT_EQ(std::memcmp(Mapped(kBase), image.bytes.data(), image.ntOffset + pe::kNtHeadersSize), 0);
  const Address answer = library.FindExport("Answer");
  ASSERT_NE(answer, 0U);
  EXPECT_EQ(CallAddress(answer), 42U);

  EXPECT_TRUE(library.Unload());
  EXPECT_EQ(library.BaseAddress(), 0U);
  EXPECT_EQ(EntryCalls(), (std::vector<EntryCall>{kAttach, kDetach}));
  EXPECT_TRUE(test::AddressFree(kBase));
}

TEST_F(InMemoryLibraryTest, RefusesBrokenImagesWithoutRunningOrKeepingAnything) {
  constexpr std::uint32_t kBase = 0x22000000;
  const BuiltImage good = [] {
    ImageBuilder builder = test::RecordingDll(kBase);
    builder.WriteAbsolute(builder.AddData(std::vector<std::uint8_t>(8, 0)), Ref{Area::Data, 4});
    return builder.Build();
  }();
  const std::size_t lastSection = good.numberOfSections - 1;
  const std::size_t relocRaw = good.GetU32(good.SectionField(lastSection, pe::kSectionPointerToRawData));
  auto directory = [&](std::size_t index, bool size) { return good.NtField(pe::kNtDataDirectory + 8 * index + (size ? 4 : 0)); };

  struct Case {
    const char* what;
    std::function<void(BuiltImage&)> breakIt;
  };
  const Case cases[] = {
      {"63 bytes", [](BuiltImage& i) { i.bytes = Exactly(i.bytes, 63); }},
      {"no MZ", [](BuiltImage& i) { i.bytes[0] = 'X'; }},
      {"ends inside the NT headers", [](BuiltImage& i) { i.bytes = Exactly(i.bytes, i.ntOffset + pe::kNtHeadersSize - 1); }},
      {"e_lfanew far beyond the end", [](BuiltImage& i) { i.PutU32(pe::kDosLfanew, 0xFFFFFFF0); }},
      {"ends inside the section table",
       [&](BuiltImage& i) { i.bytes = Exactly(i.bytes, i.SectionField(lastSection, pe::kSectionHeaderSize) - 1); }},
      {"signature PE\\0\\1", [](BuiltImage& i) { i.PutU32(i.ntOffset, 0x01004550); }},
      {"not an executable image",
       [](BuiltImage& i) { i.PutU16(i.NtField(pe::kNtCharacteristics), pe::kDll | pe::k32BitMachine); }},
      {"SectionAlignment 0", [](BuiltImage& i) { i.PutU32(i.NtField(pe::kNtSectionAlignment), 0); }},
      {"a mapping of 0 bytes",
       [](BuiltImage& i) {
         i.PutU16(i.NtField(pe::kNtNumberOfSections), 0);
         i.PutU32(i.NtField(pe::kNtSizeOfImage), 0);
       }},
      {"a mapping far too large", [](BuiltImage& i) { i.PutU32(i.NtField(pe::kNtSizeOfImage), 0x7FFFF000); }},
      {"raw data past the end of the buffer",
       [](BuiltImage& i) { i.PutU32(i.SectionField(0, pe::kSectionPointerToRawData), static_cast<std::uint32_t>(i.bytes.size())); }},
      {"relocation directory past the mapping", [&](BuiltImage& i) { i.PutU32(directory(5, true), 0x00100000); }},
      {"relocation target past the mapping", [&](BuiltImage& i) { i.PutU32(relocRaw, 0x00FFF000); }},
      {"import descriptors running off the mapping",
       [&](BuiltImage& i) { i.PutU32(directory(1, false), i.GetU32(i.NtField(pe::kNtSizeOfImage)) - 8); }},
      {"entry point outside the mapping", [](BuiltImage& i) { i.PutU32(i.NtField(pe::kNtAddressOfEntryPoint), 0x7FFFFFF0); }},
      {"an import nobody offers",
       [](BuiltImage& i) {
         ImageBuilder builder = test::RecordingDll(kBase);
         builder.ImportByName(test::kTestHost, "NoSuchFunction");
         i = builder.Build();
       }},
      {"an import by ordinal nobody offers",
       [](BuiltImage& i) {
         ImageBuilder builder = test::RecordingDll(kBase);
         builder.ImportByOrdinal(test::kTestHost, 13);
         i = builder.Build();
       }},
      {"a library nobody registered",
       [](BuiltImage& i) {
         ImageBuilder builder(kBase);
         builder.SetEntryPoint(builder.AddCallThenReturn(builder.ImportByName("no_such_host.dll", "RecordEntry"), 1));
         i = builder.Build();
       }},
  };
  for (const Case& c : cases) {
    BuiltImage image = good;
    c.breakIt(image);
    EntryCalls().clear();
    InMemoryLibrary library;
    EXPECT_FALSE(library.LoadFromMemory(image.bytes)) << c.what;
    EXPECT_EQ(library.BaseAddress(), 0U) << c.what;
    EXPECT_TRUE(EntryCalls().empty()) << c.what;
    EXPECT_TRUE(test::AddressFree(kBase)) << c.what;
  }

  InMemoryLibrary library;
  EXPECT_TRUE(library.LoadFromMemory(good.bytes)) << "the unbroken image loads";
}

TEST_F(InMemoryLibraryTest, AnImageWithoutSectionsMapsItsHeadersOnly) {
  ImageBuilder builder(0x23000000);
  builder.SetCharacteristics(pe::kExecutableImage | pe::k32BitMachine);
  const BuiltImage image = builder.Build();
  ASSERT_EQ(image.numberOfSections, 0U);

  InMemoryLibrary library;
  ASSERT_TRUE(library.LoadFromMemory(image.bytes));
  EXPECT_EQ(library.MappingSize(), image.GetU32(image.NtField(pe::kNtSizeOfImage)));
  const std::size_t headerBytes = image.ntOffset + pe::kNtHeadersSize;
  EXPECT_EQ(std::memcmp(Mapped(library.BaseAddress()), image.bytes.data(), headerBytes), 0);
  std::uint8_t* rest = Mapped(library.BaseAddress()) + headerBytes;
  EXPECT_TRUE(std::all_of(rest, Mapped(library.BaseAddress()) + library.MappingSize(), [](std::uint8_t b) { return b == 0; }));
}

TEST_F(InMemoryLibraryTest, SectionExtentsSizeTheMappingAndTheirTailsStayZero) {
  constexpr std::uint32_t kBase = 0x24000000;
  ImageBuilder builder(kBase);
  builder.SetCharacteristics(pe::kExecutableImage | pe::k32BitMachine);
  const std::uint8_t marker[] = {0xA1, 0xB2, 0xC3, 0xD4};
  builder.AddData(marker);
  builder.SetDataVirtualSize(0x2800);
  BuiltImage image = builder.Build();
  const std::uint32_t dataEnd = image.dataRva + 0x3000;  // 0x2800 aligned to the page
  ASSERT_EQ(image.GetU32(image.NtField(pe::kNtSizeOfImage)), dataEnd);

  InMemoryLibrary library;
  {
    // VirtualSize above SizeOfRawData: the raw bytes are copied and the rest is zero.
    ASSERT_TRUE(library.LoadFromMemory(image.bytes));
    EXPECT_EQ(library.MappingSize(), dataEnd);
    const std::uint8_t* data = Mapped(library.BaseAddress() + image.dataRva);
    EXPECT_EQ(std::memcmp(data, marker, sizeof marker), 0);
    EXPECT_TRUE(std::all_of(data + sizeof marker, data + 0x2800, [](std::uint8_t b) { return b == 0; }));
  }
  {
    // SizeOfImage too small: the mapping still reaches the section's aligned end.
    BuiltImage small = image;
    small.PutU32(small.NtField(pe::kNtSizeOfImage), 0x1000);
    ASSERT_TRUE(library.LoadFromMemory(small.bytes));
    EXPECT_EQ(library.MappingSize(), dataEnd);
  }
  {
    // SizeOfRawData 0: nothing copied, but the section still counts for the size.
    BuiltImage empty = image;
    empty.PutU32(empty.SectionField(0, pe::kSectionSizeOfRawData), 0);
    empty.PutU32(empty.NtField(pe::kNtSizeOfImage), 0x1000);
    ASSERT_TRUE(library.LoadFromMemory(empty.bytes));
    EXPECT_EQ(library.MappingSize(), dataEnd);
    EXPECT_EQ(MappedU32(library.BaseAddress() + image.dataRva), 0U);
  }
}

TEST_F(InMemoryLibraryTest, RelocatesByTheDeltaWhenImageBaseIsTaken) {
  constexpr std::uint32_t kBase = 0x25000000;
  ImageBuilder builder(kBase);
  builder.SetCharacteristics(pe::kExecutableImage | pe::k32BitMachine);
  const Ref words = builder.AddData(std::vector<std::uint8_t>{0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 0, 0, 0, 0});
  builder.WriteAbsolute(words, Ref{Area::Data, 8});
  builder.AddRelocation(Ref{Area::Data, 4}, pe::kRelocationAbsolute);
  const BuiltImage image = builder.Build();
  const std::uint32_t target = image.dataRva + 8;

  InMemoryLibrary first;
  ASSERT_TRUE(first.LoadFromMemory(image.bytes));
  ASSERT_EQ(first.BaseAddress(), kBase);
  EXPECT_EQ(MappedU32(kBase + image.dataRva), kBase + target) << "delta 0 at ImageBase";

  InMemoryLibrary second;
  ASSERT_TRUE(second.LoadFromMemory(image.bytes));
  const Address moved = second.BaseAddress();
  ASSERT_NE(moved, kBase);
  EXPECT_EQ(MappedU32(moved + image.dataRva), moved + target);
  EXPECT_EQ(MappedU32(moved + image.dataRva + 4), 0x11223344U) << "type 0 leaves memory untouched";

  // Without relocations the moved image's absolute addresses would be wrong: refused.
  BuiltImage stripped = image;
  stripped.PutU32(stripped.NtField(pe::kNtDataDirectory + 8 * pe::kDirectoryRelocations + 4), 0);
  InMemoryLibrary third;
  EXPECT_FALSE(third.LoadFromMemory(stripped.bytes));
  EXPECT_TRUE(first.Unload());
  EXPECT_TRUE(third.LoadFromMemory(stripped.bytes)) << "at its ImageBase it needs none";
}

struct ResolverCall {
  std::string library;
  std::string name;
  std::uintptr_t userValue = 0;
};
std::vector<ResolverCall> g_resolverCalls;
std::uint32_t g_resolverAnswer = 0;

std::uint32_t Resolver(const char* library, const char* name, std::uintptr_t userValue) {
  g_resolverCalls.push_back({library, name, userValue});
  return g_resolverAnswer;
}

TEST_F(InMemoryLibraryTest, BindsImportsByNameAndOrdinalThroughResolverAndRegistry) {
  ImageBuilder builder(0x26000000);
  const Ref byName = builder.ImportByName(test::kTestHost, "RecordEntry");
  const Ref byOrdinal = builder.ImportByOrdinal(test::kTestHost, test::kRecordEntryOrdinal);
  builder.SetEntryPoint(builder.AddCallThenReturn(byOrdinal, 1));
  const BuiltImage image = builder.Build();
  const std::uint32_t expected = HostProcAddress(test::TestHostHandle(), "RecordEntry");

  // The resolver is asked first, with the decimal text for an ordinal, and its 0 leaves the
  // import to the registry.
  g_resolverCalls.clear();
  g_resolverAnswer = 0;
  InMemoryLibrary library;
  ASSERT_TRUE(library.LoadFromMemory(image.bytes, CodeAddress(&Resolver), 0xC0FFEE));
  ASSERT_EQ(g_resolverCalls.size(), 2U);
  EXPECT_EQ(g_resolverCalls[0].library, test::kTestHost);
  EXPECT_EQ(g_resolverCalls[0].name, "RecordEntry");
  EXPECT_EQ(g_resolverCalls[1].name, "12");
  EXPECT_EQ(g_resolverCalls[1].userValue, 0xC0FFEEU);
  EXPECT_EQ(MappedU32(library.BaseAddress() + image.RvaOf(byName)), expected);
  EXPECT_EQ(MappedU32(library.BaseAddress() + image.RvaOf(byOrdinal)), expected);
  EXPECT_EQ(EntryCalls(), std::vector<EntryCall>{kAttach}) << "called through the ordinal import";

  // A resolver's answer wins, and covers a library nobody registered.
  ImageBuilder unknown(0x26800000);
  const Ref missing = unknown.ImportByOrdinal("not_registered.dll", 7);
  const BuiltImage unknownImage = unknown.Build();
  g_resolverAnswer = expected;
  g_resolverCalls.clear();
  InMemoryLibrary other;
  ASSERT_TRUE(other.LoadFromMemory(unknownImage.bytes, CodeAddress(&Resolver)));
  EXPECT_EQ(MappedU32(other.BaseAddress() + unknownImage.RvaOf(missing)), expected);
  ASSERT_EQ(g_resolverCalls.size(), 1U);
  EXPECT_EQ(g_resolverCalls[0].library, "not_registered.dll");
  EXPECT_EQ(g_resolverCalls[0].name, "7");
}

TEST_F(InMemoryLibraryTest, AnEntryPointThatRefusesGetsDetachAndTheLoadFails) {
  constexpr std::uint32_t kBase = 0x27000000;
  const BuiltImage image = test::RecordingDll(kBase, 0).Build();
  InMemoryLibrary library;
  EXPECT_FALSE(library.LoadFromMemory(image.bytes));
  EXPECT_EQ(library.BaseAddress(), 0U);
  EXPECT_EQ(EntryCalls(), (std::vector<EntryCall>{kAttach, kDetach}));
  EXPECT_TRUE(test::AddressFree(kBase));
}

TEST_F(InMemoryLibraryTest, EntryPointsThatAreNotCalled) {
  // No DLL bit, AddressOfEntryPoint 0, or a caller that forbids it: mapped, never run.
  BuiltImage noDll = test::RecordingDll(0x28000000).Build();
  noDll.PutU16(noDll.NtField(pe::kNtCharacteristics), pe::kExecutableImage | pe::k32BitMachine);
  BuiltImage noEntry = test::RecordingDll(0x28000000).Build();
  noEntry.PutU32(noEntry.NtField(pe::kNtAddressOfEntryPoint), 0);
  const BuiltImage forbidden = test::RecordingDll(0x28000000).Build();

  InMemoryLibrary library;
  ASSERT_TRUE(library.LoadFromMemory(noDll.bytes));
  ASSERT_TRUE(library.LoadFromMemory(noEntry.bytes));
  ASSERT_TRUE(library.LoadFromMemory(forbidden.bytes, 0, 0, EntryPointCalls::Skip));
  EXPECT_TRUE(library.Unload());
  EXPECT_TRUE(EntryCalls().empty());
}

TEST_F(InMemoryLibraryTest, FindsExportsByExactNameAndByOrdinalText) {
  ImageBuilder builder(0x29000000);
  builder.SetCharacteristics(pe::kExecutableImage | pe::k32BitMachine);
  builder.SetExportBase(5);
  const Ref code = builder.AddReturn(0);
  // Function-table indexes: 0 "SkinH_AttachRes", 1 gap, 2 "SkinH_Detach", 3 unnamed, then
  // texts that look like numbers but are names.
  builder.Export("SkinH_AttachRes", Ref{Area::Text, code.offset});
  builder.ExportGap();
  builder.Export("SkinH_Detach", Ref{Area::Text, code.offset + 1});
  builder.ExportUnnamed(Ref{Area::Text, code.offset + 2});
  const char* numberLike[] = {"05", "+5", " 5", "5a", "", "-2"};
  for (std::uint32_t i = 0; i < std::size(numberLike); ++i) {
    builder.Export(numberLike[i], Ref{Area::Text, code.offset + 3 + i});
  }
  const BuiltImage image = builder.Build();
  InMemoryLibrary library;
  ASSERT_TRUE(library.LoadFromMemory(image.bytes));
  const Address text = library.BaseAddress() + image.RvaOf(code);

  struct Case {
    const char* name;
    std::int64_t offsetFromCode;  // -1: not found
  };
  const Case cases[] = {
      {"SkinH_AttachRes", 0}, {"SkinH_Detach", 1}, {"skinh_detach", -1}, {"SkinH_Detach ", -1}, {"Missing", -1},
      {"5", 0},               {"6", -1},           {"7", 1},             {"8", 2},              {"4", -1},
      {"2147483647", -1},     {"-2", -1},          {"05", 3},            {"+5", 4},             {" 5", 5},
      {"5a", 6},              {"", 7},
  };
  for (const Case& c : cases) {
    const Address expected = c.offsetFromCode < 0 ? 0 : text + static_cast<Address>(c.offsetFromCode);
    EXPECT_EQ(library.FindExport(c.name), expected) << '"' << c.name << '"';
  }
}

TEST(OrdinalText, OnlyTheDecimalTextOfAnInt32IsAnOrdinal) {
  EXPECT_EQ(OrdinalOf("5"), 5);
  EXPECT_EQ(OrdinalOf("-2"), -2);
  EXPECT_EQ(OrdinalOf("0"), 0);
  EXPECT_EQ(OrdinalOf("-2147483648"), INT32_MIN);
  for (const char* name : {"05", "+5", " 5", "5 ", "5a", "", "-", "-0", "2147483648", "99999999999"}) {
    EXPECT_FALSE(OrdinalOf(name)) << '"' << name << '"';
  }
}

TEST(AlignUpRoutine, RoundsUpWithoutOverflowAndRefusesZero) {
  EXPECT_EQ(AlignUp(0, 0x1000), 0U);
  EXPECT_EQ(AlignUp(1, 0x1000), 0x1000U);
  EXPECT_EQ(AlignUp(0x1000, 0x1000), 0x1000U);
  EXPECT_EQ(AlignUp(0xFFFFFFFF, 0x1000), 0x100000000ULL);
  EXPECT_EQ(AlignUp(7, 3), 9U);
  EXPECT_FALSE(AlignUp(5, 0));
}

TEST_F(InMemoryLibraryTest, StateTable) {
  InMemoryLibrary empty;
  EXPECT_TRUE(empty.Unload()) << "unload of an empty object";
  EXPECT_EQ(empty.BaseAddress(), 0U);
  EXPECT_EQ(empty.EntryAddress(), 0U);
  EXPECT_EQ(empty.FindExport("SkinH_Detach"), 0U);

  // Loading over a loaded object detaches and releases the old image first; a failed second
  // load leaves the object empty.
  constexpr std::uint32_t kFirst = 0x2A000000;
  const BuiltImage first = test::RecordingDll(kFirst).Build();
  const BuiltImage refusing = test::RecordingDll(0x2A800000, 0).Build();
  InMemoryLibrary library;
  ASSERT_TRUE(library.LoadFromMemory(first.bytes));
  EXPECT_FALSE(library.LoadFromMemory(refusing.bytes));
  EXPECT_EQ(library.BaseAddress(), 0U);
  EXPECT_EQ(EntryCalls(), (std::vector<EntryCall>{kAttach, kDetach, kAttach, kDetach}));
  EXPECT_TRUE(test::AddressFree(kFirst));

  // Unload fails, and keeps the mapping, when the headers at the base are no longer intact.
  ASSERT_TRUE(library.LoadFromMemory(first.bytes));
  const Address base = library.BaseAddress();
  Mapped(base)[0] = 'X';
  EXPECT_FALSE(library.Unload());
  EXPECT_EQ(library.BaseAddress(), base);
  Mapped(base)[0] = 'M';
  EXPECT_TRUE(library.Unload());
}

TEST_F(InMemoryLibraryTest, CopiesShareOneMappingReleasedByTheLastHolder) {
  const BuiltImage image = test::RecordingDll(0x2B000000).Build();
  InMemoryLibrary original;
  ASSERT_TRUE(original.LoadFromMemory(image.bytes));
  InMemoryLibrary copy = original.Copy();
  EXPECT_EQ(copy.BaseAddress(), original.BaseAddress());
  EXPECT_TRUE(original.Unload());
  EXPECT_EQ(original.BaseAddress(), 0U);
  EXPECT_NE(copy.EntryAddress(), 0U) << "the copy still holds the mapping";
  EXPECT_EQ(EntryCalls(), std::vector<EntryCall>{kAttach});
  EXPECT_TRUE(copy.Unload());
  EXPECT_EQ(EntryCalls(), (std::vector<EntryCall>{kAttach, kDetach}));
}

TEST_F(InMemoryLibraryTest, ExportTablesOutsideTheMappingFindNothing) {
  ImageBuilder builder(0x2C000000);
  builder.SetCharacteristics(pe::kExecutableImage | pe::k32BitMachine);
  builder.Export("Name", builder.AddReturn(0));
  const BuiltImage image = builder.Build();
  const std::size_t directoryAt = image.GetU32(image.SectionField(1, pe::kSectionPointerToRawData)) +
                                  (image.exportDirectoryRva - image.rdataRva);
  struct Case {
    const char* what;
    std::size_t field;
    std::uint32_t value;
    bool ordinalStillFound;
  };
  const Case cases[] = {
      {"directory", image.NtField(pe::kNtDataDirectory), 0x7FFFFFF0, false},
      {"function table", directoryAt + pe::kExportAddressOfFunctions, 0x7FFFFFF0, false},
      {"name pointers", directoryAt + pe::kExportAddressOfNames, 0x7FFFFFF0, true},
      {"name ordinals", directoryAt + pe::kExportAddressOfNameOrdinals, 0x7FFFFFF0, true},
      // The name walk runs on into the zeros after the last name and must stop at the end.
      {"count of names", directoryAt + pe::kExportNumberOfNames, 0xFFFFFFFF, true},
  };
  for (const Case& c : cases) {
    BuiltImage broken = image;
    broken.PutU32(c.field, c.value);
    InMemoryLibrary library;
    ASSERT_TRUE(library.LoadFromMemory(broken.bytes)) << c.what;
    EXPECT_EQ(library.FindExport("Nope"), 0U) << c.what;
    if (c.field != directoryAt + pe::kExportNumberOfNames) {
      EXPECT_EQ(library.FindExport("Name"), 0U) << c.what;
    }
    EXPECT_EQ(library.FindExport("1"), c.ordinalStillFound ? library.BaseAddress() + image.textRva : 0U) << c.what;
  }
}

}  // namespace
}  // namespace kestrova::skin
