#include "tests/support/linux/sim_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

extern char** environ;

namespace corva::test {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The parent's environment with the simulator's variables replaced.
std::vector<std::string> childEnvironment(const SimProcessOptions& options, const std::string& storeFile) {
    const std::vector<std::pair<std::string, std::string>> ours = {
        {"TESSARAY_SIM_SCENARIO", childScenario(options)},
        {"TESSARAY_SIM_TRUTH_FILE", options.truthFile},
        {"TESSARAY_SIM_DRS_FILE", storeFile},  // never the shared default store
    };
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        bool replaced = false;
        for (const auto& [name, value] : ours) replaced = replaced || entry.rfind(name + "=", 0) == 0;
        if (!replaced) env.push_back(entry);
    }
    for (const auto& [name, value] : ours)
        if (!value.empty()) env.push_back(name + "=" + value);
    env.insert(env.end(), options.environment.begin(), options.environment.end());
    return env;
}

// The headline of a sanitizer report in a child's standard error, or nullptr.
const char* sanitizerReport(const std::string& err) {
    for (const char* headline :
         {"ERROR: AddressSanitizer", "ERROR: LeakSanitizer", "WARNING: ThreadSanitizer", "runtime error: "})
        if (err.find(headline) != std::string::npos) return headline;
    return nullptr;
}

std::string privateStoreFile() {
    static std::atomic<unsigned> counter{0};
    const auto path = std::filesystem::temp_directory_path() /
                      ("tessaray-e2e-" + std::to_string(getpid()) + "-" + std::to_string(counter++) + ".drs");
    std::filesystem::remove(path);
    return path.string();
}

// Fills a pipe, shrunk to one page, with one line: what is written next waits for a read.
size_t fillPipe(int fd) {
    fcntl(fd, F_SETPIPE_SZ, 4096);
    const int size = fcntl(fd, F_GETPIPE_SZ);
    if (size <= 0) return 0;
    std::string line(size_t(size) - 1, 'x');
    line += '\n';
    return write(fd, line.data(), line.size()) == ssize_t(line.size()) ? line.size() : 0;
}

}  // namespace

std::string childScenario(const SimProcessOptions& options) {
    if (options.everyMode) return options.scenario;
    return options.scenario.empty() ? kCheapMode : std::string(kCheapMode) + "; " + options.scenario;
}

SimProcessOptions simOptions(std::vector<std::string> args, std::string scenario, std::string truthFile) {
    SimProcessOptions options;
    options.args = std::move(args);
    options.scenario = std::move(scenario);
    options.truthFile = std::move(truthFile);
    return options;
}

SimProcessResult runSim(const SimProcessOptions& options) {
    SimProcessResult result;
    const std::string storeFile = privateStoreFile();
    std::vector<std::string> argStrings{options.program.empty() ? TESSARAY_SIM_EXE : options.program};
    argStrings.insert(argStrings.end(), options.args.begin(), options.args.end());
    std::vector<char*> argv;
    for (std::string& a : argStrings) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStrings = childEnvironment(options, storeFile);
    std::vector<char*> envp;
    for (std::string& e : envStrings) envp.push_back(e.data());
    envp.push_back(nullptr);

    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return result;
    if (pipe2(errPipe, O_CLOEXEC) != 0) {
        close(outPipe[0]);
        close(outPipe[1]);
        return result;
    }
    using Stdout = SimProcessOptions::Stdout;
    // A stalled pipe is filled up front, so the child's first write waits for the reader.
    const size_t filler = options.stdoutTo == Stdout::Stalled ? fillPipe(outPipe[1]) : 0;
    const Clock::time_point start = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(options.mergeErrors ? outPipe[1] : errPipe[1], STDERR_FILENO);
        if (options.fileSizeLimit > 0) {
            signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(options.fileSizeLimit), rlim_t(options.fileSizeLimit)};
            setrlimit(RLIMIT_FSIZE, &limit);
        }
        if (options.stdoutTo == Stdout::Closed) {
            close(STDOUT_FILENO);
        } else if (options.stdoutTo == Stdout::Full) {
            const int full = open("/dev/full", O_WRONLY);
            dup2(full, STDOUT_FILENO);
        } else {
            dup2(outPipe[1], STDOUT_FILENO);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);
    if (pid < 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        return result;
    }
    result.started = true;

    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    double interruptAt = -1.0;  // seconds since start; < 0: not yet due
    int signalsSent = 0;
    while (open > 0) {
        const bool stalled =
            options.stdoutTo == Stdout::Stalled && secondsSince(start) < options.stalledSeconds;
        fds[0].events = stalled ? 0 : POLLIN;
        poll(fds, 2, 10);
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, size_t(n));
            } else {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
        if (options.stdoutTo == Stdout::ReaderQuits && fds[0].fd >= 0 &&
            result.out.find(options.readerQuitsAfter) != std::string::npos) {
            close(fds[0].fd);
            fds[0].fd = -1;
            --open;
        }
        const double now = secondsSince(start);
        if (!options.interruptAfter.empty() && !result.interrupted && interruptAt < 0.0 &&
            result.out.find(options.interruptAfter) != std::string::npos)
            interruptAt = now + options.interruptDelaySeconds;
        if (interruptAt >= 0.0 && signalsSent < options.interruptCount && now >= interruptAt) {
            kill(pid, options.interruptSignal);
            result.interrupted = true;
            signalsSent += 1;
            interruptAt = now + 0.1;
        }
        if (now > options.timeoutSeconds && !result.timedOut) {
            kill(pid, SIGKILL);
            result.timedOut = true;
        }
    }
    int status = 0;
    waitpid(pid, &status, 0);
    result.out.erase(0, std::min(filler, result.out.size()));
    result.seconds = secondsSince(start);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    // In a sanitized build the child is sanitized too: its reports fail the test that ran
    // it, whatever exit code that test expects.
    if (const char* report = sanitizerReport(result.err))
        ADD_FAILURE() << "tessaray-sim reported '" << report << "':\n" << result.err;
    std::filesystem::remove(storeFile);
    return result;
}

}  // namespace corva::test
