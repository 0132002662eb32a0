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

}  // namespace

// Opening a named pipe never waits (a busy or missing one fails at once); what is refused is
// writing to one, or to a device, whose other end may stop reading.
std::FILE* openRegularFileForWriting(const char* path, std::string& error) {
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
