// Replaces the global operator new for one test program, so that it can count
// the heap allocations made while `counting` is set. Include it from exactly
// one source file of the program.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace tarnwick::testing {
inline std::atomic<bool> counting{false};
inline std::atomic<long> allocations{0};
}  // namespace tarnwick::testing

void* operator new(std::size_t size) {
  if (tarnwick::testing::counting) ++tarnwick::testing::allocations;
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }
