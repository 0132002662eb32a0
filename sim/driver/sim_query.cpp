#include "sim/driver/sim_driver.h"

namespace corva::sim {

void* queryInterface(uint32_t interfaceId) {
    for (std::span<const DriverEntry> slice : {coreEntries(), drsEntries(), displayEntries()})
        for (const DriverEntry& known : slice)
            if (static_cast<uint32_t>(known.id) == interfaceId) return known.function;
    return nullptr;
}

}  // namespace corva::sim
