// Control of the simulated vendor driver's core and settings store: faults to inject, the
// version it reports, where its store lives, and a reset to a fresh driver for tests.
// Process-wide, each part guarded by a lock inside the model.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace corva::sim {

// Statuses of the simulated driver (its own values; callers only test for non-zero).
constexpr int32_t kSimError = -1;
constexpr int32_t kSimInvalidArgument = -5;
constexpr int32_t kSimInvalidHandle = -8;
constexpr int32_t kSimIncompatibleVersion = -9;
constexpr int32_t kSimNotFound = -160;         // application, profile or setting not in the store
constexpr int32_t kSimNameInUse = -161;        // profile name or executable already in the store
constexpr int32_t kSimStoreUnreadable = -162;  // the store file is corrupt

// One entry per injectable fault: 0 lets the call through, any other value is the status
// the driver answers instead (without touching its state).
struct DriverFaults {
    int32_t initialize = 0;
    int32_t createSession = 0;
    int32_t loadSettings = 0;
    int32_t findApplication = 0;
    int32_t createProfile = 0;
    int32_t createApplication = 0;
    int32_t getSetting = 0;
    int32_t setSetting = 0;
    int32_t saveSettings = 0;
};

void setFaults(const DriverFaults& faults);
DriverFaults faults();

// What NvAPI_SYS_GetDriverAndBranchVersion reports (default 55123, "r550_00").
void setDriverVersion(uint32_t version, const std::string& branch);

// The settings store's file: the path given here; else TESSARAY_SIM_DRS_FILE; else
// "tessaray-sim-drs.txt" in the temporary directory (also for nvapi64.dll under Wine).
// An empty path returns to the environment/default choice.
void setDrsStoreFile(const std::filesystem::path& path);
std::filesystem::path drsStoreFile();

// Back to a freshly installed driver: no faults, default version, no open sessions, the
// store file chosen by the environment/default, initialise count 0, call log cleared. The
// store file itself is left alone.
void resetDriverState();

int initializeCount();   // initialise calls, successful or not
int openSessionCount();  // settings sessions created and not yet destroyed

// The store as kept on file: profiles, each with its executables and 32-bit settings.
// Names are printable ASCII.
struct DrsProfileRecord {
    std::string name;
    std::vector<std::string> applications;
    std::map<uint32_t, uint32_t> settings;  // setting id -> value
};
struct DrsDatabase {
    std::vector<DrsProfileRecord> profiles;
};

// A missing file reads as an empty store; false for a corrupt one.
bool readDrsDatabase(const std::filesystem::path& file, DrsDatabase& database);
// Replaces the file only once the new contents are complete; false for a name that is not
// printable ASCII.
bool writeDrsDatabase(const std::filesystem::path& file, const DrsDatabase& database);

}  // namespace corva::sim
