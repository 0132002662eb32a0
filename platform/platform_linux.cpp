#include "platform/platform.h"
#include "platform/sleep_hooks.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace corva::platform {

namespace {

// Every OsHandle on POSIX points at one of these.
class Waitable {
  public:
    virtual ~Waitable() = default;
    virtual WaitResult wait(uint32_t timeoutMs) = 0;
};

class Event final : public Waitable {
  public:
    Event(bool manualReset, bool signalled) : manualReset_(manualReset), signalled_(signalled) {}

    void set() {
        // Notified under the lock: a waiter that sees the flag may close the event at once,
        // so the setter must not touch it after unlocking.
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
        if (manualReset_)
            cv_.notify_all();
        else
            cv_.notify_one();
    }
    void reset() {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = false;
    }
    WaitResult wait(uint32_t timeoutMs) override {
        std::unique_lock<std::mutex> lock(mutex_);
        auto ready = [this] { return signalled_; };
        if (timeoutMs == kInfinite) {
            cv_.wait(lock, ready);
        } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready)) {
            return WaitResult::TimedOut;
        }
        if (!manualReset_) signalled_ = false;
        return WaitResult::Signalled;
    }

  private:
    std::mutex mutex_;
    std::condition_variable cv_;
    const bool manualReset_;
    bool signalled_;
};

// A timer is signalled from its due time on until it is armed again.
class Timer final : public Waitable {
  public:
    void arm(int64_t dueNs) { dueNs_.store(dueNs); }
    WaitResult wait(uint32_t timeoutMs) override {
        const int64_t due = dueNs_.load();
        if (due < 0) {
            if (timeoutMs == kInfinite) return WaitResult::Failed;  // never armed: would block forever
            sleepUntil(steadyNowNs() + int64_t(timeoutMs) * 1000000);
            return WaitResult::TimedOut;
        }
        const int64_t limit =
            timeoutMs == kInfinite ? INT64_MAX : steadyNowNs() + int64_t(timeoutMs) * 1000000;
        if (due <= limit) {
            sleepUntil(due);
            return WaitResult::Signalled;
        }
        sleepUntil(limit);
        return WaitResult::TimedOut;
    }

  private:
    static void sleepUntil(int64_t ns) {
        timespec ts{};
        ts.tv_sec = ns / 1000000000;
        ts.tv_nsec = ns % 1000000000;
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) != 0) {
        }
    }
    std::atomic<int64_t> dueNs_{-1};
};

std::atomic<ConsoleHandler> gConsoleHandler{nullptr};

void onSignal(int sig) {
    // SIGHUP (the terminal closed) and SIGTERM stand for the console's close event.
    const unsigned long type = sig == SIGINT ? 0 : sig == SIGQUIT ? 1 : 2;
    ConsoleHandler handler = gConsoleHandler.load();
    if (handler != nullptr && handler(type)) return;
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

}  // namespace

int64_t steadyNowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

LocalTime localTimeNow() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    std::tm parts{};
    localtime_r(&ts.tv_sec, &parts);
    return {unsigned(parts.tm_hour), unsigned(parts.tm_min), unsigned(parts.tm_sec),
            unsigned(ts.tv_nsec / 1000000)};
}

void sleepMs(uint32_t ms) {
    const bool hooked = detail::sleepStepNs.load(std::memory_order_relaxed) != 0 ||
                        detail::suspendedToNs.load(std::memory_order_relaxed) != 0;
    if (!hooked) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
        return;
    }
    std::this_thread::sleep_for(std::chrono::nanoseconds(detail::hookedSleepNs(ms, steadyNowNs())));
}

void cpuPause() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#endif
}

OsHandle createEvent(bool manualReset, bool initiallySignalled) {
    return static_cast<Waitable*>(new Event(manualReset, initiallySignalled));
}

bool setEvent(OsHandle event) {
    auto* e = dynamic_cast<Event*>(static_cast<Waitable*>(event));
    if (e == nullptr) return false;
    e->set();
    return true;
}

bool resetEvent(OsHandle event) {
    auto* e = dynamic_cast<Event*>(static_cast<Waitable*>(event));
    if (e == nullptr) return false;
    e->reset();
    return true;
}

WaitResult waitFor(OsHandle handle, uint32_t timeoutMs) {
    if (handle == nullptr) return WaitResult::Failed;
    return static_cast<Waitable*>(handle)->wait(timeoutMs);
}

void closeHandle(OsHandle handle) {
    delete static_cast<Waitable*>(handle);
}

OsHandle createHighResolutionTimer() {
    return static_cast<Waitable*>(new Timer());
}

bool setTimer(OsHandle timer, int64_t dueTime100ns) {
    auto* t = dynamic_cast<Timer*>(static_cast<Waitable*>(timer));
    if (t == nullptr || dueTime100ns >= 0) return false;  // only relative times are used
    t->arm(steadyNowNs() + (-dueTime100ns) * 100);
    return true;
}

bool raiseThreadPriorityToHighest() {
    return false;
}  // needs privileges on Linux; not required

bool raiseTimingThreadPriority() {
    // The lowest real-time priority is enough to come before every normal thread; these
    // threads sleep or wait between short steps, so they never hold a core for long.
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    return pthread_setschedparam(pthread_self(), SCHED_FIFO, &param) == 0;
}
bool disableExecutionSpeedThrottling() {
    return true;
}

int64_t threadCpuTimeNs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

StopHandlers installConsoleHandler(ConsoleHandler handler) {
    gConsoleHandler.store(handler);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    StopHandlers installed;
    installed.consoleHandler = true;
    installed.sessionEndWindow = true;  // signals carry the session's end
    for (int sig : {SIGINT, SIGQUIT, SIGHUP, SIGTERM})
        if (sigaction(sig, &sa, nullptr) != 0 && installed.consoleHandler) {
            installed.consoleHandler = false;
            installed.consoleHandlerError = static_cast<unsigned long>(errno);
        }
    return installed;
}

// Nothing to hold here: after a signal the process goes on and tears down by itself.
void teardownFinished() {}
bool stoppedBySystem() {
    return false;
}

// The simulated programs run side by side (the hidraw transport may lock its device node).
SingleInstance::SingleInstance() = default;
SingleInstance::~SingleInstance() = default;

// The dynamic loader has no program folder in its search path unless asked to.
bool restrictLibrarySearchToSystem() {
    return true;
}

// A terminal's selection does not stop the program's output.
bool switchQuickEditOff() {
    return false;
}
void restoreConsoleModes() {}

void initConsoleOutput() {
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
}

// A terminal outlives the programs it runs: nothing to ask.
ConsoleFacts consoleFacts() {
    return {};
}
void waitForKeyPress() {}

}  // namespace corva::platform
