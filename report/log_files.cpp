#include "report/log_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

#include "report/console.h"
#include "report/log_parser.h"

namespace corva::report {
namespace {

namespace fs = std::filesystem;

// Paths travel as UTF-8 strings.
fs::path pathOf(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string textOf(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// Far beyond any log of the program (its longest run prints a few hundred kilobytes): an
// endless input (a device, standard input from one) is cut off here and refused.
constexpr size_t kMaxLogBytes = size_t(64) << 20;

enum class Read { Ok, Unreadable, NotAFile, TooLarge };

Read readBounded(std::istream& in, std::string& bytes) {
    char buffer[1 << 16];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        bytes.append(buffer, size_t(in.gcount()));
        if (bytes.size() > kMaxLogBytes) return Read::TooLarge;
    }
    return in.bad() ? Read::Unreadable : Read::Ok;
}

// Only regular files: a device never ends and a pipe without a writer blocks the open
// ("-" reads standard input, whatever it is).
Read readAll(const std::string& path, std::string& bytes) {
    if (path == "-") return readBounded(std::cin, bytes);
    std::error_code error;
    const fs::file_status status = fs::status(pathOf(path), error);
    if (error) return Read::Unreadable;
    if (!fs::is_regular_file(status)) return Read::NotAFile;
    std::ifstream file(pathOf(path), std::ios::binary);
    if (!file) return Read::Unreadable;
    return readBounded(file, bytes);
}

std::vector<std::string> expand(const std::vector<std::string>& paths, bool sayEmpty = true) {
    std::vector<std::string> files;
    for (const std::string& path : paths) {
        std::error_code error;
        if (path != "-" && fs::is_directory(pathOf(path), error)) {
            std::vector<std::string> inFolder;
            for (const auto& entry : fs::directory_iterator(pathOf(path), error))
                if (entry.is_regular_file(error) && entry.path().extension() == ".log")
                    inFolder.push_back(textOf(entry.path()));
            std::sort(inFolder.begin(), inFolder.end());
            if (inFolder.empty() && sayEmpty) complain("%s: no *.log file in this folder", path.c_str());
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else {
            files.push_back(path);
        }
    }
    return files;
}

}  // namespace

bool loadLogs(const std::vector<std::string>& paths, std::vector<ParsedLog>& logs) {
    return loadLogs(paths, logs, LogSeen());
}

bool loadLogs(const std::vector<std::string>& paths, std::vector<ParsedLog>& logs, const LogSeen& onLog) {
    bool allGood = true;
    for (const std::string& path : expand(paths)) {
        std::string bytes;
        const Read read = readAll(path, bytes);
        if (read != Read::Ok) {
            complain("%s: %s", path.c_str(),
                     read == Read::NotAFile ? "not a regular file (a device or a pipe): give a saved log, or "
                                              "'-' to read standard input"
                     : read == Read::TooLarge ? "larger than 64 MiB: not a tessaray log"
                                              : "cannot read this file");
            allGood = false;
            continue;
        }
        ParsedLog log = parseLog(bytes, path);
        if (!log.isLog) {
            if (bytes.empty()) {
                complain("%s: empty, not a tessaray log", path.c_str());
            } else {
                complain("%s: not a tessaray log (%s, %zu lines, none of them a line the program prints)",
                         path.c_str(), log.encoding.c_str(), log.lines);
            }
            allGood = false;
            continue;
        }
        if (onLog) onLog(log, bytes);
        logs.push_back(std::move(log));
    }
    return allGood;
}

std::vector<std::string> logFilesOf(const std::vector<std::string>& paths) {
    return expand(paths, false);
}

}  // namespace corva::report
