#include "skin/in_memory_library.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "skin/call_address.h"
#include "skin/host_modules.h"
#include "skin/pe_layout.h"
#include "skin/platform.h"

namespace kestrova::skin {

using namespace pe;

namespace {

// Hundreds of times any skin library; it keeps a hostile SizeOfImage from reserving gigabytes
// and keeps every walk bounded by the mapping short.
constexpr std::uint64_t kMaxMappingSize = std::uint64_t{64} << 20;

// Name-ordinal entries are 16 bits, so no image can name more functions than this; a larger
// NumberOfNames would only send the name walk through the zeros of a huge mapping.
constexpr std::uint64_t kMaxExportNames = 0x10000;

std::uint8_t* At(const Mapping& mapping, std::uint64_t rva) {
  return reinterpret_cast<std::uint8_t*>(static_cast<std::uintptr_t>(mapping.base) + rva);
}

bool Inside(const Mapping& mapping, std::uint64_t rva, std::uint64_t length) {
  return rva <= mapping.size && length <= mapping.size - rva;
}

// The length of the NUL-terminated text at `rva` when it ends inside the mapping.
std::optional<std::size_t> TextInside(const Mapping& mapping, std::uint64_t rva) {
  if (rva >= mapping.size) {
    return std::nullopt;
  }
  const std::uint8_t* start = At(mapping, rva);
  const void* nul = std::memchr(start, 0, mapping.size - rva);
  if (nul == nullptr) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(static_cast<const std::uint8_t*>(nul) - start);
}

// The NT headers at the start of a mapping, when the load left them intact enough to read.
std::optional<NtHeaders> MappedHeaders(const Mapping& mapping) {
  if (mapping.base == 0 || !Inside(mapping, 0, kDosHeaderSize) || ReadU16(At(mapping, 0)) != kDosMagic) {
    return std::nullopt;
  }
  const std::uint32_t lfanew = ReadU32(At(mapping, kDosLfanew));
  if (!Inside(mapping, lfanew, kNtHeadersSize)) {
    return std::nullopt;
  }
  NtHeaders headers = NtHeaders::Read(At(mapping, lfanew));
  if (headers.signature != kNtSignature) {
    return std::nullopt;
  }
  return headers;
}

struct SectionHeader {
  std::uint32_t virtualSize = 0;
  std::uint32_t virtualAddress = 0;
  std::uint32_t sizeOfRawData = 0;
  std::uint32_t pointerToRawData = 0;
};

SectionHeader ReadSection(const std::uint8_t* at) {
  return {ReadU32(at + kSectionVirtualSize), ReadU32(at + kSectionVirtualAddress),
          ReadU32(at + kSectionSizeOfRawData), ReadU32(at + kSectionPointerToRawData)};
}

void Release(const Mapping& mapping) { platform::ReleaseLow(mapping.base, mapping.size); }

}  // namespace

NtHeaders NtHeaders::Read(const std::uint8_t* at) {
  NtHeaders headers;
  headers.signature = ReadU32(at);
  headers.numberOfSections = ReadU16(at + kNtNumberOfSections);
  headers.characteristics = ReadU16(at + kNtCharacteristics);
  headers.addressOfEntryPoint = ReadU32(at + kNtAddressOfEntryPoint);
  headers.imageBase = ReadU32(at + kNtImageBase);
  headers.sectionAlignment = ReadU32(at + kNtSectionAlignment);
  headers.sizeOfImage = ReadU32(at + kNtSizeOfImage);
  for (std::size_t i = 0; i < kDirectoryCount; ++i) {
    headers.directories[i] = {ReadU32(at + kNtDataDirectory + 8 * i), ReadU32(at + kNtDataDirectory + 8 * i + 4)};
  }
  return headers;
}

std::optional<std::uint64_t> AlignUp(std::uint64_t value, std::uint32_t alignment) {
  if (alignment == 0) {
    return std::nullopt;
  }
  return (value + alignment - 1) / alignment * alignment;
}

Mapping MapImage(std::span<const std::uint8_t> image, ImportResolver resolver, std::uint32_t userValue,
                 EntryPointCalls entryPointCalls) {
  // Every length test below is done in 64 bits, so no field of the image can wrap it.
  const std::uint64_t length = image.size();
  const std::uint8_t* bytes = image.data();
  if (length < kDosHeaderSize || ReadU16(bytes) != kDosMagic) {
    return {};
  }
  const std::uint64_t lfanew = ReadU32(bytes + kDosLfanew);
  if (length < lfanew + kNtHeadersSize) {
    return {};
  }
  const NtHeaders headers = NtHeaders::Read(bytes + lfanew);
  if (headers.signature != kNtSignature || (headers.characteristics & kExecutableImage) == 0) {
    return {};
  }
  const std::uint64_t sectionTable = lfanew + kNtHeadersSize;
  const std::uint64_t headerBytes = sectionTable + kSectionHeaderSize * headers.numberOfSections;
  if (length < headerBytes) {
    return {};
  }
  std::vector<SectionHeader> sections(headers.numberOfSections);
  for (std::size_t i = 0; i < sections.size(); ++i) {
    sections[i] = ReadSection(bytes + sectionTable + kSectionHeaderSize * i);
  }

  // The mapping covers SizeOfImage and every section's aligned end, whichever reaches further.
  if (headers.sectionAlignment == 0) {
    return {};
  }
  std::uint64_t size = headers.sizeOfImage;
  for (const SectionHeader& section : sections) {
    const std::uint64_t extent = std::max(section.virtualSize, section.sizeOfRawData);
    const std::uint64_t end = *AlignUp(section.virtualAddress + extent, headers.sectionAlignment);
    size = std::max(size, end);
  }
  if (size == 0 || size > kMaxMappingSize || headerBytes > size) {
    return {};
  }
  for (const SectionHeader& section : sections) {
    if (section.sizeOfRawData > 0 && section.virtualAddress != 0 &&
        (std::uint64_t{section.pointerToRawData} + section.sizeOfRawData > length ||
         std::uint64_t{section.virtualAddress} + section.sizeOfRawData > size)) {
      return {};
    }
  }
  const auto& relocations = headers.directories[kDirectoryRelocations];
  if (relocations.size > 0 && std::uint64_t{relocations.rva} + relocations.size > size) {
    return {};
  }
  const bool isDll = (headers.characteristics & kDll) != 0;
  // An entry point outside the mapping would send the call into whatever lies beyond it.
  if (isDll && headers.addressOfEntryPoint >= size) {
    return {};
  }

  Mapping mapping;
  mapping.size = static_cast<std::uint32_t>(size);
  mapping.base = platform::ReserveLow(headers.imageBase, mapping.size);
  if (mapping.base == 0) {
    return {};
  }
  std::memcpy(At(mapping, 0), bytes, headerBytes);
  for (const SectionHeader& section : sections) {
    if (section.sizeOfRawData > 0 && section.virtualAddress != 0) {
      std::memcpy(At(mapping, section.virtualAddress), bytes + section.pointerToRawData, section.sizeOfRawData);
    }
  }

  if (relocations.size > 0) {
    if (!ApplyRelocations(mapping, headers)) {
      Release(mapping);
      return {};
    }
  } else if (mapping.base != headers.imageBase) {
    // Moved without a way to fix its absolute addresses: its code would use the wrong ones.
    Release(mapping);
    return {};
  }
  if (headers.directories[kDirectoryImports].rva != 0 && !ResolveImports(mapping, headers, resolver, userValue)) {
    Release(mapping);
    return {};
  }

  // As the system does, a DLL whose AddressOfEntryPoint is 0 has no entry point: calling the
  // mapping's first byte would run the "MZ" header as code.
  if (isDll && entryPointCalls == EntryPointCalls::Make && headers.addressOfEntryPoint != 0) {
    const Address entry = mapping.base + headers.addressOfEntryPoint;
    if (CallAddress(entry, std::uintptr_t{0}, std::uintptr_t{1}, std::uintptr_t{0}) == 0) {
      CallAddress(entry, std::uintptr_t{0}, std::uintptr_t{0}, std::uintptr_t{0});
      Release(mapping);
      return {};
    }
    mapping.attachedEntry = entry;
  }
  return mapping;
}

bool ApplyRelocations(const Mapping& mapping, const NtHeaders& headers) {
  const std::uint32_t delta = mapping.base - headers.imageBase;
  const auto& directory = headers.directories[kDirectoryRelocations];
  const std::uint64_t end = std::uint64_t{directory.rva} + directory.size;
  if (end > mapping.size) {
    return false;
  }
  std::uint64_t block = directory.rva;
  while (block + 8 <= end) {
    const std::uint32_t page = ReadU32(At(mapping, block));
    const std::uint32_t blockSize = ReadU32(At(mapping, block + 4));
    if (page == 0 || blockSize < 8) {
      break;
    }
    const std::uint64_t count = (blockSize - 8) / 2;
    std::uint64_t entryAt = block + 8;
    for (std::uint64_t i = 0; i < count && entryAt + 2 <= end; ++i, entryAt += 2) {
      const std::uint16_t entry = ReadU16(At(mapping, entryAt));
      if ((entry >> 12) != kRelocationHighLow) {
        continue;
      }
      const std::uint64_t target = std::uint64_t{page} + (entry & 0x0FFFU);
      if (!Inside(mapping, target, 4)) {
        return false;
      }
      WriteU32(At(mapping, target), ReadU32(At(mapping, target)) + delta);
    }
    block += blockSize;
  }
  return true;
}

bool ResolveImports(const Mapping& mapping, const NtHeaders& headers, ImportResolver resolver,
                    std::uint32_t userValue) {
  for (std::uint64_t descriptor = headers.directories[kDirectoryImports].rva;; descriptor += kImportDescriptorSize) {
    if (!Inside(mapping, descriptor, kImportDescriptorSize)) {
      return false;
    }
    const std::uint32_t firstThunk = ReadU32(At(mapping, descriptor + kImportFirstThunk));
    if (firstThunk == 0) {
      return true;
    }
    const std::uint32_t nameRva = ReadU32(At(mapping, descriptor + kImportName));
    const auto nameLength = TextInside(mapping, nameRva);
    if (!nameLength) {
      return false;
    }
    const auto* libraryName = reinterpret_cast<const char*>(At(mapping, nameRva));
    const HostModuleHandle module = LoadHostModule(std::string_view(libraryName, *nameLength));

    for (std::uint64_t slot = firstThunk;; slot += 4) {
      if (!Inside(mapping, slot, 4)) {
        return false;
      }
      const std::uint32_t entry = ReadU32(At(mapping, slot));
      if (entry == 0) {
        break;
      }
      const bool byOrdinal = (entry & kImportByOrdinal) != 0;
      const auto ordinal = static_cast<std::uint16_t>(entry & 0xFFFFU);
      // The ordinal's decimal text lives here for the duration of the resolver's call.
      char ordinalText[8] = {};
      std::string_view functionName;
      if (byOrdinal) {
        std::to_chars(ordinalText, ordinalText + sizeof ordinalText - 1, ordinal);
        functionName = ordinalText;
      } else {
        const std::uint64_t nameAt = std::uint64_t{entry} + 2;
        const auto length = TextInside(mapping, nameAt);
        if (!length) {
          return false;
        }
        functionName = std::string_view(reinterpret_cast<const char*>(At(mapping, nameAt)), *length);
      }

      std::uint32_t address = 0;
      if (resolver != 0) {
        address = CallAddress(resolver, reinterpret_cast<std::uintptr_t>(libraryName),
                              reinterpret_cast<std::uintptr_t>(functionName.data()), std::uintptr_t{userValue});
      }
      if (address == 0) {
        address = byOrdinal ? HostProcAddressByOrdinal(module, ordinal) : HostProcAddress(module, functionName);
      }
      if (address == 0) {
        return false;
      }
      WriteU32(At(mapping, slot), address);
    }
  }
}

bool UnmapImage(const Mapping& mapping) {
  if (!MappedHeaders(mapping)) {
    return false;
  }
  if (mapping.attachedEntry != 0) {
    CallAddress(mapping.attachedEntry, std::uintptr_t{0}, std::uintptr_t{0}, std::uintptr_t{0});
  }
  return platform::ReleaseLow(mapping.base, mapping.size);
}

std::optional<std::int32_t> OrdinalOf(std::string_view name) {
  const bool negative = !name.empty() && name.front() == '-';
  const std::string_view digits = negative ? name.substr(1) : name;
  if (digits.empty() || digits.size() > 10 ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
      (digits.front() == '0' && (digits.size() > 1 || negative))) {
    return std::nullopt;
  }
  std::int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
  }
  if (negative) {
    value = -value;
  }
  if (value < INT32_MIN || value > INT32_MAX) {
    return std::nullopt;
  }
  return static_cast<std::int32_t>(value);
}

Address LookupExport(const Mapping& mapping, std::string_view name) {
  const auto headers = MappedHeaders(mapping);
  if (!headers) {
    return 0;
  }
  const auto& directory = headers->directories[kDirectoryExports];
  if (directory.size == 0 || !Inside(mapping, directory.rva, kExportDirectorySize)) {
    return 0;
  }
  const std::uint8_t* exports = At(mapping, directory.rva);
  const std::uint32_t ordinalBase = ReadU32(exports + kExportBase);
  const std::uint32_t numberOfFunctions = ReadU32(exports + kExportNumberOfFunctions);
  const std::uint32_t numberOfNames = ReadU32(exports + kExportNumberOfNames);
  const std::uint32_t functions = ReadU32(exports + kExportAddressOfFunctions);
  const std::uint32_t names = ReadU32(exports + kExportAddressOfNames);
  const std::uint32_t nameOrdinals = ReadU32(exports + kExportAddressOfNameOrdinals);

  // The function-table entry at `index` as an address; nullopt when the table leaves the
  // mapping or the entry points outside it (the call would leave the image).
  auto function = [&](std::uint64_t index) -> std::optional<std::uint32_t> {
    const std::uint64_t at = std::uint64_t{functions} + 4 * index;
    if (!Inside(mapping, at, 4)) {
      return std::nullopt;
    }
    const std::uint32_t rva = ReadU32(At(mapping, at));
    if (rva >= mapping.size) {
      return std::nullopt;
    }
    return rva;
  };

  if (const auto ordinal = OrdinalOf(name)) {
    const std::int64_t index = std::int64_t{*ordinal} - std::int64_t{ordinalBase};
    if (index < 0 || index >= std::int64_t{numberOfFunctions}) {
      return 0;
    }
    const auto rva = function(static_cast<std::uint64_t>(index));
    return rva && *rva != 0 ? mapping.base + *rva : 0;
  }

  if (numberOfNames == 0 || !Inside(mapping, names, 4)) {
    return 0;
  }
  // Names are taken back to back from the first one on, as linkers lay them out.
  std::uint64_t nameAt = ReadU32(At(mapping, names));
  const std::uint64_t nameCount = std::min<std::uint64_t>(numberOfNames, kMaxExportNames);
  for (std::uint64_t i = 0; i < nameCount; ++i) {
    const auto length = TextInside(mapping, nameAt);
    const std::uint64_t ordinalAt = std::uint64_t{nameOrdinals} + 2 * i;
    if (!length || !Inside(mapping, ordinalAt, 2)) {
      return 0;
    }
    const std::uint16_t index = ReadU16(At(mapping, ordinalAt));
    if (index < numberOfFunctions && *length == name.size() &&
        std::memcmp(At(mapping, nameAt), name.data(), name.size()) == 0) {
      const auto rva = function(index);
      if (!rva) {
        return 0;
      }
      if (*rva != 0) {
        return mapping.base + *rva;
      }
    }
    nameAt += *length + 1;
  }
  return 0;
}

InMemoryLibrary::~InMemoryLibrary() { Unload(); }

InMemoryLibrary& InMemoryLibrary::operator=(const InMemoryLibrary& other) {
  if (m_mapping != other.m_mapping) {
    Unload();
    m_mapping = other.m_mapping;
  }
  return *this;
}

InMemoryLibrary& InMemoryLibrary::operator=(InMemoryLibrary&& other) noexcept {
  if (this != &other) {
    if (m_mapping != other.m_mapping) {
      Unload();
    }
    m_mapping = std::move(other.m_mapping);
  }
  return *this;
}

bool InMemoryLibrary::LoadFromMemory(std::span<const std::uint8_t> image, ImportResolver resolver,
                                     std::uint32_t userValue, EntryPointCalls entryPointCalls) {
  Unload();
  m_mapping.reset();
  const Mapping mapping = MapImage(image, resolver, userValue, entryPointCalls);
  if (mapping.base != 0) {
    m_mapping = std::make_shared<Mapping>(mapping);
  }
  return mapping.base != 0;
}

bool InMemoryLibrary::Unload() {
  if (!m_mapping) {
    return true;
  }
  // Another copy still holds the mapping: it is released, with its detach, by the last one.
  if (m_mapping.use_count() > 1) {
    m_mapping.reset();
    return true;
  }
  if (!UnmapImage(*m_mapping)) {
    return false;
  }
  m_mapping.reset();
  return true;
}

Address InMemoryLibrary::FindExport(std::string_view name) const {
  return m_mapping ? LookupExport(*m_mapping, name) : 0;
}

Address InMemoryLibrary::EntryAddress() const {
  if (!m_mapping || !Inside(*m_mapping, 0, kDosHeaderSize)) {
    return 0;
  }
  const std::uint32_t lfanew = ReadU32(At(*m_mapping, kDosLfanew));
  if (!Inside(*m_mapping, lfanew, kNtHeadersSize)) {
    return 0;
  }
  return m_mapping->base + ReadU32(At(*m_mapping, std::uint64_t{lfanew} + kNtAddressOfEntryPoint));
}

}  // namespace kestrova::skin
