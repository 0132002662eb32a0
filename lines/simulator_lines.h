// The simulated headset's own lines (tessaray-sim, the stand-in nvapi64.dll, tessaray-hidd), in
// one table beside the program's: the simulator prints these, and tessaray-report reads them
// through lines::classifySimulator, as the simulator's and not the program's. None says
// anything about a run of the program: each is a complaint about the simulator's own set-up
// (a scenario it cannot read, a file it cannot write) or the HID daemon's account.
//
// Each entry: X(Name, stream, (field types...), "format\n"), as in lines/printed_lines.h.
// The simulator prints them with lines::printSimulatorLine, directly (it has no output queue).
#pragma once

#include <cstddef>
#include <cstdio>
#include <string_view>
#include <type_traits>

#include "lines/line_format.h"
#include "lines/line_scan.h"

// Who speaks: the start of each of the simulator's lines.
#define TESSARAY_SIM_PROGRAM "tessaray-sim: "
#define TESSARAY_SIM_DRIVER "nvapi64.dll (simulated): "
#define TESSARAY_SIM_HIDD "tessaray-hidd: "

namespace corva::lines {

// clang-format off
#define TESSARAY_SIMULATOR_LINES(X)                                                                            \
    /* A scenario (TESSARAY_SIM_SCENARIO) that cannot be read: the simulator stops before the run. */         \
    X(SimBadScenario, Err, (const char*), TESSARAY_SIM_PROGRAM "bad TESSARAY_SIM_SCENARIO: %s\n")              \
    X(DriverBadScenario, Err, (const char*), TESSARAY_SIM_DRIVER "bad TESSARAY_SIM_SCENARIO: %s\n")            \
    X(HiddBadScenario, Err, (const char*), TESSARAY_SIM_HIDD "bad TESSARAY_SIM_SCENARIO: %s\n")                \
    /* Events of the scenario that this part of the simulator does not play. */                               \
    X(SimEventsIgnored, Err, (const char*),                                                                    \
      TESSARAY_SIM_PROGRAM "scenario events not simulated here, ignored: %s\n")                               \
    X(DriverEventsIgnored, Err, (const char*),                                                                 \
      TESSARAY_SIM_DRIVER "scenario events not simulated here, ignored: %s\n")                                \
    X(HiddEventsIgnored, Err, (const char*),                                                                   \
      TESSARAY_SIM_HIDD "scenario events not simulated here, ignored: %s\n")                                  \
    X(SimBadHid, Err, (const char*), TESSARAY_SIM_PROGRAM "bad TESSARAY_SIM_HID '%s' (sim or hidraw)\n")       \
    X(SimTruthNotWritten, Err, (const char*), TESSARAY_SIM_PROGRAM "cannot write the ground truth to '%s'\n")  \
    X(HiddTruthNotWritten, Err, (const char*), TESSARAY_SIM_HIDD "cannot write the ground truth to '%s'\n")    \
    /* The driver's call log and panel file (a test's record, in another process). */                         \
    X(DriverCallLogNotAppended, Err, (const char*, const char*), TESSARAY_SIM_DRIVER "cannot append to %s '%s'\n") \
    X(PanelFileNotAppended, Err, (const char*, const char*), "simulated driver: cannot append to %s '%s'\n")   \
    /* tessaray-hidd: the simulated MCU served as a system HID device. */                                      \
    X(HiddServing, Out, (const char*), TESSARAY_SIM_HIDD "serving 35BD:0101%s\n")                              \
    X(HiddReportsSent, Out, (unsigned long long), TESSARAY_SIM_HIDD "%llu input reports sent\n")               \
    X(HiddFailed, Err, (const char*), TESSARAY_SIM_HIDD "%s\n")
// clang-format on

enum class SimulatorLineId : uint16_t {
#define TESSARAY_SIM_LINE_ID(name, stream, fields, text) name,
    TESSARAY_SIMULATOR_LINES(TESSARAY_SIM_LINE_ID)
#undef TESSARAY_SIM_LINE_ID
};

#define TESSARAY_SIM_LINE_FORMAT(name, stream, fields, text) \
    inline constexpr LineFormat<TESSARAY_SIM_LINE_FIELD_TYPES fields> k##name{Stream::stream, text};
#define TESSARAY_SIM_LINE_FIELD_TYPES(...) __VA_ARGS__
TESSARAY_SIMULATOR_LINES(TESSARAY_SIM_LINE_FORMAT)
#undef TESSARAY_SIM_LINE_FORMAT

struct SimulatorLine {
    SimulatorLineId id;
    const char* name;
    Stream stream;
    const char* format;
    std::string_view prefix;
    size_t fields;
    bool (*fieldsRead)(const ScannedField*);
};

inline constexpr SimulatorLine kSimulatorLines[] = {
#define TESSARAY_SIM_LINE_ENTRY(name, stream, fields, text) \
    {SimulatorLineId::name,                                 \
     #name,                                                 \
     Stream::stream,                                        \
     k##name.format(),                                      \
     k##name.prefix(),                                      \
     k##name.fieldCount(),                                  \
     &detail::fieldsRead<TESSARAY_SIM_LINE_FIELD_TYPES fields>},
    TESSARAY_SIMULATOR_LINES(TESSARAY_SIM_LINE_ENTRY)
#undef TESSARAY_SIM_LINE_ENTRY
};

// The lines of one part of the simulator that speak of its scenario.
struct SimulatorVoice {
    const LineFormat<const char*>& badScenario;
    const LineFormat<const char*>& eventsIgnored;
};
inline constexpr SimulatorVoice kSimProgramVoice{kSimBadScenario, kSimEventsIgnored};
inline constexpr SimulatorVoice kSimDriverVoice{kDriverBadScenario, kDriverEventsIgnored};
inline constexpr SimulatorVoice kSimHiddVoice{kHiddBadScenario, kHiddEventsIgnored};

// Prints one of the simulator's lines at once, in one write.
template <typename... Fields>
void printSimulatorLine(const LineFormat<Fields...>& line, std::type_identity_t<Fields>... fields) {
    std::FILE* stream = line.stream() == Stream::Err ? stderr : stdout;
    std::fprintf(stream, line.format(), detail::vararg(detail::printable(fields))...);
    if (line.stream() == Stream::Out) std::fflush(stream);
}

}  // namespace corva::lines
