#include "tests/support/allocation_counter.h"

#include <cstdlib>
#include <new>

namespace {
thread_local uint64_t tAllocations = 0;
}

namespace corva::test {
uint64_t allocationsOnThisThread() {
    return tAllocations;
}
}  // namespace corva::test

void* operator new(std::size_t size) {
    ++tAllocations;
    if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
// The non-throwing forms too, so every unaligned allocation pairs with the frees above.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    ++tAllocations;
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
    return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
