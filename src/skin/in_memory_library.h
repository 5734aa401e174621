#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>

// A loader that maps a DLL in the 32-bit PE layout from bytes held in memory, applies its base
// relocations, binds its imports against the host module registry, runs its entry point, finds
// its exports and unloads it again, as the system loader would for a file. The image holds
// x86-64 code; the mapping lies below 4 GiB so that every address in it fits 32 bits.
//
// Whatever an image says, nothing is read or written outside the image buffer or the mapping:
// sections, relocations, import and export tables that point outside are refused, and walks end
// at the mapping's end. Thread: the caller's; an object is not shared between threads.
namespace kestrova::skin {

// Addresses inside a mapping and of host thunks: 32 bits, as the image's own fields are.
using Address = std::uint32_t;
// Optional code address called for each import before the host module registry; 0 for none.
// Called as resolver(library name, function name or decimal ordinal text, userValue) and
// answers a 32-bit address, or 0 to leave the import to the registry.
using ImportResolver = std::uintptr_t;

// Whether the loader may run the image's entry point. Only a caller that maps untrusted bytes
// to inspect them (the fuzz harness) says Skip: the image is then mapped and linked, but none
// of its code ever runs, at load or at unload.
enum class EntryPointCalls : std::uint8_t { Make, Skip };

// The fields of the NT headers the loader uses, as read from the image.
struct NtHeaders {
  struct Directory {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
  };
  std::uint32_t signature = 0;
  std::uint16_t numberOfSections = 0;
  std::uint16_t characteristics = 0;
  std::uint32_t addressOfEntryPoint = 0;
  std::uint32_t imageBase = 0;
  std::uint32_t sectionAlignment = 0;
  std::uint32_t sizeOfImage = 0;
  std::array<Directory, 16> directories{};

  // `at` must hold 248 readable bytes.
  static NtHeaders Read(const std::uint8_t* at);
};

// One mapping: its base, its size (kept so that every later walk is bounded), and the entry
// address that saw process attach, if any, so that process detach goes to the same place.
struct Mapping {
  Address base = 0;
  std::uint32_t size = 0;
  Address attachedEntry = 0;
};

// alignment × ⌊(value + alignment − 1) / alignment⌋ without 32-bit overflow; nullopt for an
// alignment of 0, for which it is not defined.
std::optional<std::uint64_t> AlignUp(std::uint64_t value, std::uint32_t alignment);

// Maps, relocates, links and starts `image`. A mapping with base 0 on failure, with nothing
// left behind but host modules already looked up.
Mapping MapImage(std::span<const std::uint8_t> image, ImportResolver resolver, std::uint32_t userValue,
                 EntryPointCalls entryPointCalls = EntryPointCalls::Make);

// Adds base − ImageBase to every type-3 entry's target. False when an entry points outside
// the mapping; the walk ends at the directory's end and at a block shorter than its header.
bool ApplyRelocations(const Mapping& mapping, const NtHeaders& headers);

// Binds every import address table entry; false at the first function nobody offers, or at a
// table that leaves the mapping.
bool ResolveImports(const Mapping& mapping, const NtHeaders& headers, ImportResolver resolver,
                    std::uint32_t userValue);

// Sends process detach when the entry point saw attach, then releases the mapping. False, and
// nothing done, when the headers at the base are no longer "MZ" / "PE", or the release fails.
bool UnmapImage(const Mapping& mapping);

// Address of an export by name (exact bytes) or by ordinal text ("5", "-2"); 0 when not found.
Address LookupExport(const Mapping& mapping, std::string_view name);

// The ordinal `name` stands for when it is exactly the decimal text of a signed 32-bit integer:
// "5", "-2", "0";
// not "05", "+5", " 5", "5a", "-0" or "".
std::optional<std::int32_t> OrdinalOf(std::string_view name);

class InMemoryLibrary final {
 public:
  InMemoryLibrary() = default;
  // Destroy: unloads.
  ~InMemoryLibrary();
  // Copy: the copy shares the mapping; it is released when the last holder unloads, so the
  // entry point sees one detach and the memory is freed once.
  InMemoryLibrary(const InMemoryLibrary& other) = default;
  InMemoryLibrary& operator=(const InMemoryLibrary& other);
  InMemoryLibrary(InMemoryLibrary&& other) noexcept = default;
  InMemoryLibrary& operator=(InMemoryLibrary&& other) noexcept;
  InMemoryLibrary Copy() const { return *this; }

  // Unloads what is loaded (whatever that returns), then maps `image`; true when loaded. The
  // image stays the caller's and is only read during the call.
  bool LoadFromMemory(std::span<const std::uint8_t> image, ImportResolver resolver = 0,
                      std::uint32_t userValue = 0, EntryPointCalls entryPointCalls = EntryPointCalls::Make);
  // True when nothing is loaded afterwards; on failure the object keeps its mapping.
  bool Unload();
  Address FindExport(std::string_view name) const;
  Address EntryAddress() const;
  Address BaseAddress() const { return m_mapping ? m_mapping->base : 0; }
  std::uint32_t MappingSize() const { return m_mapping ? m_mapping->size : 0; }

 private:
  std::shared_ptr<Mapping> m_mapping;
};

}  // namespace kestrova::skin
