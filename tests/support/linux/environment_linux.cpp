#include "tests/support/environment.h"

#include <cstdlib>

namespace corva::test {

void setEnvironmentVariable(const char* name, const char* value) {
    ::setenv(name, value, 1);
}

void unsetEnvironmentVariable(const char* name) {
    ::unsetenv(name);
}

}  // namespace corva::test
