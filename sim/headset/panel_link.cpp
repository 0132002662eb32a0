#include "sim/headset/panel_link.h"

#include "lines/simulator_lines.h"
#include "sim/driver/sim_display.h"
#include "sim/headset/headset.h"

#include <cstdlib>

namespace corva::sim {

std::string panelLine(const PanelChange& change) {
    std::string line(kPanelRecord);
    for (const PanelField& field : kPanelFields) {
        line += ' ';
        line += field.name;
        line += change.*field.value ? "=1" : "=0";
    }
    return line + "\n";
}

bool parsePanelLine(std::string_view line, PanelChange& out) {
    if (!line.starts_with(kPanelRecord)) return false;
    line.remove_prefix(kPanelRecord.size());
    PanelChange change;
    for (const PanelField& field : kPanelFields) {
        // " name=" then one digit, 0 or 1.
        if (line.size() < field.name.size() + 3 || line[0] != ' ' ||
            !line.substr(1).starts_with(field.name) || line[field.name.size() + 1] != '=')
            return false;
        const char flag = line[field.name.size() + 2];
        if (flag != '0' && flag != '1') return false;
        change.*field.value = flag == '1';
        line.remove_prefix(field.name.size() + 3);
    }
    if (!line.empty()) return false;
    out = change;
    return true;
}

PanelLinkWriter::PanelLinkWriter() {
    const char* path = std::getenv(kPanelFileVariable);
    if (path == nullptr || *path == '\0') return;
    file_ = std::fopen(path, "ab");
    if (file_ == nullptr) lines::printSimulatorLine(lines::kPanelFileNotAppended, kPanelFileVariable, path);
}

PanelLinkWriter::~PanelLinkWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

void PanelLinkWriter::write(const PanelChange& change) {
    if (file_ == nullptr) return;
    // One write per line, flushed at once: the daemon must see it within milliseconds.
    const std::string line = panelLine(change);
    std::fwrite(line.data(), 1, line.size(), file_);
    std::fflush(file_);
}

std::vector<PanelChange> PanelLinkReader::poll() {
    std::vector<PanelChange> changes;
    std::FILE* file = std::fopen(path_.c_str(), "rb");
    if (file == nullptr) return changes;
    if (std::fseek(file, offset_, SEEK_SET) == 0) {
        char chunk[512];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
            pending_.append(chunk, got);
            offset_ += long(got);
        }
    }
    std::fclose(file);
    for (size_t end; (end = pending_.find('\n')) != std::string::npos;) {
        PanelChange change;
        if (parsePanelLine(pending_.substr(0, end), change)) changes.push_back(change);
        pending_.erase(0, end + 1);
    }
    return changes;
}

void connectPanelPower(PanelLinkWriter& link, Headset* headset,
                       std::function<void(bool on, int64_t atNs)> also) {
    setPanelPowerListener([&link, headset, also = std::move(also)](bool on, int64_t atNs) {
        // Outside the display's lock: its state may be read here.
        const bool compressed = on && displayState().mode.dscEnable != 0;
        if (headset != nullptr) headset->panelPower(on, compressed, atNs);
        link.write({on, compressed});
        if (also) also(on, atNs);
    });
}

}  // namespace corva::sim
