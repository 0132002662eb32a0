// The simulated driver and the simulated microcontroller in two processes (the driver in
// the program, the MCU in the HID daemon) share one headset through a small file: the
// driver appends a line for every change of the panels' power, and the daemon follows the
// file and feeds the changes to its headset model, so the telemetry's display-status word
// follows the panels as it does when both run in one process.
#pragma once

#include <functional>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace corva::sim {

class Headset;

// The environment variable naming the file (a path the writing process can open).
constexpr const char* kPanelFileVariable = "TESSARAY_SIM_PANEL_FILE";

struct PanelChange {
    bool on = false;
    bool compressed = false;  // woken with a compression-forced mode
};

// The file's one record, a line per change: "panel on=1 dsc=0", its fields (each 0 or 1) in
// this order.
constexpr std::string_view kPanelRecord = "panel";
struct PanelField {
    std::string_view name;
    bool PanelChange::*value;
};
inline constexpr PanelField kPanelFields[] = {{"on", &PanelChange::on}, {"dsc", &PanelChange::compressed}};

std::string panelLine(const PanelChange& change);
// The line without its '\n'; false for a line this format does not have.
bool parsePanelLine(std::string_view line, PanelChange& out);

// Appends changes to the file named by the environment; does nothing when it is unset.
class PanelLinkWriter {
  public:
    PanelLinkWriter();
    ~PanelLinkWriter();
    PanelLinkWriter(const PanelLinkWriter&) = delete;
    PanelLinkWriter& operator=(const PanelLinkWriter&) = delete;

    bool active() const { return file_ != nullptr; }
    void write(const PanelChange& change);

  private:
    std::FILE* file_ = nullptr;
};

// Reads the complete lines appended since the last call; a partial last line waits.
class PanelLinkReader {
  public:
    explicit PanelLinkReader(std::string path) : path_(std::move(path)) {}
    std::vector<PanelChange> poll();

  private:
    std::string path_;
    long offset_ = 0;
    std::string pending_;
};

// Every change of the simulated driver's panel power from now on goes to `link` and, when
// given, to `headset`, with whether the mode forces compression.
// `also`, when given, is told of each change after the headset and the link.
void connectPanelPower(PanelLinkWriter& link, Headset* headset,
                       std::function<void(bool on, int64_t atNs)> also = nullptr);

}  // namespace corva::sim
