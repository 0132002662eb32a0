#include "platform/output_file.h"

#include <cerrno>
#include <cstring>
#include <io.h>
#include <windows.h>

namespace corva::platform {
namespace {

bool isNullDevice(const char* path) {
    return _stricmp(path, "NUL") == 0 || _stricmp(path, "\\\\.\\NUL") == 0;
}

bool sameFile(HANDLE a, HANDLE b) {
    BY_HANDLE_FILE_INFORMATION x{}, y{};
    return a != INVALID_HANDLE_VALUE && b != INVALID_HANDLE_VALUE && a != nullptr && b != nullptr &&
           GetFileType(b) == FILE_TYPE_DISK && GetFileInformationByHandle(a, &x) &&
           GetFileInformationByHandle(b, &y) && x.dwVolumeSerialNumber == y.dwVolumeSerialNumber &&
           x.nFileIndexHigh == y.nFileIndexHigh && x.nFileIndexLow == y.nFileIndexLow;
}

// An existing file that standard output or standard error writes to: looked at before
// fopen truncates it.
bool isStandardStream(const char* path) {
    const HANDLE existing = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (existing == INVALID_HANDLE_VALUE) return false;
    const bool same = sameFile(existing, GetStdHandle(STD_OUTPUT_HANDLE)) ||
                      sameFile(existing, GetStdHandle(STD_ERROR_HANDLE));
    CloseHandle(existing);
    return same;
}

}  // namespace

// Opening a named pipe never waits (a busy or missing one fails at once); what is refused is
// writing to one, or to a device, whose other end may stop reading.
std::FILE* openRegularFileForWriting(const char* path, std::string& error) {
    if (isStandardStream(path)) {
        error = kSameAsStandardStream;
        return nullptr;
    }
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) {
        error = std::strerror(errno);
        return nullptr;
    }
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK && !(type == FILE_TYPE_CHAR && isNullDevice(path))) {
        std::fclose(file);
        error = kNotARegularFile;
        return nullptr;
    }
    return file;
}

}  // namespace corva::platform
