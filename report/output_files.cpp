#include "report/output_files.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <process.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace corva::report {
namespace {

namespace fs = std::filesystem;

// Paths travel as UTF-8 strings.
fs::path pathOf(const std::string& text) {
    return fs::path(std::u8string(text.begin(), text.end()));
}

// A device or a pipe named by a path (/dev/stdout, /proc/self/fd/1, a FIFO): written where it
// is, never replaced by a file.
bool isStream(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(pathOf(path), error);
    if (!error && fs::exists(status) && !fs::is_regular_file(status)) return true;
#ifdef _WIN32
    return false;
#else
    return path.rfind("/dev/", 0) == 0 || path.rfind("/proc/", 0) == 0;
#endif
}

// Where a regular file goes: through links (one whose target does not exist yet too) to their
// target, so a link stays a link.
fs::path targetOf(const std::string& path) {
    fs::path target = pathOf(path);
    std::error_code error;
    for (int hops = 0; hops < 40 && fs::is_symlink(fs::symlink_status(target, error)); ++hops) {
        const fs::path next = fs::read_symlink(target, error);
        if (error) break;
        target = next.is_absolute() ? next : target.parent_path() / next;
    }
    return target;
}

#ifdef _WIN32

bool writeAll(std::FILE* file, std::string_view text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && written;
}

OutputWrite writeStream(const std::string& path, std::string_view text, std::string& reason) {
    std::FILE* file = _wfopen(pathOf(path).c_str(), L"wb");
    if (file == nullptr || !writeAll(file, text)) {
        reason = std::strerror(errno);
        return OutputWrite::Failed;
    }
    return OutputWrite::Written;
}

OutputWrite writeReplacing(const std::string& path, std::string_view text, std::string& reason) {
    static std::atomic<unsigned> count{0};
    const fs::path target = targetOf(path);
    fs::path temporary = target;
    temporary += L"." + std::to_wstring(_getpid()) + L"-" + std::to_wstring(++count) + L".tmp";
    std::FILE* file = _wfopen(temporary.c_str(), L"wbx");
    if (file == nullptr) {
        reason = std::strerror(errno);
        return OutputWrite::Failed;
    }
    if (!writeAll(file, text)) {
        reason = std::strerror(errno);
        _wremove(temporary.c_str());
        return OutputWrite::Failed;
    }
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        reason = "cannot replace the file (error " + std::to_string(GetLastError()) + ")";
        _wremove(temporary.c_str());
        return OutputWrite::Failed;
    }
    return OutputWrite::Written;
}

#else

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        text.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Non-blocking open: a FIFO without a reader fails at once (ENXIO) instead of waiting.
OutputWrite writeStream(const std::string& path, std::string_view text, std::string& reason) {
    const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const bool noReader = errno == ENXIO;
        reason = noReader ? "a pipe with nobody reading it" : std::strerror(errno);
        return noReader ? OutputWrite::NoReader : OutputWrite::Failed;
    }
    const int flags = fcntl(fd, F_GETFL);
    const bool written = flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && writeAll(fd, text);
    const int error = errno;
    if (close(fd) != 0 || !written) {
        reason = std::strerror(written ? errno : error);
        return OutputWrite::Failed;
    }
    return OutputWrite::Written;
}

OutputWrite writeReplacing(const std::string& path, std::string_view text, std::string& reason) {
    const fs::path target = targetOf(path);
    const fs::path folder = target.has_parent_path() ? target.parent_path() : fs::path(".");
    std::string temporary = (folder / ("." + target.filename().string() + ".XXXXXX")).string();
    const int fd = mkstemp(temporary.data());
    if (fd < 0) {
        reason = std::strerror(errno);
        return OutputWrite::Failed;
    }
    const mode_t mask = umask(0);
    umask(mask);
    const bool written = fchmod(fd, 0666 & ~mask) == 0 && writeAll(fd, text);
    const int error = errno;
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temporary.c_str(), target.c_str()) != 0) {
        reason = std::strerror(!written ? error : errno);
        unlink(temporary.c_str());
        return OutputWrite::Failed;
    }
    return OutputWrite::Written;
}

#endif

}  // namespace

OutputWrite writeOutputFile(const std::string& path, std::string_view text, std::string& reason) {
    return isStream(path) ? writeStream(path, text, reason) : writeReplacing(path, text, reason);
}

bool sameFile(const std::string& a, const std::string& b) {
#ifdef _WIN32
    const std::string stdinPath = "CONIN$";
#else
    const std::string stdinPath = "/dev/stdin";
#endif
    std::error_code error;
    const bool same =
        fs::equivalent(pathOf(a == "-" ? stdinPath : a), pathOf(b == "-" ? stdinPath : b), error);
    return same && !error;
}

}  // namespace corva::report
