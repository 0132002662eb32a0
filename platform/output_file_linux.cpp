#include "platform/output_file.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corva::platform {
namespace {

// The same file by device and inode as descriptor 1 or 2 (`> x.log` with the trace at /dev/stdout).
bool isStandardStream(const struct stat& status) {
    for (int fd : {STDOUT_FILENO, STDERR_FILENO}) {
        struct stat stream {};
        if (fstat(fd, &stream) == 0 && stream.st_dev == status.st_dev && stream.st_ino == status.st_ino)
            return true;
    }
    return false;
}

bool isNullDevice(const struct stat& status) {
    struct stat null {};
    return S_ISCHR(status.st_mode) && stat("/dev/null", &null) == 0 && null.st_rdev == status.st_rdev;
}

}  // namespace

std::FILE* openRegularFileForWriting(const char* path, std::string& error) {
    // Non-blocking: a FIFO without a reader fails at once (ENXIO) instead of waiting for one.
    const int fd = open(path, O_WRONLY | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
    if (fd < 0) {
        error = errno == ENXIO ? kNotARegularFile : std::strerror(errno);
        return nullptr;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !(S_ISREG(status.st_mode) || isNullDevice(status))) {
        error = kNotARegularFile;
        close(fd);
        return nullptr;
    }
    if (S_ISREG(status.st_mode) && isStandardStream(status)) {
        error = kSameAsStandardStream;
        close(fd);
        return nullptr;
    }
    // Truncated only now that it is known to be a file; writes to a file block as usual.
    if ((S_ISREG(status.st_mode) && ftruncate(fd, 0) != 0) || fcntl(fd, F_SETFL, 0) != 0) {
        error = std::strerror(errno);
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        close(fd);
    }
    return file;
}

}  // namespace corva::platform
