// The simulated driver-settings store. Like the real driver's, it is reached only through
// the query entry, works on sessions (each a private copy of the database that "load"
// fills from the store file and "save" writes back, so changes never saved are lost
// when the session ends), and refuses duplicate profile names and executables.
#include "nvapi/nvapi.h"
#include "sim/driver/call_log.h"
#include "sim/driver/sim_driver.h"
#include "sim/driver/sim_driver_config.h"
#include "sim/driver/sim_state.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <system_error>

namespace corva::sim {

namespace {

struct Session {
    DrsDatabase database;  // empty until loaded
};

struct DrsState {
    std::mutex lock;
    std::filesystem::path configuredFile;  // empty: environment or default
    std::map<uintptr_t, Session> sessions;
    uintptr_t nextSession = 1;
};

DrsState& drs() {
    static DrsState state;
    return state;
}

std::filesystem::path defaultStoreFile() {
    if (const char* fromEnvironment = std::getenv("TESSARAY_SIM_DRS_FILE");
        fromEnvironment != nullptr && fromEnvironment[0] != '\0')
        return std::filesystem::path(fromEnvironment);
    std::error_code error;
    std::filesystem::path directory = std::filesystem::temp_directory_path(error);
    if (error) directory.clear();  // the current directory, then
    return directory / "tessaray-sim-drs.txt";
}

std::filesystem::path storeFileLocked(const DrsState& state) {
    return state.configuredFile.empty() ? defaultStoreFile() : state.configuredFile;
}

// Handles are small numbers, never addresses: a stale or foreign handle is refused, not
// followed.
NvDRSSessionHandle toHandle(uintptr_t id) {
    return reinterpret_cast<NvDRSSessionHandle>(id);
}

Session* findSession(DrsState& state, NvDRSSessionHandle handle) {
    auto found = state.sessions.find(reinterpret_cast<uintptr_t>(handle));
    return found == state.sessions.end() ? nullptr : &found->second;
}

// Profile handle: index into the session's profiles plus one (profiles are never removed).
NvDRSProfileHandle profileHandle(size_t index) {
    return reinterpret_cast<NvDRSProfileHandle>(index + 1);
}

DrsProfileRecord* findProfile(Session& session, NvDRSProfileHandle handle) {
    const uintptr_t value = reinterpret_cast<uintptr_t>(handle);
    if (value == 0 || value > session.database.profiles.size()) return nullptr;
    return &session.database.profiles[value - 1];
}

// A name from a record or argument: terminated within the field's 2048 units, not empty,
// and without line breaks or other control characters.
bool readName(const char16_t* text, std::u16string& name) {
    if (text == nullptr) return false;
    name.clear();
    for (size_t i = 0; i < kNvUnicodeLength; ++i) {
        if (text[i] == u'\0') return !name.empty();
        if (text[i] < 0x20 || text[i] == 0x7F) return false;
        name.push_back(text[i]);
    }
    return false;
}

void writeName(char16_t (&field)[kNvUnicodeLength], const std::u16string& name) {
    const size_t length = std::min(name.size(), kNvUnicodeLength - 1);
    name.copy(field, length);
    field[length] = u'\0';
}

// Executable names compare without regard to ASCII case, as on Windows.
bool sameExecutable(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c; };
    for (size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return false;
    return true;
}

void logCall(const char* operation, const std::string& detail = {}) {
    CallLog::instance().record(detail.empty() ? std::string(operation)
                                              : std::string(operation) + "(" + detail + ")");
}

std::string hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

NvStatus simCreateSession(NvDRSSessionHandle* session) {
    logCall("NvAPI_DRS_CreateSession");
    if (const int32_t fault = faults().createSession; fault != 0) return fault;
    if (session == nullptr) return kSimInvalidArgument;
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    const uintptr_t id = state.nextSession++;
    state.sessions.emplace(id, Session{});
    *session = toHandle(id);
    return kNvOk;
}

NvStatus simLoadSettings(NvDRSSessionHandle session) {
    logCall("NvAPI_DRS_LoadSettings");
    if (const int32_t fault = faults().loadSettings; fault != 0) return fault;
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    Session* open = findSession(state, session);
    if (open == nullptr) return kSimInvalidHandle;
    DrsDatabase loaded;
    if (!readDrsDatabase(storeFileLocked(state), loaded)) return kSimStoreUnreadable;
    open->database = std::move(loaded);
    return kNvOk;
}

NvStatus simFindApplicationByName(NvDRSSessionHandle session, const char16_t* appName,
                                  NvDRSProfileHandle* profile, NVDRS_APPLICATION* application) {
    std::u16string name;
    const bool nameValid = readName(appName, name);
    logCall("NvAPI_DRS_FindApplicationByName", detail::toUtf8(name));
    if (const int32_t fault = faults().findApplication; fault != 0) return fault;
    if (!nameValid || profile == nullptr || application == nullptr) return kSimInvalidArgument;
    if (application->version != NVDRS_APPLICATION_VER) return kSimIncompatibleVersion;
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    Session* open = findSession(state, session);
    if (open == nullptr) return kSimInvalidHandle;
    const auto& profiles = open->database.profiles;
    for (size_t index = 0; index < profiles.size(); ++index) {
        for (const std::u16string& executable : profiles[index].applications) {
            if (!sameExecutable(executable, name)) continue;
            *application = NVDRS_APPLICATION{};
            application->version = NVDRS_APPLICATION_VER;
            writeName(application->appName, executable);
            *profile = profileHandle(index);
            return kNvOk;
        }
    }
    return kSimNotFound;
}

NvStatus simCreateProfile(NvDRSSessionHandle session, NVDRS_PROFILE* profileInfo,
                          NvDRSProfileHandle* profile) {
    std::u16string name;
    const bool nameValid = profileInfo != nullptr && readName(profileInfo->profileName, name);
    logCall("NvAPI_DRS_CreateProfile", detail::toUtf8(name));
    if (const int32_t fault = faults().createProfile; fault != 0) return fault;
    if (!nameValid || profile == nullptr) return kSimInvalidArgument;
    if (profileInfo->version != NVDRS_PROFILE_VER) return kSimIncompatibleVersion;
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    Session* open = findSession(state, session);
    if (open == nullptr) return kSimInvalidHandle;
    auto& profiles = open->database.profiles;
    for (const DrsProfileRecord& existing : profiles)
        if (existing.name == name) return kSimNameInUse;
    profiles.push_back(DrsProfileRecord{name, {}, {}});
    *profile = profileHandle(profiles.size() - 1);
    return kNvOk;
}

NvStatus simCreateApplication(NvDRSSessionHandle session, NvDRSProfileHandle profile,
                              NVDRS_APPLICATION* application) {
    std::u16string name;
    const bool nameValid = application != nullptr && readName(application->appName, name);
    logCall("NvAPI_DRS_CreateApplication", detail::toUtf8(name));
    if (const int32_t fault = faults().createApplication; fault != 0) return fault;
    if (!nameValid) return kSimInvalidArgument;
    if (application->version != NVDRS_APPLICATION_VER) return kSimIncompatibleVersion;
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    Session* open = findSession(state, session);
    if (open == nullptr) return kSimInvalidHandle;
    DrsProfileRecord* target = findProfile(*open, profile);
    if (target == nullptr) return kSimInvalidHandle;
    for (const DrsProfileRecord& existing : open->database.profiles)
        for (const std::u16string& executable : existing.applications)
            if (sameExecutable(executable, name)) return kSimNameInUse;
    target->applications.push_back(name);
    return kNvOk;
}

NvStatus simGetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile, uint32_t settingId,
                       NVDRS_SETTING* setting) {
    logCall("NvAPI_DRS_GetSetting", hex32(settingId));
    if (const int32_t fault = faults().getSetting; fault != 0) return fault;
    if (setting == nullptr) return kSimInvalidArgument;
    if (setting->version != NVDRS_SETTING_VER) return kSimIncompatibleVersion;
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    Session* open = findSession(state, session);
    if (open == nullptr) return kSimInvalidHandle;
    DrsProfileRecord* source = findProfile(*open, profile);
    if (source == nullptr) return kSimInvalidHandle;
    auto found = source->settings.find(settingId);
    if (found == source->settings.end()) return kSimNotFound;
    *setting = NVDRS_SETTING{};
    setting->version = NVDRS_SETTING_VER;
    setting->settingId = settingId;
    setting->settingType = NVDRS_DWORD_TYPE;
    setting->currentValue.u32 = found->second;
    return kNvOk;
}

NvStatus simSetSetting(NvDRSSessionHandle session, NvDRSProfileHandle profile, NVDRS_SETTING* setting) {
    if (setting == nullptr) {
        logCall("NvAPI_DRS_SetSetting");
        return kSimInvalidArgument;
    }
    logCall("NvAPI_DRS_SetSetting", hex32(setting->settingId) + "=" + hex32(setting->currentValue.u32));
    if (const int32_t fault = faults().setSetting; fault != 0) return fault;
    if (setting->version != NVDRS_SETTING_VER) return kSimIncompatibleVersion;
    // The store keeps 32-bit values only.
    if (setting->settingType != NVDRS_DWORD_TYPE) return kSimInvalidArgument;
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    Session* open = findSession(state, session);
    if (open == nullptr) return kSimInvalidHandle;
    DrsProfileRecord* target = findProfile(*open, profile);
    if (target == nullptr) return kSimInvalidHandle;
    target->settings[setting->settingId] = setting->currentValue.u32;
    return kNvOk;
}

NvStatus simSaveSettings(NvDRSSessionHandle session) {
    logCall("NvAPI_DRS_SaveSettings");
    if (const int32_t fault = faults().saveSettings; fault != 0) return fault;
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    Session* open = findSession(state, session);
    if (open == nullptr) return kSimInvalidHandle;
    return writeDrsDatabase(storeFileLocked(state), open->database) ? kNvOk : kSimError;
}

NvStatus simDestroySession(NvDRSSessionHandle session) {
    logCall("NvAPI_DRS_DestroySession");
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

void setDrsStoreFile(const std::filesystem::path& path) {
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    state.configuredFile = path;
}

std::filesystem::path drsStoreFile() {
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    return storeFileLocked(state);
}

int openSessionCount() {
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    return static_cast<int>(state.sessions.size());
}

void detail::resetDrsState() {
    DrsState& state = drs();
    std::lock_guard<std::mutex> lock(state.lock);
    state.configuredFile.clear();
    state.sessions.clear();
}

}  // namespace corva::sim
