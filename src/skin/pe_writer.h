#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ports/types.h"

// A small writer of DLL images in the 32-bit PE layout, holding x86-64 code. It makes the skin
// library the program carries and every image the loader's tests feed it, so both come from
// one place. It lays the image out the way a linker would: headers, then .text, .data, .rdata
// (imports and exports) and .reloc, each at its own section-aligned RVA.
//
// Not thread-safe; one builder per image. Pure byte work, portable to any architecture.
namespace kestrova::skin::pe {

// A place inside the image being built. For `ImportSlot` the offset is the import's index, and
// the place is its 32-bit import address table entry.
enum class Area : std::uint8_t { Text, Data, ImportSlot };
struct Ref {
  Area area = Area::Text;
  std::uint32_t offset = 0;
};

// The finished bytes and where things ended up, so that tests can break one field on purpose.
struct BuiltImage {
  ByteBuffer bytes;
  std::uint32_t ntOffset = 0;
  std::uint32_t numberOfSections = 0;
  std::uint32_t textRva = 0;
  std::uint32_t dataRva = 0;
  std::uint32_t rdataRva = 0;
  std::uint32_t relocRva = 0;
  std::uint32_t exportDirectoryRva = 0;
  std::uint32_t importDirectoryRva = 0;
  std::vector<std::uint32_t> importSlotRvas;

  std::uint32_t RvaOf(Ref ref) const;
  std::size_t NtField(std::size_t fieldOffset) const { return ntOffset + fieldOffset; }
  std::size_t SectionField(std::size_t index, std::size_t fieldOffset) const;
  void PutU16(std::size_t offset, std::uint16_t value);
  void PutU32(std::size_t offset, std::uint32_t value);
  std::uint32_t GetU32(std::size_t offset) const;
};

class ImageBuilder {
 public:
  static constexpr std::uint32_t kDefaultImageBase = 0x10000000;

  explicit ImageBuilder(std::uint32_t imageBase = kDefaultImageBase);

  void SetCharacteristics(std::uint16_t characteristics) { m_characteristics = characteristics; }
  // Gives .data a VirtualSize above its raw size, the uninitialised tail the loader must zero.
  void SetDataVirtualSize(std::uint32_t size) { m_dataVirtualSize = size; }
  void SetExportName(std::string name) { m_exportName = std::move(name); }
  void SetExportBase(std::uint32_t base) { m_exportBase = base; }
  void SetEntryPoint(Ref where) { m_entryPoint = where; }

  Ref AddCode(std::span<const std::uint8_t> code);
  Ref AddData(std::span<const std::uint8_t> data);

  Ref ImportByName(const std::string& module, std::string function);
  Ref ImportByOrdinal(const std::string& module, std::uint16_t ordinal);

  // Writes the absolute address of `target` (ImageBase + its RVA) into the four bytes at `at`
  // and records a type-3 base relocation for them.
  void WriteAbsolute(Ref at, Ref target);
  // Records a bare relocation entry of any type at `at` without writing anything there.
  void AddRelocation(Ref at, std::uint16_t type);

  // Adds a function-table entry; its ordinal is the export base plus its index.
  void Export(std::string name, Ref target);
  void ExportUnnamed(Ref target);
  // A function-table entry whose RVA is 0, the hole an ordinal gap leaves.
  void ExportGap();

  // Code of a few bytes. Tail jump: `mov eax, <import entry>; mov eax, [rax]; jmp rax`, so the
  // callee gets the caller's registers and stack untouched. The absolute is relocated.
  Ref AddTailJump(Ref importSlot);
  // `sub rsp, 8; mov eax, <import entry>; mov eax, [rax]; call rax; add rsp, 8;
  //  mov eax, result; ret`: tells a host function, then answers `result` whatever it said.
  Ref AddCallThenReturn(Ref importSlot, std::uint32_t result);
  // `mov eax, value; ret` and `mov eax, value; ret popBytes`.
  Ref AddReturn(std::uint32_t value);
  Ref AddReturnPopping(std::uint32_t value, std::uint16_t popBytes);

  BuiltImage Build() const;

 private:
  struct Import {
    std::string module;
    std::optional<std::string> name;
    std::uint16_t ordinal = 0;
  };
  struct ExportEntry {
    std::optional<std::string> name;
    std::optional<Ref> target;
  };
  struct Fixup {
    Ref at;
    std::optional<Ref> target;  // none: a bare relocation entry
    std::uint16_t type = 3;
  };

  std::uint32_t m_imageBase;
  std::uint16_t m_characteristics;
  std::uint32_t m_sectionAlignment = 0x1000;
  std::uint32_t m_fileAlignment = 0x200;
  std::uint32_t m_dataVirtualSize = 0;
  std::string m_exportName;
  std::uint32_t m_exportBase = 1;
  std::optional<Ref> m_entryPoint;
  ByteBuffer m_text;
  ByteBuffer m_data;
  std::vector<Import> m_imports;
  std::vector<ExportEntry> m_exports;
  std::vector<Fixup> m_fixups;
};

}  // namespace kestrova::skin::pe
