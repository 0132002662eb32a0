// The typed view format of a scan-out surface: the five typeless formats map, nothing else.
#include "present/rtv_format.h"

#include "d3d12_api.h"

#include <gtest/gtest.h>

namespace corva {
namespace {

TEST(RtvFormat, TypelessScanOutFormatsGetTheirTypedTwin) {
    EXPECT_EQ(typedRtvFormat(9), 10u);   // R16G16B16A16 -> FLOAT
    EXPECT_EQ(typedRtvFormat(23), 24u);  // R10G10B10A2 -> UNORM
    EXPECT_EQ(typedRtvFormat(27), 28u);  // R8G8B8A8 -> UNORM
    EXPECT_EQ(typedRtvFormat(90), 87u);  // B8G8R8A8 -> UNORM
    EXPECT_EQ(typedRtvFormat(92), 88u);  // B8G8R8X8 -> UNORM
}

TEST(RtvFormat, TypedAndOtherFormatsHaveNoMapping) {
    for (uint32_t format : {0u, 2u, 10u, 24u, 28u, 29u, 87u, 88u, 91u, 93u, 0xFFFFFFFFu})
        EXPECT_EQ(typedRtvFormat(format), static_cast<uint32_t>(DXGI_FORMAT_UNKNOWN)) << format;
}

}  // namespace
}  // namespace corva
