// libFuzzer entry: TESSARAY_FUZZ_CHECK names the property check this binary drives.
#include "tests/fuzz/properties.h"

#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (const char* broken = corva::fuzz::TESSARAY_FUZZ_CHECK(data, size)) {
        std::fprintf(stderr, "property broken: %s\n", broken);
        std::abort();  // libFuzzer saves the input as a crash
    }
    return 0;
}
