// The simulated driver's core: its query entry, its initialisation entry, the driver
// version it reports, and the injected faults every slice consults.
#include "nvapi/nvapi.h"
#include "sim/driver/call_log.h"
#include "sim/driver/sim_driver.h"
#include "sim/driver/sim_driver_config.h"
#include "sim/driver/sim_state.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace corva::sim {

namespace {

constexpr uint32_t kDefaultDriverVersion = 55123;
constexpr const char* kDefaultBranch = "r550_00";
constexpr size_t kBranchCapacity = 64;  // the caller's buffer, terminator included

struct CoreState {
    std::mutex lock;
    DriverFaults faults;
    uint32_t driverVersion = kDefaultDriverVersion;
    std::string branch = kDefaultBranch;
    int initializeCount = 0;
};

CoreState& core() {
    static CoreState state;
    return state;
}

NvStatus simInitialize() {
    CallLog::instance().record({"NvAPI_Initialize", std::nullopt, std::nullopt});
    CoreState& state = core();
    std::lock_guard<std::mutex> lock(state.lock);
    ++state.initializeCount;
    return state.faults.initialize;
}

NvStatus simGetDriverAndBranchVersion(uint32_t* driverVersion, char* branch) {
    CallLog::instance().record({"NvAPI_SYS_GetDriverAndBranchVersion", std::nullopt, std::nullopt});
    if (driverVersion == nullptr || branch == nullptr) return kSimInvalidArgument;
    CoreState& state = core();
    std::lock_guard<std::mutex> lock(state.lock);
    *driverVersion = state.driverVersion;
    const size_t length = std::min(state.branch.size(), kBranchCapacity - 1);
    std::memcpy(branch, state.branch.data(), length);
    branch[length] = '\0';
    return kNvOk;
}

}  // namespace

void* queryInterface(uint32_t interfaceId) {
    static const DriverEntry core[] = {
        entry<NvInterfaceId::Initialize>(&simInitialize),
        entry<NvInterfaceId::GetDriverAndBranchVersion>(&simGetDriverAndBranchVersion),
    };
    for (std::span<const DriverEntry> slice :
         {std::span<const DriverEntry>(core), drsEntries(), displayEntries()})
        for (const DriverEntry& known : slice)
            if (static_cast<uint32_t>(known.id) == interfaceId) return known.function;
    return nullptr;
}

void setFaults(const DriverFaults& faults) {
    CoreState& state = core();
    std::lock_guard<std::mutex> lock(state.lock);
    state.faults = faults;
}

DriverFaults faults() {
    CoreState& state = core();
    std::lock_guard<std::mutex> lock(state.lock);
    return state.faults;
}

void setDriverVersion(uint32_t version, const std::string& branch) {
    CoreState& state = core();
    std::lock_guard<std::mutex> lock(state.lock);
    state.driverVersion = version;
    state.branch = branch;
}

int initializeCount() {
    CoreState& state = core();
    std::lock_guard<std::mutex> lock(state.lock);
    return state.initializeCount;
}

void resetDriverState() {
    detail::resetCoreState();
    detail::resetDrsState();
    CallLog::instance().clear();
}

void detail::resetCoreState() {
    CoreState& state = core();
    std::lock_guard<std::mutex> lock(state.lock);
    state.faults = DriverFaults{};
    state.driverVersion = kDefaultDriverVersion;
    state.branch = kDefaultBranch;
    state.initializeCount = 0;
}

}  // namespace corva::sim
