#include "report/log_files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

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

bool readAll(const std::string& path, std::string& bytes) {
    if (path == "-") {
        std::ostringstream text;
        text << std::cin.rdbuf();
        bytes = text.str();
        return true;
    }
    std::ifstream file(pathOf(path), std::ios::binary);
    if (!file) return false;
    bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    return !file.bad();
}

std::vector<std::string> expand(const std::vector<std::string>& paths) {
    std::vector<std::string> files;
    for (const std::string& path : paths) {
        std::error_code error;
        if (path != "-" && fs::is_directory(pathOf(path), error)) {
            std::vector<std::string> inFolder;
            for (const auto& entry : fs::directory_iterator(pathOf(path), error))
                if (entry.is_regular_file(error) && entry.path().extension() == ".log")
                    inFolder.push_back(textOf(entry.path()));
            std::sort(inFolder.begin(), inFolder.end());
            if (inFolder.empty())
                std::fprintf(stderr, "tessaray-report: %s: no *.log file in this folder\n", path.c_str());
            files.insert(files.end(), inFolder.begin(), inFolder.end());
        } else {
            files.push_back(path);
        }
    }
    return files;
}

}  // namespace

bool loadLogs(const std::vector<std::string>& paths, std::vector<ParsedLog>& logs) {
    bool allGood = true;
    for (const std::string& path : expand(paths)) {
        std::string bytes;
        if (!readAll(path, bytes)) {
            std::fprintf(stderr, "tessaray-report: %s: cannot read this file\n", path.c_str());
            allGood = false;
            continue;
        }
        ParsedLog log = parseLog(bytes, path);
        if (!log.isLog) {
            if (bytes.empty()) {
                std::fprintf(stderr, "tessaray-report: %s: empty, not a tessaray log\n", path.c_str());
            } else {
                std::fprintf(
                    stderr,
                    "tessaray-report: %s: not a tessaray log (%s, %zu lines, none of them a line the "
                    "program prints)\n",
                    path.c_str(), log.encoding.c_str(), log.lines);
            }
            allGood = false;
            continue;
        }
        logs.push_back(std::move(log));
    }
    return allGood;
}

}  // namespace corva::report
