#include "skin/pe_writer.h"

#include <algorithm>
#include <map>

#include "skin/pe_layout.h"

namespace kestrova::skin::pe {
namespace {

constexpr std::uint32_t kNtOffset = 0x80;

std::uint32_t AlignTo(std::uint32_t value, std::uint32_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}

void Append(ByteBuffer& out, std::span<const std::uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}

void AppendU16(ByteBuffer& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void AppendU32(ByteBuffer& out, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  }
}

void AppendText(ByteBuffer& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
}

void PadTo(ByteBuffer& out, std::size_t multiple) {
  while (out.size() % multiple != 0) {
    out.push_back(0);
  }
}

struct SectionPlan {
  std::string name;
  std::uint32_t rva = 0;
  std::uint32_t virtualSize = 0;
  ByteBuffer raw;
  std::uint32_t characteristics = 0;
};

}  // namespace

std::uint32_t BuiltImage::RvaOf(Ref ref) const {
  switch (ref.area) {
    case Area::Text:
      return textRva + ref.offset;
    case Area::Data:
      return dataRva + ref.offset;
    case Area::ImportSlot:
      return ref.offset < importSlotRvas.size() ? importSlotRvas[ref.offset] : 0;
  }
  return 0;
}

std::size_t BuiltImage::SectionField(std::size_t index, std::size_t fieldOffset) const {
  return ntOffset + kNtHeadersSize + index * kSectionHeaderSize + fieldOffset;
}

void BuiltImage::PutU16(std::size_t offset, std::uint16_t value) {
  if (offset + 2 <= bytes.size()) {
    WriteU16(bytes.data() + offset, value);
  }
}

void BuiltImage::PutU32(std::size_t offset, std::uint32_t value) {
  if (offset + 4 <= bytes.size()) {
    WriteU32(bytes.data() + offset, value);
  }
}

std::uint32_t BuiltImage::GetU32(std::size_t offset) const {
  return offset + 4 <= bytes.size() ? ReadU32(bytes.data() + offset) : 0;
}

ImageBuilder::ImageBuilder(std::uint32_t imageBase)
    : m_imageBase(imageBase), m_characteristics(kExecutableImage | k32BitMachine | kDll) {}

Ref ImageBuilder::AddCode(std::span<const std::uint8_t> code) {
  // Sixteen-byte starts keep every routine aligned as a compiler would place it.
  PadTo(m_text, 16);
  const Ref where{Area::Text, static_cast<std::uint32_t>(m_text.size())};
  Append(m_text, code);
  return where;
}

Ref ImageBuilder::AddData(std::span<const std::uint8_t> data) {
  PadTo(m_data, 4);
  const Ref where{Area::Data, static_cast<std::uint32_t>(m_data.size())};
  Append(m_data, data);
  return where;
}

Ref ImageBuilder::ImportByName(const std::string& module, std::string function) {
  m_imports.push_back({module, std::move(function), 0});
  return {Area::ImportSlot, static_cast<std::uint32_t>(m_imports.size() - 1)};
}

Ref ImageBuilder::ImportByOrdinal(const std::string& module, std::uint16_t ordinal) {
  m_imports.push_back({module, std::nullopt, ordinal});
  return {Area::ImportSlot, static_cast<std::uint32_t>(m_imports.size() - 1)};
}

void ImageBuilder::WriteAbsolute(Ref at, Ref target) {
  m_fixups.push_back({at, target, kRelocationHighLow});
}

void ImageBuilder::AddRelocation(Ref at, std::uint16_t type) {
  m_fixups.push_back({at, std::nullopt, type});
}

void ImageBuilder::Export(std::string name, Ref target) {
  m_exports.push_back({std::move(name), target});
}

void ImageBuilder::ExportUnnamed(Ref target) { m_exports.push_back({std::nullopt, target}); }

void ImageBuilder::ExportGap() { m_exports.push_back({std::nullopt, std::nullopt}); }

Ref ImageBuilder::AddTailJump(Ref importSlot) {
  const std::uint8_t code[] = {0xB8, 0, 0, 0, 0,  // mov eax, imm32 (the import entry's address)
                               0x8B, 0x00,        // mov eax, [rax]
                               0xFF, 0xE0};       // jmp rax
  const Ref where = AddCode(code);
  WriteAbsolute({Area::Text, where.offset + 1}, importSlot);
  return where;
}

Ref ImageBuilder::AddCallThenReturn(Ref importSlot, std::uint32_t result) {
  std::uint8_t code[] = {0x48, 0x83, 0xEC, 0x08,  // sub rsp, 8 (realign for the call)
                         0xB8, 0,    0,    0,    0,  // mov eax, imm32
                         0x8B, 0x00,                 // mov eax, [rax]
                         0xFF, 0xD0,                 // call rax
                         0x48, 0x83, 0xC4, 0x08,     // add rsp, 8
                         0xB8, 0,    0,    0,    0,  // mov eax, result
                         0xC3};                      // ret
  WriteU32(code + 18, result);
  const Ref where = AddCode(code);
  WriteAbsolute({Area::Text, where.offset + 5}, importSlot);
  return where;
}

Ref ImageBuilder::AddReturn(std::uint32_t value) {
  std::uint8_t code[] = {0xB8, 0, 0, 0, 0, 0xC3};
  WriteU32(code + 1, value);
  return AddCode(code);
}

Ref ImageBuilder::AddReturnPopping(std::uint32_t value, std::uint16_t popBytes) {
  std::uint8_t code[] = {0xB8, 0, 0, 0, 0, 0xC2, 0, 0};
  WriteU32(code + 1, value);
  WriteU16(code + 6, popBytes);
  return AddCode(code);
}

BuiltImage ImageBuilder::Build() const {
  BuiltImage image;
  image.ntOffset = kNtOffset;

  const bool hasText = !m_text.empty();
  const bool hasData = !m_data.empty() || m_dataVirtualSize > 0;
  const bool hasRdata = !m_imports.empty() || !m_exports.empty() || !m_exportName.empty();
  const bool hasReloc = !m_fixups.empty();
  const std::uint32_t sectionCount = (hasText ? 1U : 0U) + (hasData ? 1U : 0U) +
                                     (hasRdata ? 1U : 0U) + (hasReloc ? 1U : 0U);
  image.numberOfSections = sectionCount;

  const std::uint32_t headerBytes =
      kNtOffset + static_cast<std::uint32_t>(kNtHeadersSize + kSectionHeaderSize * sectionCount);
  const std::uint32_t sizeOfHeaders = AlignTo(headerBytes, m_fileAlignment);
  std::uint32_t nextRva = AlignTo(sizeOfHeaders, m_sectionAlignment);

  std::vector<SectionPlan> sections;
  auto place = [&](SectionPlan plan) {
    plan.rva = nextRva;
    nextRva = AlignTo(plan.rva + std::max<std::uint32_t>(plan.virtualSize, 1), m_sectionAlignment);
    sections.push_back(std::move(plan));
    return sections.back().rva;
  };

  ByteBuffer text = m_text;
  ByteBuffer data = m_data;
  if (hasText) {
    image.textRva = place({".text", 0, static_cast<std::uint32_t>(text.size()), {}, 0x60000020});
  }
  if (hasData) {
    const auto size = std::max<std::uint32_t>(static_cast<std::uint32_t>(data.size()), m_dataVirtualSize);
    image.dataRva = place({".data", 0, size, {}, 0xC0000040});
  }

  // .rdata: import descriptors, lookup and address tables, hint/name entries, library names,
  // then the export directory with its tables and names.
  std::uint32_t importDirectorySize = 0;
  std::uint32_t iatRva = 0;
  std::uint32_t iatSize = 0;
  std::uint32_t exportDirectorySize = 0;
  ByteBuffer rdata;
  if (hasRdata) {
    const std::uint32_t rdataRva = nextRva;
    image.rdataRva = rdataRva;
    image.importSlotRvas.assign(m_imports.size(), 0);

    std::vector<std::string> modules;
    std::vector<std::vector<std::size_t>> importsOf;
    for (std::size_t i = 0; i < m_imports.size(); ++i) {
      auto found = std::find(modules.begin(), modules.end(), m_imports[i].module);
      if (found == modules.end()) {
        modules.push_back(m_imports[i].module);
        importsOf.emplace_back();
        found = modules.end() - 1;
      }
      importsOf[static_cast<std::size_t>(found - modules.begin())].push_back(i);
    }

    if (!modules.empty()) {
      image.importDirectoryRva = rdataRva;
      importDirectorySize = static_cast<std::uint32_t>((modules.size() + 1) * kImportDescriptorSize);
      // Positions first, bytes after: every table's RVA is known before anything is written.
      std::uint32_t cursor = rdataRva + importDirectorySize;
      std::vector<std::uint32_t> lookupRva(modules.size());
      std::vector<std::uint32_t> addressRva(modules.size());
      for (std::size_t m = 0; m < modules.size(); ++m) {
        lookupRva[m] = cursor;
        cursor += static_cast<std::uint32_t>((importsOf[m].size() + 1) * 4);
      }
      iatRva = cursor;
      for (std::size_t m = 0; m < modules.size(); ++m) {
        addressRva[m] = cursor;
        for (std::size_t k = 0; k < importsOf[m].size(); ++k) {
          image.importSlotRvas[importsOf[m][k]] = cursor + static_cast<std::uint32_t>(4 * k);
        }
        cursor += static_cast<std::uint32_t>((importsOf[m].size() + 1) * 4);
      }
      iatSize = cursor - iatRva;
      std::vector<std::uint32_t> entryOf(m_imports.size());
      for (std::size_t i = 0; i < m_imports.size(); ++i) {
        if (m_imports[i].name) {
          entryOf[i] = cursor;
          cursor += static_cast<std::uint32_t>(2 + m_imports[i].name->size() + 1);
          cursor += cursor % 2;
        } else {
          entryOf[i] = kImportByOrdinal | m_imports[i].ordinal;
        }
      }
      std::vector<std::uint32_t> moduleNameRva(modules.size());
      for (std::size_t m = 0; m < modules.size(); ++m) {
        moduleNameRva[m] = cursor;
        cursor += static_cast<std::uint32_t>(modules[m].size() + 1);
      }

      for (std::size_t m = 0; m < modules.size(); ++m) {
        AppendU32(rdata, lookupRva[m]);
        AppendU32(rdata, 0);
        AppendU32(rdata, 0);
        AppendU32(rdata, moduleNameRva[m]);
        AppendU32(rdata, addressRva[m]);
      }
      rdata.resize(rdata.size() + kImportDescriptorSize, 0);
      for (int table = 0; table < 2; ++table) {
        for (std::size_t m = 0; m < modules.size(); ++m) {
          for (std::size_t i : importsOf[m]) {
            AppendU32(rdata, entryOf[i]);
          }
          AppendU32(rdata, 0);
        }
      }
      for (const Import& import : m_imports) {
        if (import.name) {
          AppendU16(rdata, 0);
          AppendText(rdata, *import.name);
          PadTo(rdata, 2);
        }
      }
      for (const std::string& module : modules) {
        AppendText(rdata, module);
      }
      PadTo(rdata, 4);
    }

    if (!m_exports.empty() || !m_exportName.empty()) {
      // Names go out sorted and back to back, as linkers write them; the loader's name walk
      // relies on the second of these.
      std::vector<std::size_t> named;
      for (std::size_t i = 0; i < m_exports.size(); ++i) {
        if (m_exports[i].name) {
          named.push_back(i);
        }
      }
      std::sort(named.begin(), named.end(),
                [&](std::size_t a, std::size_t b) { return *m_exports[a].name < *m_exports[b].name; });
      const std::uint32_t directoryRva = rdataRva + static_cast<std::uint32_t>(rdata.size());
      image.exportDirectoryRva = directoryRva;
      const std::uint32_t functionsRva = directoryRva + kExportDirectorySize;
      const std::uint32_t namesRva = functionsRva + static_cast<std::uint32_t>(4 * m_exports.size());
      const std::uint32_t ordinalsRva = namesRva + static_cast<std::uint32_t>(4 * named.size());
      const std::uint32_t libraryNameRva = ordinalsRva + static_cast<std::uint32_t>(2 * named.size());
      std::uint32_t nameCursor = libraryNameRva + static_cast<std::uint32_t>(m_exportName.size() + 1);

      AppendU32(rdata, 0);
      AppendU32(rdata, 0);
      AppendU32(rdata, 0);
      AppendU32(rdata, libraryNameRva);
      AppendU32(rdata, m_exportBase);
      AppendU32(rdata, static_cast<std::uint32_t>(m_exports.size()));
      AppendU32(rdata, static_cast<std::uint32_t>(named.size()));
      AppendU32(rdata, functionsRva);
      AppendU32(rdata, namesRva);
      AppendU32(rdata, ordinalsRva);
      for (const ExportEntry& entry : m_exports) {
        AppendU32(rdata, entry.target ? image.RvaOf(*entry.target) : 0);
      }
      for (std::size_t i : named) {
        AppendU32(rdata, nameCursor);
        nameCursor += static_cast<std::uint32_t>(m_exports[i].name->size() + 1);
      }
      for (std::size_t i : named) {
        AppendU16(rdata, static_cast<std::uint16_t>(i));
      }
      AppendText(rdata, m_exportName);
      for (std::size_t i : named) {
        AppendText(rdata, *m_exports[i].name);
      }
      exportDirectorySize = rdataRva + static_cast<std::uint32_t>(rdata.size()) - directoryRva;
      PadTo(rdata, 4);
    }
    place({".rdata", 0, static_cast<std::uint32_t>(rdata.size()), {}, 0x40000040});
  }

  // Fix-ups into the code and data, and the relocation entries that let the loader move them.
  std::vector<std::pair<std::uint32_t, std::uint16_t>> relocations;
  for (const Fixup& fixup : m_fixups) {
    const std::uint32_t rva = image.RvaOf(fixup.at);
    relocations.emplace_back(rva, fixup.type);
    if (!fixup.target) {
      continue;
    }
    ByteBuffer* area = fixup.at.area == Area::Text ? &text : fixup.at.area == Area::Data ? &data : nullptr;
    if (area != nullptr && fixup.at.offset + 4 <= area->size()) {
      WriteU32(area->data() + fixup.at.offset, m_imageBase + image.RvaOf(*fixup.target));
    }
  }
  std::uint32_t relocSize = 0;
  ByteBuffer reloc;
  if (hasReloc) {
    std::stable_sort(relocations.begin(), relocations.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::map<std::uint32_t, std::vector<std::uint16_t>> pages;
    for (const auto& [rva, type] : relocations) {
      pages[rva & ~0xFFFU].push_back(static_cast<std::uint16_t>((type << 12) | (rva & 0xFFF)));
    }
    for (auto& [page, entries] : pages) {
      // Blocks stay a multiple of four bytes long; the filler is a type-0 entry.
      if (entries.size() % 2 != 0) {
        entries.push_back(0);
      }
      AppendU32(reloc, page);
      AppendU32(reloc, static_cast<std::uint32_t>(8 + 2 * entries.size()));
      for (std::uint16_t entry : entries) {
        AppendU16(reloc, entry);
      }
    }
    relocSize = static_cast<std::uint32_t>(reloc.size());
    image.relocRva = place({".reloc", 0, relocSize, {}, 0x42000040});
  }

  for (SectionPlan& section : sections) {
    if (section.name == ".text") {
      section.raw = text;
    } else if (section.name == ".data") {
      section.raw = data;
    } else if (section.name == ".rdata") {
      section.raw = rdata;
    } else {
      section.raw = reloc;
    }
  }
  const std::uint32_t sizeOfImage = AlignTo(std::max(nextRva, sizeOfHeaders), m_sectionAlignment);

  ByteBuffer& out = image.bytes;
  out.assign(sizeOfHeaders, 0);
  WriteU16(out.data(), kDosMagic);
  WriteU32(out.data() + kDosLfanew, kNtOffset);
  std::uint8_t* nt = out.data() + kNtOffset;
  WriteU32(nt, kNtSignature);
  WriteU16(nt + kNtMachine, 0x014C);
  WriteU16(nt + kNtNumberOfSections, static_cast<std::uint16_t>(sectionCount));
  WriteU16(nt + kNtSizeOfOptionalHeader, 224);
  WriteU16(nt + kNtCharacteristics, m_characteristics);
  WriteU16(nt + kNtMagic, 0x010B);
  WriteU32(nt + kNtSizeOfCode, AlignTo(static_cast<std::uint32_t>(text.size()), m_fileAlignment));
  WriteU32(nt + kNtAddressOfEntryPoint, m_entryPoint ? image.RvaOf(*m_entryPoint) : 0);
  WriteU32(nt + kNtBaseOfCode, image.textRva);
  WriteU32(nt + kNtImageBase, m_imageBase);
  WriteU32(nt + kNtSectionAlignment, m_sectionAlignment);
  WriteU32(nt + kNtFileAlignment, m_fileAlignment);
  WriteU16(nt + kNtMajorSubsystemVersion, 5);
  WriteU32(nt + kNtSizeOfImage, sizeOfImage);
  WriteU32(nt + kNtSizeOfHeaders, sizeOfHeaders);
  WriteU16(nt + kNtSubsystem, 2);
  WriteU32(nt + kNtSizeOfStackReserve, 0x100000);
  WriteU32(nt + kNtNumberOfRvaAndSizes, kDirectoryCount);
  auto directory = [&](std::size_t index, std::uint32_t rva, std::uint32_t size) {
    WriteU32(nt + kNtDataDirectory + 8 * index, rva);
    WriteU32(nt + kNtDataDirectory + 8 * index + 4, size);
  };
  if (image.exportDirectoryRva != 0) {
    directory(kDirectoryExports, image.exportDirectoryRva, exportDirectorySize);
  }
  if (image.importDirectoryRva != 0) {
    directory(kDirectoryImports, image.importDirectoryRva, importDirectorySize);
    directory(12, iatRva, iatSize);
  }
  if (hasReloc) {
    directory(kDirectoryRelocations, image.relocRva, relocSize);
  }

  for (std::size_t i = 0; i < sections.size(); ++i) {
    const SectionPlan& section = sections[i];
    const auto rawOffset = static_cast<std::uint32_t>(out.size());
    const std::uint32_t rawSize = AlignTo(static_cast<std::uint32_t>(section.raw.size()), m_fileAlignment);
    Append(out, section.raw);
    out.resize(rawOffset + rawSize, 0);
    std::uint8_t* header = out.data() + kNtOffset + kNtHeadersSize + i * kSectionHeaderSize;
    std::copy_n(section.name.begin(), std::min<std::size_t>(section.name.size(), 8), header);
    WriteU32(header + kSectionVirtualSize, section.virtualSize);
    WriteU32(header + kSectionVirtualAddress, section.rva);
    WriteU32(header + kSectionSizeOfRawData, rawSize);
    WriteU32(header + kSectionPointerToRawData, rawSize > 0 ? rawOffset : 0);
    WriteU32(header + kSectionCharacteristics, section.characteristics);
  }
  return image;
}

}  // namespace kestrova::skin::pe
