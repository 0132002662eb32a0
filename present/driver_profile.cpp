#include "present/driver_profile.h"

#include "nvapi/nvapi.h"
#include "lines/printed_lines.h"
#include "lines/printer.h"

namespace corva {

namespace {

constexpr const char16_t* kProfileName = u"corva";
constexpr const char16_t* kApplicationName = u"tessaray.exe";
constexpr uint32_t kPowerManagementModeId = 0x1057EB71;
constexpr uint32_t kPreferMaximumPerformance = 1;

// Bounded copy into a record's name field, always terminated.
void copyName(char16_t (&field)[kNvUnicodeLength], const char16_t* text) {
    size_t i = 0;
    for (; i + 1 < kNvUnicodeLength && text[i] != u'\0'; ++i) field[i] = text[i];
    field[i] = u'\0';
}

// Steps from loading the settings to saving them; false when one of them failed.
// `written` tells whether the setting had to be written.
bool pinInSession(NvDRSSessionHandle session, bool& written) {
    written = false;
    if (NvAPI_DRS_LoadSettings(session) != kNvOk) return false;

    NvDRSProfileHandle profile = nullptr;
    // A whole name field, as the driver's interface takes it: a driver may read all of it.
    NvUnicodeString appName{};
    copyName(appName, kApplicationName);
    NVDRS_APPLICATION application{};
    application.version = NVDRS_APPLICATION_VER;
    if (NvAPI_DRS_FindApplicationByName(session, appName, &profile, &application) != kNvOk) {
        NVDRS_PROFILE profileInfo{};
        profileInfo.version = NVDRS_PROFILE_VER;
        copyName(profileInfo.profileName, kProfileName);
        if (NvAPI_DRS_CreateProfile(session, &profileInfo, &profile) != kNvOk) return false;

        application = NVDRS_APPLICATION{};
        application.version = NVDRS_APPLICATION_VER;
        copyName(application.appName, kApplicationName);
        if (NvAPI_DRS_CreateApplication(session, profile, &application) != kNvOk) return false;
    }

    NVDRS_SETTING setting{};
    setting.version = NVDRS_SETTING_VER;
    if (NvAPI_DRS_GetSetting(session, profile, kPowerManagementModeId, &setting) == kNvOk &&
        setting.currentValue.u32 == kPreferMaximumPerformance)
        return true;

    setting = NVDRS_SETTING{};
    setting.version = NVDRS_SETTING_VER;
    setting.settingId = kPowerManagementModeId;
    setting.settingType = NVDRS_DWORD_TYPE;
    setting.currentValue.u32 = kPreferMaximumPerformance;
    if (NvAPI_DRS_SetSetting(session, profile, &setting) != kNvOk) return false;
    if (NvAPI_DRS_SaveSettings(session) != kNvOk) return false;
    written = true;
    return true;
}

}  // namespace

void pinDriverProfile() {
    NvDRSSessionHandle session = nullptr;
    if (NvAPI_DRS_CreateSession(&session) != kNvOk) return;

    bool written = false;
    if (!pinInSession(session, written))
        lines::print(lines::kProfileFailed);
    else if (written)
        lines::print(lines::kProfilePinned);

    NvAPI_DRS_DestroySession(session);
}

}  // namespace corva
