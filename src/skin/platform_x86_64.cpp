#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "skin/pe_layout.h"
#include "skin/platform.h"

#if !defined(__x86_64__) || !defined(__linux__)
#error "platform_x86_64.cpp is only built for x86-64 Linux"
#endif

// The call bridge. rbp keeps this frame so the stack pointer can be put back whatever the callee
// did with it; the 48 spare bytes above the four stack words leave room for a callee that pops
// all ten words (`ret 80`), so even then nothing of this frame lies below the stack pointer
// where a signal could overwrite it. al = 0 tells a variadic callee no vector registers are used.
asm(R"(
    .pushsection .text
    .globl kestrova_skin_call_words
    .type kestrova_skin_call_words, @function
    .p2align 4
kestrova_skin_call_words:
    .cfi_startproc
    pushq %rbp
    .cfi_def_cfa_offset 16
    .cfi_offset %rbp, -16
    movq %rsp, %rbp
    .cfi_def_cfa_register %rbp
    subq $48, %rsp
    movq %rdi, %r11
    movq %rsi, %rax
    pushq 72(%rax)
    pushq 64(%rax)
    pushq 56(%rax)
    pushq 48(%rax)
    movq 0(%rax), %rdi
    movq 8(%rax), %rsi
    movq 16(%rax), %rdx
    movq 24(%rax), %rcx
    movq 32(%rax), %r8
    movq 40(%rax), %r9
    xorl %eax, %eax
    call *%r11
    movq %rbp, %rsp
    popq %rbp
    .cfi_def_cfa %rsp, 8
    ret
    .cfi_endproc
    .size kestrova_skin_call_words, .-kestrova_skin_call_words
    .popsection
)");

extern "C" std::uint32_t kestrova_skin_call_words(std::uintptr_t target, const std::uintptr_t* words);

namespace kestrova::skin::platform {
namespace {

constexpr std::uint64_t kLimit = std::uint64_t{1} << 32;
// Below this the kernel usually refuses mappings (vm.mmap_min_addr); starting the search here
// saves a refusal per load.
constexpr std::uint64_t kSearchFloor = 0x10000;
constexpr std::uint64_t kSearchStep = 0x10000;
constexpr int kProtection = PROT_READ | PROT_WRITE | PROT_EXEC;

std::uint64_t PageSize() {
  static const auto size = static_cast<std::uint64_t>(sysconf(_SC_PAGESIZE));
  return size;
}

void* ToPointer(std::uint64_t address) { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(address)); }

std::uint32_t TryAt(std::uint64_t address, std::uint32_t size) {
  if (address == 0 || address % PageSize() != 0 || address + size > kLimit) {
    return 0;
  }
  void* got = mmap(ToPointer(address), size, kProtection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
  if (got == MAP_FAILED) {
    return 0;
  }
  if (reinterpret_cast<std::uintptr_t>(got) != address) {
    // Kernels older than 4.17 take the flag as a mere hint.
    munmap(got, size);
    return 0;
  }
  return static_cast<std::uint32_t>(address);
}

// The occupied ranges below 4 GiB, from the kernel's own list, so that the search only tries
// holes. The list can be stale by the time we map; MAP_FIXED_NOREPLACE makes that harmless.
std::vector<std::pair<std::uint64_t, std::uint64_t>> LowMappings() {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> ranges;
  std::FILE* maps = std::fopen("/proc/self/maps", "r");
  if (maps == nullptr) {
    return ranges;
  }
  char line[512];
  while (std::fgets(line, sizeof line, maps) != nullptr) {
    unsigned long long start = 0;
    unsigned long long end = 0;
    if (std::sscanf(line, "%llx-%llx", &start, &end) == 2 && start < kLimit) {
      ranges.emplace_back(start, end);
    }
  }
  std::fclose(maps);
  return ranges;
}

std::uint32_t SearchLow(std::uint32_t size) {
  std::uint64_t candidate = kSearchFloor;
  for (const auto& [start, end] : LowMappings()) {
    while (candidate + size <= start) {
      if (const std::uint32_t base = TryAt(candidate, size)) {
        return base;
      }
      candidate += kSearchStep;
    }
    if (end > candidate) {
      candidate = (end + kSearchStep - 1) / kSearchStep * kSearchStep;
    }
  }
  while (candidate + size <= kLimit) {
    if (const std::uint32_t base = TryAt(candidate, size)) {
      return base;
    }
    candidate += kSearchStep;
  }
  return 0;
}

// Jump stubs: `jmp [rip+0]` followed by the 64-bit target, sixteen bytes a slot.
constexpr std::uint32_t kThunkSlot = 16;
constexpr std::uint32_t kThunkPage = 4096;

struct ThunkPool {
  std::mutex mutex;
  std::map<std::uintptr_t, std::uint32_t> thunks;
  std::uint32_t page = 0;
  std::uint32_t used = kThunkPage;
};

ThunkPool& Pool() {
  static ThunkPool pool;
  return pool;
}

}  // namespace

bool Supported() { return true; }

std::uint32_t ReserveLow(std::uint32_t preferred, std::uint32_t size) {
  if (size == 0) {
    return 0;
  }
  if (const std::uint32_t base = TryAt(preferred, size)) {
    return base;
  }
  void* got = mmap(nullptr, size, kProtection, MAP_PRIVATE | MAP_ANONYMOUS | MAP_32BIT, -1, 0);
  if (got != MAP_FAILED) {
    const auto address = reinterpret_cast<std::uintptr_t>(got);
    if (address != 0 && address + size <= kLimit) {
      return static_cast<std::uint32_t>(address);
    }
    munmap(got, size);
  }
  // MAP_32BIT only offers the first 2 GiB, and under a sanitizer much of the low space is taken.
  return SearchLow(size);
}

bool ReleaseLow(std::uint32_t base, std::uint32_t size) {
  if (base == 0 || size == 0) {
    return false;
  }
  return munmap(ToPointer(base), size) == 0;
}

std::uint32_t ThunkFor(std::uintptr_t code) {
  if (code == 0) {
    return 0;
  }
  ThunkPool& pool = Pool();
  const std::lock_guard lock(pool.mutex);
  if (const auto found = pool.thunks.find(code); found != pool.thunks.end()) {
    return found->second;
  }
  if (pool.used + kThunkSlot > kThunkPage) {
    const std::uint32_t page = ReserveLow(0, kThunkPage);
    if (page == 0) {
      return 0;
    }
    pool.page = page;
    pool.used = 0;
  }
  const std::uint32_t thunk = pool.page + pool.used;
  auto* bytes = static_cast<std::uint8_t*>(ToPointer(thunk));
  const std::uint8_t jump[] = {0xFF, 0x25, 0, 0, 0, 0};
  std::memcpy(bytes, jump, sizeof jump);
  for (int i = 0; i < 8; ++i) {
    bytes[6 + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(code) >> (8 * i));
  }
  pool.used += kThunkSlot;
  pool.thunks.emplace(code, thunk);
  return thunk;
}

std::uint32_t CallWords(std::uintptr_t target, const std::uintptr_t (&words)[10]) {
  return kestrova_skin_call_words(target, words);
}

}  // namespace kestrova::skin::platform
