#pragma once

#include <cstdint>

// The few operating-system services the loader stands on: memory below 4 GiB (so that a
// mapping's base and every RVA sum fit the 32-bit fields of the image), and small jump stubs
// there that lead to the program's own 64-bit functions. Only x86-64 Linux has them; elsewhere
// every call fails softly and nothing is ever mapped.
//
// Thread-safe.
namespace kestrova::skin::platform {

// True where images can be mapped and their code run.
bool Supported();

// Read-write-execute, zero-filled memory of `size` bytes lying wholly below 4 GiB: at
// `preferred` when that range is free, else wherever there is room. 0 when there is none.
std::uint32_t ReserveLow(std::uint32_t preferred, std::uint32_t size);

// Releases what ReserveLow gave, with the same size; false when the system refuses.
bool ReleaseLow(std::uint32_t base, std::uint32_t size);

// A stub below 4 GiB that jumps to `code`, made once per target and kept for the life of the
// process (import entries may still point at it). 0 when no memory is left or unsupported.
std::uint32_t ThunkFor(std::uintptr_t code);

// Calls `target` with ten argument words, the first six in registers and the rest on the stack
// in System V order, and restores the stack pointer from this routine's own frame afterwards,
// so a callee that pops its own arguments (`ret N`, N up to 80) comes back cleanly too.
std::uint32_t CallWords(std::uintptr_t target, const std::uintptr_t (&words)[10]);

}  // namespace kestrova::skin::platform
