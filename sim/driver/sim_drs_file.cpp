// The simulated driver-settings database on file: a small text file, UTF-8, one item a
// line, so it can be read and edited by hand:
//
//   tessaray-sim driver settings 1
//   profile corva
//   app tessaray.exe
//   setting 0x1057eb71 0x1
//
// "app" and "setting" lines belong to the profile above them.
#include "sim/driver/sim_driver_config.h"
#include "sim/driver/sim_state.h"

#include <charconv>
#include <fstream>
#include <string_view>
#include <system_error>

namespace corva::sim {

namespace {

constexpr std::string_view kHeader = "tessaray-sim driver settings 1";
constexpr std::string_view kProfile = "profile ";
constexpr std::string_view kApplication = "app ";
constexpr std::string_view kSetting = "setting ";

bool parseHex32(std::string_view text, uint32_t& value) {
    if (text.size() < 3 || text.substr(0, 2) != "0x") return false;
    const char* end = text.data() + text.size();
    auto [next, error] = std::from_chars(text.data() + 2, end, value, 16);
    return error == std::errc{} && next == end;
}

bool parseSetting(std::string_view text, DrsProfileRecord& profile) {
    const size_t blank = text.find(' ');
    if (blank == std::string_view::npos) return false;
    uint32_t id = 0;
    uint32_t value = 0;
    if (!parseHex32(text.substr(0, blank), id) || !parseHex32(text.substr(blank + 1), value)) return false;
    profile.settings[id] = value;
    return true;
}

bool parseLine(std::string_view line, DrsDatabase& database) {
    std::u16string name;
    if (line.starts_with(kProfile)) {
        if (!detail::fromUtf8(std::string(line.substr(kProfile.size())), name) || name.empty()) return false;
        database.profiles.push_back(DrsProfileRecord{name, {}, {}});
        return true;
    }
    if (database.profiles.empty()) return false;  // items before any profile
    if (line.starts_with(kApplication)) {
        if (!detail::fromUtf8(std::string(line.substr(kApplication.size())), name) || name.empty())
            return false;
        database.profiles.back().applications.push_back(name);
        return true;
    }
    if (line.starts_with(kSetting))
        return parseSetting(line.substr(kSetting.size()), database.profiles.back());
    return false;
}

std::string hex32(uint32_t value) {
    char text[16] = "0x";
    auto [end, error] = std::to_chars(text + 2, text + sizeof text, value, 16);
    (void)error;  // ten characters always fit
    return std::string(text, end);
}

}  // namespace

bool readDrsDatabase(const std::filesystem::path& file, DrsDatabase& database) {
    database = DrsDatabase{};
    std::error_code error;
    if (!std::filesystem::exists(file, error)) return !error;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string line;
    bool first = true;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();  // edited on Windows
        if (first) {
            first = false;
            if (line != kHeader) return false;
            continue;
        }
        if (line.empty()) continue;
        if (!parseLine(line, database)) return false;
    }
    return in.eof();  // an empty file is an empty database
}

bool writeDrsDatabase(const std::filesystem::path& file, const DrsDatabase& database) {
    std::error_code error;
    if (file.has_parent_path()) std::filesystem::create_directories(file.parent_path(), error);
    std::filesystem::path partial = file;
    partial += ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << kHeader << '\n';
        for (const DrsProfileRecord& profile : database.profiles) {
            out << kProfile << detail::toUtf8(profile.name) << '\n';
            for (const std::u16string& application : profile.applications)
                out << kApplication << detail::toUtf8(application) << '\n';
            for (const auto& [id, value] : profile.settings)
                out << kSetting << hex32(id) << ' ' << hex32(value) << '\n';
        }
        out.close();
        if (!out) {
            std::filesystem::remove(partial, error);
            return false;
        }
    }
    // Replacing in one step: the old database stays whole until the new one is.
    std::filesystem::rename(partial, file, error);
    if (error) {
        std::filesystem::remove(partial, error);
        return false;
    }
    return true;
}

std::string detail::toUtf8(const std::u16string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        uint32_t code = text[i];
        if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        }
        if (code < 0x80) {
            out.push_back(static_cast<char>(code));
        } else if (code < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (code >> 6)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else if (code < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (code >> 12)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (code >> 18)));
            out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
        }
    }
    return out;
}

bool detail::fromUtf8(const std::string& text, std::u16string& out) {
    out.clear();
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        size_t length = 0;
        uint32_t code = 0;
        uint32_t smallest = 0;  // below it the sequence is overlong
        if (lead < 0x80) {
            length = 1;
            code = lead;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
            smallest = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
            smallest = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
            smallest = 0x10000;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < smallest || code > 0x10FFFF) return false;
        if (code >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
        i += length;
    }
    return true;
}

}  // namespace corva::sim
