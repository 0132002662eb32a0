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
