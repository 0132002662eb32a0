// The public face of the simulated display: defaults, configuration, faults, ground truth.
#include "sim/driver/sim_display.h"

#include "sim/driver/display_model.h"

namespace corva::sim {

using detail::DisplayModel;

NvDirectModeDisplay makeDisplay(uint32_t displayId) {
    NvDirectModeDisplay display{};
    display.displayId = displayId;
    // The driver's own bytes: recognisable, so tests can see they travel unchanged.
    for (uint8_t i = 0; i < sizeof(display.driverData); ++i)
        display.driverData[i] = static_cast<uint8_t>(0xA0 + i);
    return display;
}

NvDirectModeMode makeMode(uint32_t width, uint32_t height, uint32_t refreshNum, uint32_t refreshDen,
                          uint32_t format) {
    NvDirectModeMode mode{};
    mode.version = kModeRecordVersion;
    mode.width = width;
    mode.height = height;
    mode.refreshNum = refreshNum;
    mode.refreshDen = refreshDen;
    mode.format = format;
    for (uint8_t i = 0; i < sizeof(mode.driverData); ++i)
        mode.driverData[i] = static_cast<uint8_t>((refreshNum + i * 17) & 0xFF);
    // As the driver lists them: compression off, its other fields left at its own values.
    mode.dscEnable = 0;
    mode.dscVersion = 0x12;
    mode.dscSlices = 2;
    mode.dscBitsPerPixelX16 = 192;
    return mode;
}

DisplayConfig defaultHeadset() {
    DisplayConfig config;
    config.displays = {makeDisplay(0x80061082)};
    config.modes = {
        makeMode(1920, 1080, 60000, 1000, 22),  makeMode(5088, 2544, 90000, 1000, 22),
        makeMode(5088, 2544, 75000, 1000, 22),  makeMode(5088, 2544, 75000, 1000, 19),
        makeMode(5088, 2544, 120000, 1000, 19), makeMode(2544, 2544, 75000, 1000, 22),
    };
    config.surfaceFormat = 90;  // DXGI_FORMAT_B8G8R8A8_TYPELESS
    return config;
}

void resetDisplay(const DisplayConfig& config) {
    DisplayModel::instance().reset(config);
}

void setStatusScript(NvInterfaceId operation, const StatusScript& script) {
    DisplayModel::instance().setStatusScript(operation, script);
}

void setVblankLost(bool lost) {
    DisplayModel::instance().setVblankLost(lost);
}
void setWaitableDead(bool dead) {
    DisplayModel::instance().setWaitableDead(dead);
}
void setDeviceRemoved(bool removed) {
    DisplayModel::instance().setDeviceRemoved(removed);
}
void failPresents(uint32_t count, NvStatus status) {
    DisplayModel::instance().failPresents(count, status);
}

DisplayState displayState() {
    return DisplayModel::instance().state();
}
std::vector<PanelTransition> panelTransitions() {
    return DisplayModel::instance().panelTransitions();
}
void setPanelPowerListener(PanelPowerListener listener) {
    DisplayModel::instance().setPanelPowerListener(std::move(listener));
}

Timeline timeline() {
    return DisplayModel::instance().timeline();
}
void clearTimeline() {
    DisplayModel::instance().clearTimeline();
}

}  // namespace corva::sim
