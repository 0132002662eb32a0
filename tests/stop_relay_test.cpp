// The console handler's thread raises the presenter's stop while main may be detaching it
// to destroy the presenter: once detach() has returned, nothing writes to the old target.
#include "app/stop_relay.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace corva {
namespace {

std::atomic<bool> gHandlerPaused{false};

void pauseTheHandler() {
    gHandlerPaused = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
}

TEST(StopRelay, DetachWaitsForARaiseThatHasReadTheTargetAndLaterRaisesMissIt) {
    StopRelay relay;
    relay.raise();  // nothing attached: nothing to do
    std::atomic<bool> target{false};
    relay.attach(&target);

    // The handler has read the target and is about to write when main detaches.
    std::thread handler([&] { relay.raise(pauseTheHandler); });
    while (!gHandlerPaused.load()) std::this_thread::yield();
    relay.detach();
    EXPECT_TRUE(target.load()) << "detach() returned while a raise could still write";
    handler.join();

    target = false;
    relay.raise();
    EXPECT_FALSE(target.load()) << "raised after detach()";
}

}  // namespace
}  // namespace corva
