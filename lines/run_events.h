// What the lines of a run make of it in tessaray-report: the events of a run's time line and
// the kinds of failure, each with the name the report's outputs give it. The table of printed
// lines (lines/printed_lines.h) says which event and which kind of failure each line records.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corva::lines {

// clang-format off
// X(Kind, "name"): the markers' events are named as their lines name them.
#define TESSARAY_RUN_EVENTS(X)                                                         \
    X(InitStart, "INIT_START")                                                         \
    X(InitDone, "INIT_DONE")                                                           \
    X(FirstDraw, "FIRST_DRAW")                                                         \
    X(CycleStart, "CYCLE")                                                             \
    X(ParkRequest, "PARK_REQUEST")                                                     \
    X(ParkDone, "PARK_DONE")                                                           \
    X(DozeSleepRequest, "DOZE_SLEEP_REQUEST")                                          \
    X(DozeAsleep, "DOZE_ASLEEP")                                                       \
    X(WakeRequest, "WAKE_REQUEST")                                                     \
    X(DstatChange, "DSTAT_CHANGE")                                                     \
    X(WakeLatency, "WARM_WAKE_LATENCY")                                                \
    /* value: the midpoint of the displays-on interval, ms from the request */        \
    X(WakePhases, "WAKE_PHASES")                                                       \
    X(PanelsOff, "PANELS_OFF")                                                         \
    X(PanelsOn, "PANELS_ON")                                                           \
    X(FreeRunStart, "FREE_RUN_START")                                                  \
    X(FreeRunEnd, "FREE_RUN_END")                                                      \
    X(McuLost, "MCU_LOST")                                                             \
    X(McuReconnected, "MCU_RECONNECTED")                                               \
    X(CycleAbandoned, "CYCLE_ABANDONED")                                               \
    /* a line of the program about how the run ends */                                \
    X(RunNote, "RUN_NOTE")                                                             \
    X(Failure, "FAILURE")                                                              \
    X(BenchEnd, "BENCH_END")                                                           \
    X(Result, "RESULT")

// X(Kind, "name")
#define TESSARAY_FAILURE_KINDS(X)                                                      \
    X(Driver, "driver")            /* a driver call's status line */                   \
    X(Graphics, "graphics")        /* a D3D12 call's result line */                    \
    X(Present, "present")          /* a failed present */                              \
    X(DisplayLost, "display-lost") /* device removed, waitable dead */                 \
    X(Init, "init")                /* bring-up refused: no display, no mode, surface format */ \
    X(Mcu, "mcu")                  /* the microcontroller: not found, lost, silent */  \
    X(Other, "other")              /* a warning or failure line of another kind */
// clang-format on

#define TESSARAY_KIND_ENUM(kind, name) kind,
#define TESSARAY_KIND_NAME(kind, name) name,

enum class EventKind : uint8_t { TESSARAY_RUN_EVENTS(TESSARAY_KIND_ENUM) };
inline constexpr const char* kEventNames[] = {TESSARAY_RUN_EVENTS(TESSARAY_KIND_NAME)};

enum class FailureKind : uint8_t { TESSARAY_FAILURE_KINDS(TESSARAY_KIND_ENUM) };
inline constexpr const char* kFailureKindNames[] = {TESSARAY_FAILURE_KINDS(TESSARAY_KIND_NAME)};

#undef TESSARAY_KIND_ENUM
#undef TESSARAY_KIND_NAME

constexpr const char* eventName(EventKind kind) {
    return kEventNames[static_cast<size_t>(kind)];
}

constexpr const char* failureKindName(FailureKind kind) {
    return kFailureKindNames[static_cast<size_t>(kind)];
}

}  // namespace corva::lines
