// Counts heap allocations made by the current thread (the test program replaces the
// global operator new).
#pragma once

#include <cstdint>

namespace corva::test {

uint64_t allocationsOnThisThread();

}  // namespace corva::test
