#include "sim/sim_driver.h"

namespace corva::sim {

void* queryInterface(uint32_t interfaceId) {
    if (void* entry = queryCoreEntry(interfaceId)) return entry;
    if (void* entry = queryDrsEntry(interfaceId)) return entry;
    return queryDisplayEntry(interfaceId);
}

}  // namespace corva::sim
