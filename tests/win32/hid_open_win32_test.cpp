// The Win32 HID transport on Wine's own HID devices (its virtual mouse, 845E:0001), taken
// for the microcontroller by the report lengths a replaced HidP_GetCaps gives it: ids are
// read without access, only the match is opened for reading and writing, a read asks for
// the interface's input report length and ends at once on a stop set before it began.
#include "lines/printed_lines.h"
#include "platform/hid_functions_win32.h"
#include "platform/hid_transport.h"
#include "platform/platform.h"
#include "tests/support/win32/import_swap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

extern "C" decltype(&::CreateFileW) __imp_CreateFileW;
extern "C" decltype(&::ReadFile) __imp_ReadFile;

namespace corva {
namespace {

constexpr uint16_t kWineMouseVendor = 0x845E, kWineMouseProduct = 0x0001;
constexpr USHORT kInputLength = 9;

NTSTATUS NTAPI mcuSizedCaps(PHIDP_PREPARSED_DATA, PHIDP_CAPS caps) {
    *caps = {};
    caps->InputReportByteLength = kInputLength;
    caps->FeatureReportByteLength = kHidReportBytes;
    return HIDP_STATUS_SUCCESS;
}

std::vector<DWORD> gOpenAccess;  // of every device interface opened
bool gRefuseReadWrite = false;
decltype(&::CreateFileW) gCreateFile = nullptr;
HANDLE WINAPI recordOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security,
                         DWORD disposition, DWORD flags, HANDLE from) {
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) {
        gOpenAccess.push_back(access);
        if (gRefuseReadWrite && access != 0) {
            SetLastError(ERROR_SHARING_VIOLATION);
            return INVALID_HANDLE_VALUE;
        }
    }
    return gCreateFile(path, access, share, security, disposition, flags, from);
}

DWORD gReadLength = 0;
decltype(&::ReadFile) gReadFile = nullptr;
BOOL WINAPI recordRead(HANDLE file, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped) {
    gReadLength = length;
    return gReadFile(file, buffer, length, read, overlapped);
}

TEST(Win32HidTransport, IdsAreReadWithoutAccessAndOnlyTheMatchIsOpenedForIo) {
    platform::HidFunctions& hid = platform::hidFunctions();
    if (!hid.complete()) GTEST_SKIP() << "no hid.dll";
    const platform::HidFunctions saved = hid;
    hid.getCaps = mcuSizedCaps;
    HidTransport& transport = detail::osHidTransport();
    test::ImportSwap open(&__imp_CreateFileW, recordOpen);
    gCreateFile = open.original();
    gOpenAccess.clear();
    gRefuseReadWrite = false;
    const std::vector<HidHandle> found = transport.openInterfaces(kWineMouseVendor, kWineMouseProduct);
    const std::vector<DWORD> access = gOpenAccess;
    if (access.empty()) {
        hid = saved;
        GTEST_SKIP() << "Wine lists no HID device here";
    }
    ASSERT_FALSE(found.empty());
    EXPECT_EQ(std::count(access.begin(), access.end(), DWORD(GENERIC_READ | GENERIC_WRITE)),
              ptrdiff_t(found.size()));
    EXPECT_EQ(std::count(access.begin(), access.end(), DWORD(0)), ptrdiff_t(access.size() - 1))
        << "an interface opened with access rights to read its ids";

    {
        test::ImportSwap read(&__imp_ReadFile, recordRead);
        gReadFile = read.original();
        platform::OsHandle event = platform::createEvent(true, false);
        platform::OsHandle stop = platform::createEvent(true, false);
        uint8_t buffer[kHidReportBytes];
        EXPECT_GE(transport.readReport(found[0], event, buffer, sizeof buffer, 20, stop), 0);
        EXPECT_EQ(gReadLength, kInputLength);
        // A stop that came before the read began (its cancel reached no read) ends it at once.
        transport.cancelIo(found[0]);
        platform::setEvent(stop);
        const int64_t start = platform::steadyNowNs();
        EXPECT_EQ(transport.readReport(found[0], event, buffer, sizeof buffer, 3000, stop), -1);
        EXPECT_EQ(transport.lastError(), hid_error::kOperationAborted);
        EXPECT_LT(platform::steadyNowNs() - start, int64_t(1000000000));
        platform::closeHandle(event);
        platform::closeHandle(stop);
    }
    for (HidHandle handle : found) transport.close(handle);

    // Held by another program without sharing: not found, and the system's error said.
    gRefuseReadWrite = true;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(transport.openInterfaces(kWineMouseVendor, kWineMouseProduct).empty());
    const std::string err = ::testing::internal::GetCapturedStderr();
    char line[300];
    std::snprintf(line, sizeof line, lines::kMcuInterfaceNotOpened.format(), 32ul);
    EXPECT_EQ(err, line);
    hid = saved;
}

}  // namespace
}  // namespace corva
