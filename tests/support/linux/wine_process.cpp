#include "tests/support/linux/wine_process.h"

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace corva::test {

namespace {

const std::string kBuildDir = TESSARAY_WINDOWS_BUILD_DIR;

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    std::string s = text.str();
    s.erase(std::remove(s.begin(), s.end(), '\r'), s.end());
    return s;
}

}  // namespace

std::string wineSkipReason() {
    for (const char* file : {"/app/tessaray.exe", "/sim/nvapi64.dll"})
        if (!std::filesystem::exists(kBuildDir + file))
            return "no Windows build at " + kBuildDir + " (need " + std::string(file + 1) +
                   "; build it with: scripts/build windows)";
    if (access("/usr/lib/wine/wine64", X_OK) != 0 || std::system("command -v xvfb-run >/dev/null") != 0)
        return "Wine or xvfb-run is not installed (.ci/install-deps installs them)";
    return {};
}

std::string plantedLibrary(const std::string& name) {
    return kBuildDir + "/tests/wine/planted/" + name;
}

SimProcessResult runWine(const WineRunOptions& options, const WineRunExtras& extras) {
    static int runs = 0;
    const std::filesystem::path outDir =
        std::filesystem::temp_directory_path() /
        ("tessaray-wine-" + std::to_string(getpid()) + "-" + std::to_string(runs++));
    std::filesystem::remove_all(outDir);
    SimProcessOptions process;
    process.scenario = options.scenario;
    process.everyMode = options.everyMode;
    process.program = std::string(TESSARAY_SOURCE_DIR) + "/scripts/wine-run";
    process.args = {"--build-dir", kBuildDir,  "--out",        outDir.string(), "--timeout",
                    "90",          "--driver", options.driver, "--scenario",    childScenario(process)};
    if (options.freshStore) process.args.push_back("--fresh-store");
    for (const std::string& library : extras.planted)
        process.args.insert(process.args.end(), {"--plant", library});
    if (extras.endSessionAt > 0.0)
        process.args.insert(process.args.end(), {"--end-session-at", std::to_string(extras.endSessionAt)});
    if (!extras.callLog.empty()) process.args.insert(process.args.end(), {"--call-log", extras.callLog});
    if (extras.stdoutHeadLines > 0)
        process.args.insert(process.args.end(), {"--stdout-head", std::to_string(extras.stdoutHeadLines)});
    if (extras.secondAt > 0.0)
        process.args.insert(process.args.end(), {"--second-at", std::to_string(extras.secondAt)});
    process.args.push_back("--");
    process.args.insert(process.args.end(), options.args.begin(), options.args.end());
    process.timeoutSeconds = 150.0;
    process.environment = options.environment;
    process.everyMode = true;  // wine-run hands the exe the scenario given above
    SimProcessResult run = runSim(process);

    const std::filesystem::path exitCode = outDir / "exit-code";
    if (!run.started || run.exitCode == 125 || !std::filesystem::exists(exitCode)) {
        run.started = false;
        run.err =
            "scripts/wine-run failed (exit " + std::to_string(run.exitCode) + "):\n" + run.out + run.err;
        run.out.clear();
    } else {
        run.exitCode = int(std::strtol(fileText(exitCode).c_str(), nullptr, 10));
        run.out = fileText(outDir / "stdout");
        run.err = fileText(outDir / "stderr");
        if (extras.second != nullptr && std::filesystem::exists(outDir / "second-exit-code")) {
            extras.second->started = true;
            extras.second->exitCode =
                int(std::strtol(fileText(outDir / "second-exit-code").c_str(), nullptr, 10));
            extras.second->out = fileText(outDir / "second-stdout");
            extras.second->err = fileText(outDir / "second-stderr");
        }
    }
    std::filesystem::remove_all(outDir);
    return run;
}

}  // namespace corva::test
