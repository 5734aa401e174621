#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

// Field offsets of the 32-bit PE layout, shared by the loader that reads images and the writer
// that makes them, so that the two can never disagree about where a field lives.
namespace kestrova::skin::pe {

inline constexpr std::uint16_t kDosMagic = 0x5A4D;        // "MZ"
inline constexpr std::uint32_t kNtSignature = 0x00004550;  // "PE\0\0"

inline constexpr std::size_t kDosHeaderSize = 64;
inline constexpr std::size_t kDosLfanew = 60;

// The NT headers are always taken in their 32-bit form: signature, file header, optional header.
inline constexpr std::size_t kNtHeadersSize = 248;
inline constexpr std::size_t kSectionHeaderSize = 40;

// Offsets inside the NT headers.
inline constexpr std::size_t kNtMachine = 4;
inline constexpr std::size_t kNtNumberOfSections = 6;
inline constexpr std::size_t kNtSizeOfOptionalHeader = 20;
inline constexpr std::size_t kNtCharacteristics = 22;
inline constexpr std::size_t kOptionalHeader = 24;
inline constexpr std::size_t kNtMagic = kOptionalHeader + 0;
inline constexpr std::size_t kNtSizeOfCode = kOptionalHeader + 4;
inline constexpr std::size_t kNtAddressOfEntryPoint = kOptionalHeader + 16;
inline constexpr std::size_t kNtBaseOfCode = kOptionalHeader + 20;
inline constexpr std::size_t kNtImageBase = kOptionalHeader + 28;
inline constexpr std::size_t kNtSectionAlignment = kOptionalHeader + 32;
inline constexpr std::size_t kNtFileAlignment = kOptionalHeader + 36;
inline constexpr std::size_t kNtMajorSubsystemVersion = kOptionalHeader + 48;
inline constexpr std::size_t kNtSizeOfImage = kOptionalHeader + 56;
inline constexpr std::size_t kNtSizeOfHeaders = kOptionalHeader + 60;
inline constexpr std::size_t kNtSubsystem = kOptionalHeader + 68;
inline constexpr std::size_t kNtSizeOfStackReserve = kOptionalHeader + 72;
inline constexpr std::size_t kNtNumberOfRvaAndSizes = kOptionalHeader + 92;
inline constexpr std::size_t kNtDataDirectory = kOptionalHeader + 96;

inline constexpr std::size_t kDirectoryExports = 0;
inline constexpr std::size_t kDirectoryImports = 1;
inline constexpr std::size_t kDirectoryRelocations = 5;
inline constexpr std::size_t kDirectoryCount = 16;

// Offsets inside a section header.
inline constexpr std::size_t kSectionVirtualSize = 8;
inline constexpr std::size_t kSectionVirtualAddress = 12;
inline constexpr std::size_t kSectionSizeOfRawData = 16;
inline constexpr std::size_t kSectionPointerToRawData = 20;
inline constexpr std::size_t kSectionCharacteristics = 36;

// File header characteristics.
inline constexpr std::uint16_t kExecutableImage = 0x0002;
inline constexpr std::uint16_t k32BitMachine = 0x0100;
inline constexpr std::uint16_t kDll = 0x2000;

// Base relocation types.
inline constexpr std::uint16_t kRelocationAbsolute = 0;  // padding, never applied
inline constexpr std::uint16_t kRelocationHighLow = 3;   // a 32-bit absolute address

inline constexpr std::size_t kImportDescriptorSize = 20;
inline constexpr std::size_t kImportName = 12;
inline constexpr std::size_t kImportFirstThunk = 16;
inline constexpr std::uint32_t kImportByOrdinal = 0x80000000U;

inline constexpr std::size_t kExportDirectorySize = 40;
inline constexpr std::size_t kExportName = 12;
inline constexpr std::size_t kExportBase = 16;
inline constexpr std::size_t kExportNumberOfFunctions = 20;
inline constexpr std::size_t kExportNumberOfNames = 24;
inline constexpr std::size_t kExportAddressOfFunctions = 28;
inline constexpr std::size_t kExportAddressOfNames = 32;
inline constexpr std::size_t kExportAddressOfNameOrdinals = 36;

// Little-endian reads and writes over bytes whose bounds the caller has already checked.
inline std::uint16_t ReadU16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | (at[1] << 8));
}
inline std::uint32_t ReadU32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | (static_cast<std::uint32_t>(at[1]) << 8) |
         (static_cast<std::uint32_t>(at[2]) << 16) | (static_cast<std::uint32_t>(at[3]) << 24);
}
inline void WriteU16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
inline void WriteU32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    at[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

}  // namespace kestrova::skin::pe
