#include "app/telemetry_setting.h"

namespace corva {

bool telemetryIntervalFrom(const char* text, uint16_t& ms) {
    ms = kDefaultTelemetryMs;
    if (text == nullptr) return true;
    unsigned value = 0;
    int digits = 0;
    for (const char* p = text; *p != '\0'; ++p, ++digits) {
        if (*p < '0' || *p > '9' || digits >= 3) return false;
        value = value * 10 + unsigned(*p - '0');
    }
    if (digits == 0 || value < 1 || value > kDefaultTelemetryMs) return false;
    ms = uint16_t(value);
    return true;
}

}  // namespace corva
