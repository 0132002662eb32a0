// The simulated driver-settings store: as much of the real one as the profile pinning
// uses. Each session holds a private copy of the database that "load" reads from the store
// file and "save" writes back, so changes never saved are lost with the session. The file
// is one item a line, readable and editable by hand:
//
//   tessaray-sim driver settings 1
//   profile corva
//   app tessaray.exe
//   setting 0x1057eb71 0x1
//
// Names are printable ASCII, which is all the program writes.
#include "nvapi/nvapi.h"
#include "sim/driver/call_log.h"
#include "sim/driver/sim_driver.h"
#include "sim/driver/sim_driver_config.h"
#include "sim/driver/sim_state.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string_view>

namespace corva::sim {

namespace {

constexpr std::string_view kHeader = "tessaray-sim driver settings 1";

struct DrsState {
    std::mutex lock;
    std::filesystem::path configuredFile;       // empty: environment or default
    std::map<uintptr_t, DrsDatabase> sessions;  // handles are small numbers, never addresses
    uintptr_t nextSession = 1;
};

DrsState& drs() {
    static DrsState state;
    return state;
}

std::filesystem::path storeFileLocked(const DrsState& state) {
    if (!state.configuredFile.empty()) return state.configuredFile;
    if (const char* variable = std::getenv("TESSARAY_SIM_DRS_FILE"); variable != nullptr && *variable != '\0')
        return variable;
    std::error_code error;  // no temporary directory: the current one
    return std::filesystem::temp_directory_path(error) / "tessaray-sim-drs.txt";
}

bool printable(char c) {
    return c >= 0x20 && c < 0x7F;
}

bool validName(std::string_view name) {
    return !name.empty() && name.size() < kNvUnicodeLength &&
           std::all_of(name.begin(), name.end(), printable);
}

// A name from a record: terminated within the field, not empty, printable ASCII.
bool readName(const char16_t* text, std::string& name) {
    name.clear();
    for (size_t i = 0; text != nullptr && i < kNvUnicodeLength && text[i] != u'\0'; ++i)
        name.push_back(text[i] < 0x7F ? char(text[i]) : '\0');
    return validName(name);
}

// Executable names compare without regard to case, as on Windows.
bool sameExecutable(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                      [](char x, char y) { return std::tolower(x) == std::tolower(y); });
}

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

bool parseHex32(std::string_view text, uint32_t& value) {
    if (!text.starts_with("0x") || text.size() < 3) return false;
    auto [end, error] = std::from_chars(text.data() + 2, text.data() + text.size(), value, 16);
    return error == std::errc{} && end == text.data() + text.size();
}

bool parseLine(std::string_view line, DrsDatabase& database) {
    const size_t blank = line.find(' ');
    if (line.empty() || blank == std::string_view::npos) return line.empty();
    const std::string_view key = line.substr(0, blank), rest = line.substr(blank + 1);
    if (key == "profile" && validName(rest)) {
        database.profiles.push_back({std::string(rest), {}, {}});
        return true;
    }
    if (database.profiles.empty()) return false;  // items before any profile
    DrsProfileRecord& profile = database.profiles.back();
    if (key == "app" && validName(rest)) {
        profile.applications.emplace_back(rest);
        return true;
    }
    const size_t split = rest.find(' ');
    uint32_t id = 0, value = 0;
    if (key != "setting" || split == std::string_view::npos || !parseHex32(rest.substr(0, split), id) ||
        !parseHex32(rest.substr(split + 1), value))
        return false;
    profile.settings[id] = value;
    return true;
}

// Every call is logged (with its argument, if any); an injected fault answers instead.
NvStatus enter(const char* operation, int32_t DriverFaults::*fault, const std::string& detail = {}) {
    CallRecord call{operation, std::nullopt, std::nullopt};
    if (!detail.empty()) call.arguments = detail;
    CallLog::instance().record(call);
    return fault != nullptr ? faults().*fault : kNvOk;
}

// Runs `action` on the session's database under the store's lock; a handle the driver
// never gave out is refused, not followed.
template <class Action>
NvStatus inSession(NvDRSSessionHandle session, Action action) {
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    auto found = state.sessions.find(reinterpret_cast<uintptr_t>(session));
    return found == state.sessions.end() ? kSimInvalidHandle : action(state, found->second);
}

// The same for one of the session's profiles (handle: its index plus one).
template <class Action>
NvStatus inProfile(NvDRSSessionHandle session, NvDRSProfileHandle profile, Action action) {
    return inSession(session, [&](DrsState&, DrsDatabase& database) {
        const uintptr_t index = reinterpret_cast<uintptr_t>(profile);
        if (index == 0 || index > database.profiles.size()) return kSimInvalidHandle;
        return action(database, database.profiles[index - 1]);
    });
}

NvStatus simCreateSession(NvDRSSessionHandle* session) {
    if (NvStatus refused = enter("NvAPI_DRS_CreateSession", &DriverFaults::createSession)) return refused;
    if (session == nullptr) return kSimInvalidArgument;
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    state.sessions[state.nextSession] = {};
    *session = reinterpret_cast<NvDRSSessionHandle>(state.nextSession++);
    return kNvOk;
}

NvStatus simLoadSettings(NvDRSSessionHandle session) {
    if (NvStatus refused = enter("NvAPI_DRS_LoadSettings", &DriverFaults::loadSettings)) return refused;
    return inSession(session, [](DrsState& state, DrsDatabase& database) {
        DrsDatabase loaded;
        if (!readDrsDatabase(storeFileLocked(state), loaded)) return kSimStoreUnreadable;
        database = std::move(loaded);
        return kNvOk;
    });
}

NvStatus simFindApplicationByName(NvDRSSessionHandle session, const char16_t* appName,
                                  NvDRSProfileHandle* profile, NVDRS_APPLICATION* application) {
    std::string name;
    const bool nameValid = readName(appName, name);
    if (NvStatus refused = enter("NvAPI_DRS_FindApplicationByName", &DriverFaults::findApplication, name))
        return refused;
    if (!nameValid || profile == nullptr || application == nullptr) return kSimInvalidArgument;
    if (application->version != NVDRS_APPLICATION_VER) return kSimIncompatibleVersion;
    return inSession(session, [&](DrsState&, DrsDatabase& database) {
        for (size_t index = 0; index < database.profiles.size(); ++index)
            for (const std::string& executable : database.profiles[index].applications) {
                if (!sameExecutable(executable, name)) continue;
                *application = NVDRS_APPLICATION{};
                application->version = NVDRS_APPLICATION_VER;
                std::copy(executable.begin(), executable.end(),
                          application->appName);  // shorter than the field
                *profile = reinterpret_cast<NvDRSProfileHandle>(index + 1);
                return kNvOk;
            }
        return kSimNotFound;
    });
}

NvStatus simCreateProfile(NvDRSSessionHandle session, NVDRS_PROFILE* profileInfo,
                          NvDRSProfileHandle* profile) {
    std::string name;
    const bool nameValid = profileInfo != nullptr && readName(profileInfo->profileName, name);
    if (NvStatus refused = enter("NvAPI_DRS_CreateProfile", &DriverFaults::createProfile, name))
        return refused;
    if (!nameValid || profile == nullptr) return kSimInvalidArgument;
    if (profileInfo->version != NVDRS_PROFILE_VER) return kSimIncompatibleVersion;
    return inSession(session, [&](DrsState&, DrsDatabase& database) {
        for (const DrsProfileRecord& existing : database.profiles)
            if (existing.name == name) return kSimNameInUse;
        database.profiles.push_back({name, {}, {}});
        *profile = reinterpret_cast<NvDRSProfileHandle>(database.profiles.size());
        return kNvOk;
    });
}

NvStatus simCreateApplication(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                              NVDRS_APPLICATION* application) {
    std::string name;
    const bool nameValid = application != nullptr && readName(application->appName, name);
    if (NvStatus refused = enter("NvAPI_DRS_CreateApplication", &DriverFaults::createApplication, name))
        return refused;
    if (!nameValid) return kSimInvalidArgument;
    if (application->version != NVDRS_APPLICATION_VER) return kSimIncompatibleVersion;
    return inProfile(session, profile, [&](DrsDatabase& database, DrsProfileRecord& target) {
        for (const DrsProfileRecord& existing : database.profiles)
            for (const std::string& executable : existing.applications)
                if (sameExecutable(executable, name)) return kSimNameInUse;
        target.applications.push_back(name);
        return kNvOk;
    });
}

NvStatus simGetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile, uint32_t settingId,
                       NVDRS_SETTING* setting) {
    if (NvStatus refused = enter("NvAPI_DRS_GetSetting", &DriverFaults::getSetting, hex32(settingId)))
        return refused;
    if (setting == nullptr) return kSimInvalidArgument;
    if (setting->version != NVDRS_SETTING_VER) return kSimIncompatibleVersion;
    return inProfile(session, profile, [&](DrsDatabase&, DrsProfileRecord& source) {
        auto found = source.settings.find(settingId);
        if (found == source.settings.end()) return kSimNotFound;
        *setting = NVDRS_SETTING{};
        setting->version = NVDRS_SETTING_VER;
        setting->settingId = settingId;
        setting->settingType = NVDRS_DWORD_TYPE;
        setting->currentValue.u32 = found->second;
        return kNvOk;
    });
}

NvStatus simSetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile, NVDRS_SETTING* setting) {
    const std::string value =
        setting ? hex32(setting->settingId) + "=" + hex32(setting->currentValue.u32) : "";
    if (NvStatus refused =
            enter("NvAPI_DRS_SetSetting", setting ? &DriverFaults::setSetting : nullptr, value))
        return refused;
    if (setting == nullptr) return kSimInvalidArgument;
    if (setting->version != NVDRS_SETTING_VER) return kSimIncompatibleVersion;
    if (setting->settingType != NVDRS_DWORD_TYPE) return kSimInvalidArgument;  // 32-bit values only
    return inProfile(session, profile, [&](DrsDatabase&, DrsProfileRecord& target) {
        target.settings[setting->settingId] = setting->currentValue.u32;
        return kNvOk;
    });
}

NvStatus simSaveSettings(NvDRSSessionHandle session) {
    if (NvStatus refused = enter("NvAPI_DRS_SaveSettings", &DriverFaults::saveSettings)) return refused;
    return inSession(session, [](DrsState& state, DrsDatabase& database) {
        return writeDrsDatabase(storeFileLocked(state), database) ? kNvOk : kSimError;
    });
}

NvStatus simDestroySession(NvDRSSessionHandle session) {
    enter("NvAPI_DRS_DestroySession", nullptr);
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    return state.sessions.erase(reinterpret_cast<uintptr_t>(session)) == 1 ? kNvOk : kSimInvalidHandle;
}

}  // namespace

std::span<const DriverEntry> drsEntries() {
    static const DriverEntry entries[] = {
        entry<NvInterfaceId::DrsCreateSession>(&simCreateSession),
        entry<NvInterfaceId::DrsLoadSettings>(&simLoadSettings),
        entry<NvInterfaceId::DrsFindApplicationByName>(&simFindApplicationByName),
        entry<NvInterfaceId::DrsCreateProfile>(&simCreateProfile),
        entry<NvInterfaceId::DrsCreateApplication>(&simCreateApplication),
        entry<NvInterfaceId::DrsGetSetting>(&simGetSetting),
        entry<NvInterfaceId::DrsSetSetting>(&simSetSetting),
        entry<NvInterfaceId::DrsSaveSettings>(&simSaveSettings),
        entry<NvInterfaceId::DrsDestroySession>(&simDestroySession),
    };
    return entries;
}

bool readDrsDatabase(const std::filesystem::path& file, DrsDatabase& database) {
    database = DrsDatabase{};
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return !error;  // a missing file: an empty store
    std::ifstream in(file, std::ios::binary);
    std::string line;
    for (bool first = true; std::getline(in, line); first = false) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // edited on Windows
        if (first ? line != kHeader : !parseLine(line, database)) return false;
    }
    return in.eof();
}

bool writeDrsDatabase(const std::filesystem::path& file, const DrsDatabase& database) {
    std::string text = std::string(kHeader) + "\n";
    for (const DrsProfileRecord& profile : database.profiles) {
        if (!validName(profile.name)) return false;
        text += "profile " + profile.name + "\n";
        for (const std::string& application : profile.applications) {
            if (!validName(application)) return false;
            text += "app " + application + "\n";
        }
        for (const auto& [id, value] : profile.settings)
            text += "setting " + hex32(id) + " " + hex32(value) + "\n";
    }
    std::error_code error;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), error);
    std::filesystem::path partial = file;
    partial += ".partial";
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();  // a failure to write the last bytes shows only here
    const bool complete = !out.fail();
    // Replaced in one step: the old store stays whole until the new one is.
    if (complete) std::filesystem::rename(partial, file, error);
    const bool written = complete && !error;
    if (!written) std::filesystem::remove(partial, error);
    return written;
}

void setDrsStoreFile(const std::filesystem::path& path) {
    std::lock_guard<std::mutex> lock(drs().lock);
    drs().configuredFile = path;
}

std::filesystem::path drsStoreFile() {
    std::lock_guard<std::mutex> lock(drs().lock);
    return storeFileLocked(drs());
}

int openSessionCount() {
    std::lock_guard<std::mutex> lock(drs().lock);
    return static_cast<int>(drs().sessions.size());
}

void detail::resetDrsState() {
    std::lock_guard<std::mutex> lock(drs().lock);
    drs().configuredFile.clear();
    drs().sessions.clear();
}

}  // namespace corva::sim
