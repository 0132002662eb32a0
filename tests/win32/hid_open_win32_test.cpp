// The Win32 HID transport on Wine's own virtual mouse (845E:0001), taken for the
// microcontroller through the report lengths a replaced HidP_GetCaps gives it.
#include "lines/printed_lines.h"
#include "platform/hid_functions_win32.h"
#include "platform/hid_transport.h"
#include "platform/platform.h"
#include "tests/support/win32/import_swap.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <vector>

extern "C" decltype(&::CreateFileW) __imp_CreateFileW;
extern "C" decltype(&::ReadFile) __imp_ReadFile;

namespace corva {
namespace {

NTSTATUS NTAPI mcuSizedCaps(PHIDP_PREPARSED_DATA, PHIDP_CAPS caps) {
    *caps = {};
    caps->InputReportByteLength = 9;
    caps->FeatureReportByteLength = kHidReportBytes;
    return HIDP_STATUS_SUCCESS;
}

std::vector<DWORD> gDeviceOpens;  // the access asked for
bool gHeldByAnother = false;      // opened elsewhere without sharing: reading and writing refused
decltype(&::CreateFileW) gCreateFile = nullptr;
HANDLE WINAPI recordOpen(LPCWSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD how,
                         DWORD flags, HANDLE from) {
    if (wcsncmp(path, L"\\\\?\\", 4) == 0) gDeviceOpens.push_back(access);
    if (gHeldByAnother && access != 0) return SetLastError(ERROR_SHARING_VIOLATION), INVALID_HANDLE_VALUE;
    return gCreateFile(path, access, share, security, how, flags, from);
}
DWORD gReadLength = 0;
decltype(&::ReadFile) gReadFile = nullptr;
BOOL WINAPI recordRead(HANDLE file, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped) {
    gReadLength = length;
    return gReadFile(file, buffer, length, read, overlapped);
}

// Ids read without access, only the match opened for I/O (its refusal said with the system's
// error), reads of the input report length, and a stop set before a read began ends it at once.
TEST(Win32HidTransport, IdsReadWithoutAccessTheMatchOpenedForIoItsReadsSizedAndStoppable) {
    platform::HidFunctions& hid = platform::hidFunctions();
    const platform::HidFunctions saved = hid;
    hid.getCaps = mcuSizedCaps;
    HidTransport& transport = detail::osHidTransport();
    const test::ImportSwap open(&__imp_CreateFileW, recordOpen);
    const test::ImportSwap read(&__imp_ReadFile, recordRead);
    gCreateFile = open.original();
    gReadFile = read.original();
    const std::vector<HidHandle> found = transport.openInterfaces(0x845E, 0x0001);
    const std::vector<DWORD> opens = gDeviceOpens;
    ASSERT_FALSE(found.empty()) << "Wine's mouse not found: " << opens.size() << " interfaces opened";
    EXPECT_EQ(std::count(opens.begin(), opens.end(), DWORD(GENERIC_READ | GENERIC_WRITE)),
              ptrdiff_t(found.size()));
    EXPECT_EQ(std::count(opens.begin(), opens.end(), 0ul), ptrdiff_t(opens.size() - found.size()));

    platform::OsHandle event = platform::createEvent(true, false), stop = platform::createEvent(true, false);
    uint8_t buffer[kHidReportBytes];
    EXPECT_GE(transport.readReport(found[0], event, buffer, sizeof buffer, 20, stop), 0);
    EXPECT_EQ(gReadLength, 9u);
    transport.cancelIo(found[0]);
    platform::setEvent(stop);
    const int64_t start = platform::steadyNowNs();
    EXPECT_EQ(transport.readReport(found[0], event, buffer, sizeof buffer, 3000, stop), -1);
    EXPECT_EQ(transport.lastError(), hid_error::kOperationAborted);
    EXPECT_LT(platform::steadyNowNs() - start, int64_t(1000000000));
    for (HidHandle handle : found) transport.close(handle);
    for (platform::OsHandle handle : {event, stop}) platform::closeHandle(handle);

    gHeldByAnother = true;
    ::testing::internal::CaptureStderr();
    EXPECT_TRUE(transport.openInterfaces(0x845E, 0x0001).empty());
    char said[300];
    std::snprintf(said, sizeof said, lines::kMcuInterfaceNotOpened.format(), 32ul);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), said);
    gHeldByAnother = false;
    hid = saved;
}

}  // namespace
}  // namespace corva
