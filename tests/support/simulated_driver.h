// Makes the simulated driver the driver library the real loader finds, in this process.
#pragma once

namespace corva::test {

// Forgets whatever driver library was loaded; the next driver call loads the simulated one.
void installSimulatedDriver();
// From now on there is no driver library to load at all (loading fails with -2).
void installNoDriver();
// Forgets the simulated driver; the next driver call loads again.
void removeSimulatedDriver();

}  // namespace corva::test
