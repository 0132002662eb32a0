#pragma once

namespace corva {

// The whole program: parse, link set-up, presenter bring-up, run, teardown.
// Returns 0, 3 (initialisation failed) or 4 (display lost).
int tessarayMain(int argc, char** argv);

}  // namespace corva
