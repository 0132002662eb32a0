// The frame callback on a real D3D12 command list (vkd3d over lavapipe on Linux):
// clears are recorded, executed, read back and checked pixel by pixel.
#include "app/draw_frame.h"
#include "app/shared_state.h"
#include "platform/d3d12_device.h"
#include "platform/platform.h"
#include "present/com_ptr.h"
#include "tests/support/allocation_counter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace corva {
namespace {

class CountingBackend : public PresentBackend {
  public:
    bool init() override { return true; }
    void run(double, const FrameCallback&) override {}
    void requestStop() override { ++stopRequests; }
    PresentStats stats() override { return {}; }
    int stopRequests = 0;
};

// Renders one frame of the given size through DrawFrame and returns its BGRA pixels.
class OneFrameRenderer {
  public:
    bool setUp() {
        if (FAILED(
                platform::createD3d12Device(nullptr, D3D_FEATURE_LEVEL_11_0, dev.ReleaseAndGetAddressOf())))
            return false;
        D3D12_COMMAND_QUEUE_DESC qd{};
        qd.Type = D3D12_COMMAND_LIST_TYPE_DIRECT;
        return SUCCEEDED(dev->CreateCommandQueue(&qd, queue.iid(), queue.ReleaseAndGetVoidAddressOf())) &&
               SUCCEEDED(dev->CreateCommandAllocator(D3D12_COMMAND_LIST_TYPE_DIRECT, alloc.iid(),
                                                     alloc.ReleaseAndGetVoidAddressOf())) &&
               SUCCEEDED(dev->CreateCommandList(0, D3D12_COMMAND_LIST_TYPE_DIRECT, alloc.Get(), nullptr,
                                                list.iid(), list.ReleaseAndGetVoidAddressOf())) &&
               SUCCEEDED(dev->CreateFence(0, D3D12_FENCE_FLAG_NONE, fence.iid(),
                                          fence.ReleaseAndGetVoidAddressOf()));
    }

    std::vector<uint32_t> render(const DrawFrame& draw, int32_t width, int32_t height) {
        ComPtr<ID3D12Resource> target = createTexture(width, height);
        ComPtr<ID3D12DescriptorHeap> heap;
        D3D12_DESCRIPTOR_HEAP_DESC hd{};
        hd.Type = D3D12_DESCRIPTOR_HEAP_TYPE_RTV;
        hd.NumDescriptors = 1;
        if (!target || FAILED(dev->CreateDescriptorHeap(&hd, heap.iid(), heap.ReleaseAndGetVoidAddressOf())))
            return {};
        const D3D12_CPU_DESCRIPTOR_HANDLE rtv = heap->GetCPUDescriptorHandleForHeapStart();
        D3D12_RENDER_TARGET_VIEW_DESC vd{};
        vd.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        vd.ViewDimension = D3D12_RTV_DIMENSION_TEXTURE2D;
        dev->CreateRenderTargetView(target.Get(), &vd, rtv);

        // Row pitch of a readback copy must be a multiple of 256 bytes.
        const uint32_t pitch = (uint32_t(width) * 4 + 255) & ~255u;
        ComPtr<ID3D12Resource> readback = createReadbackBuffer(uint64_t(pitch) * uint32_t(height));
        if (!readback) return {};

        list->Reset(alloc.Get(), nullptr);
        FrameContext frame;
        frame.list = list.Get();
        frame.rtv = &rtv;
        frame.width = width;
        frame.height = height;
        frame.format = DXGI_FORMAT_B8G8R8A8_UNORM;
        draw(frame);
        transition(target.Get(), D3D12_RESOURCE_STATE_RENDER_TARGET, D3D12_RESOURCE_STATE_COPY_SOURCE);

        D3D12_TEXTURE_COPY_LOCATION src{};
        src.pResource = target.Get();
        src.Type = D3D12_TEXTURE_COPY_TYPE_SUBRESOURCE_INDEX;
        D3D12_TEXTURE_COPY_LOCATION dst{};
        dst.pResource = readback.Get();
        dst.Type = D3D12_TEXTURE_COPY_TYPE_PLACED_FOOTPRINT;
        dst.PlacedFootprint.Footprint = {DXGI_FORMAT_B8G8R8A8_UNORM, uint32_t(width), uint32_t(height), 1,
                                         pitch};
        list->CopyTextureRegion(&dst, 0, 0, 0, &src, nullptr);
        list->Close();
        ID3D12CommandList* lists[] = {list.Get()};
        queue->ExecuteCommandLists(1, lists);
        queue->Signal(fence.Get(), ++fenceValue);
        platform::OsHandle event = platform::createEvent(false, false);
        fence->SetEventOnCompletion(fenceValue, event);
        const bool done = platform::waitFor(event, 10000) == platform::WaitResult::Signalled;
        platform::closeHandle(event);
        if (!done) return {};

        std::vector<uint32_t> pixels(size_t(width) * size_t(height));
        void* mapped = nullptr;
        if (FAILED(readback->Map(0, nullptr, &mapped))) return {};
        for (int32_t y = 0; y < height; ++y)
            std::memcpy(&pixels[size_t(y) * size_t(width)], static_cast<uint8_t*>(mapped) + size_t(y) * pitch,
                        size_t(width) * 4);
        readback->Unmap(0, nullptr);
        return pixels;
    }

  private:
    ComPtr<ID3D12Resource> createTexture(int32_t width, int32_t height) {
        D3D12_HEAP_PROPERTIES heap{};
        heap.Type = D3D12_HEAP_TYPE_DEFAULT;
        D3D12_RESOURCE_DESC desc{};
        desc.Dimension = D3D12_RESOURCE_DIMENSION_TEXTURE2D;
        desc.Width = uint64_t(width);
        desc.Height = uint32_t(height);
        desc.DepthOrArraySize = 1;
        desc.MipLevels = 1;
        desc.Format = DXGI_FORMAT_B8G8R8A8_TYPELESS;  // as the scan-out surfaces
        desc.SampleDesc.Count = 1;
        desc.Flags = D3D12_RESOURCE_FLAG_ALLOW_RENDER_TARGET;
        ComPtr<ID3D12Resource> texture;
        dev->CreateCommittedResource(&heap, D3D12_HEAP_FLAG_NONE, &desc, D3D12_RESOURCE_STATE_RENDER_TARGET,
                                     nullptr, texture.iid(), texture.ReleaseAndGetVoidAddressOf());
        return texture;
    }

    ComPtr<ID3D12Resource> createReadbackBuffer(uint64_t size) {
        D3D12_HEAP_PROPERTIES heap{};
        heap.Type = D3D12_HEAP_TYPE_READBACK;
        D3D12_RESOURCE_DESC desc{};
        desc.Dimension = D3D12_RESOURCE_DIMENSION_BUFFER;
        desc.Width = size;
        desc.Height = 1;
        desc.DepthOrArraySize = 1;
        desc.MipLevels = 1;
        desc.SampleDesc.Count = 1;
        desc.Layout = D3D12_TEXTURE_LAYOUT_ROW_MAJOR;
        ComPtr<ID3D12Resource> buffer;
        dev->CreateCommittedResource(&heap, D3D12_HEAP_FLAG_NONE, &desc, D3D12_RESOURCE_STATE_COPY_DEST,
                                     nullptr, buffer.iid(), buffer.ReleaseAndGetVoidAddressOf());
        return buffer;
    }

    void transition(ID3D12Resource* resource, D3D12_RESOURCE_STATES from, D3D12_RESOURCE_STATES to) {
        D3D12_RESOURCE_BARRIER barrier{};
        barrier.Type = D3D12_RESOURCE_BARRIER_TYPE_TRANSITION;
        barrier.Transition.pResource = resource;
        barrier.Transition.Subresource = D3D12_RESOURCE_BARRIER_ALL_SUBRESOURCES;
        barrier.Transition.StateBefore = from;
        barrier.Transition.StateAfter = to;
        list->ResourceBarrier(1, &barrier);
    }

    ComPtr<ID3D12Device> dev;
    ComPtr<ID3D12CommandQueue> queue;
    ComPtr<ID3D12CommandAllocator> alloc;
    ComPtr<ID3D12GraphicsCommandList> list;
    ComPtr<ID3D12Fence> fence;
    uint64_t fenceValue = 0;
};

constexpr uint32_t kOpaqueWhite = 0xFFFFFFFFu;  // BGRA bytes FF FF FF FF
constexpr uint32_t kOpaqueBlack = 0xFF000000u;  // BGRA bytes 00 00 00 FF

void expectHalves(const std::vector<uint32_t>& pixels, int32_t width, int32_t height) {
    ASSERT_EQ(pixels.size(), size_t(width) * size_t(height));
    int wrong = 0;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            const uint32_t expected = x < width / 2 ? kOpaqueWhite : kOpaqueBlack;
            if (pixels[size_t(y) * size_t(width) + size_t(x)] != expected && wrong++ < 5)
                ADD_FAILURE() << "pixel (" << x << "," << y << ") = " << std::hex
                              << pixels[size_t(y) * size_t(width) + size_t(x)];
        }
    EXPECT_EQ(wrong, 0);
}

TEST(DrawFrame, SplitsTruncatingTowardZero) {
    const FrameHalves even = splitFrame(5088, 2544);
    EXPECT_EQ(even.white.right, 2544);
    EXPECT_EQ(even.black.left, 2544);
    EXPECT_EQ(even.black.right, 5088);
    EXPECT_EQ(even.white.bottom, 2544);
    const FrameHalves odd = splitFrame(7, 3);
    EXPECT_EQ(odd.white.right - odd.white.left, 3);
    EXPECT_EQ(odd.black.right - odd.black.left, 4);  // the black half is one column wider
}

class DrawFrameOnDevice : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(renderer.setUp()) << "no D3D12 device"; }
    OneFrameRenderer renderer;
    CountingBackend backend;
    std::atomic<bool> firstDrawDone{false};
};

TEST_F(DrawFrameOnDevice, ClearsLeftWhiteRightBlackAndMarksTheFirstDrawOnce) {
    DrawFrame draw(firstDrawDone, backend);
    ::testing::internal::CaptureStdout();
    const std::vector<uint32_t> even = renderer.render(draw, 64, 16);
    const std::vector<uint32_t> odd = renderer.render(draw, 33, 5);
    const std::string out = ::testing::internal::GetCapturedStdout();
    expectHalves(even, 64, 16);
    expectHalves(odd, 33, 5);
    EXPECT_EQ(out.rfind("FIRST_DRAW ", 0), 0u) << out;
    EXPECT_EQ(out.find("FIRST_DRAW", 1), std::string::npos) << out;  // printed once only
    EXPECT_EQ(backend.stopRequests, 0);
}

TEST_F(DrawFrameOnDevice, RaisedStopFlagStillDrawsThenRequestsStop) {
    DrawFrame draw(firstDrawDone, backend);
    firstDrawDone = true;
    StopFlag.store(true);
    const std::vector<uint32_t> pixels = renderer.render(draw, 9, 2);
    StopFlag.store(false);  // process-wide: leave it as other tests expect
    expectHalves(pixels, 9, 2);
    EXPECT_EQ(backend.stopRequests, 1);
}

TEST(DrawFrame, IsStoredInTheCallbackWithoutAllocating) {
    CountingBackend backend;
    std::atomic<bool> firstDrawDone{false};
    const uint64_t before = test::allocationsOnThisThread();
    FrameCallback callback = DrawFrame(firstDrawDone, backend);
    FrameCallback copy = callback;
    EXPECT_EQ(test::allocationsOnThisThread(), before);
    EXPECT_TRUE(static_cast<bool>(copy));
}

}  // namespace
}  // namespace corva
