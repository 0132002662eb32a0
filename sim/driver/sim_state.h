// Shared between the slices of the simulated driver; not for tests or the program.
#pragma once

#include <cstdint>
#include <string>

namespace corva::sim::detail {

// Each slice forgets its own state for resetDriverState().
void resetCoreState();
void resetDrsState();

// UTF-16 <-> UTF-8 for the store file and the call log. Unpaired surrogates are kept
// (encoded as three bytes) so a name survives the round trip unchanged.
std::string toUtf8(const std::u16string& text);
bool fromUtf8(const std::string& text, std::u16string& out);

}  // namespace corva::sim::detail
