#include "tests/support/environment.h"

#include <cstdlib>

namespace corva::test {

// The C runtime's copy, which getenv reads.
void setEnvironmentVariable(const char* name, const char* value) {
    _putenv_s(name, value);
}

void unsetEnvironmentVariable(const char* name) {
    _putenv_s(name, "");
}

}  // namespace corva::test
