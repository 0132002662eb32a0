// Setting the process environment for a test, the same way on every platform.
#pragma once

namespace corva::test {

void setEnvironmentVariable(const char* name, const char* value);
void unsetEnvironmentVariable(const char* name);

}  // namespace corva::test
