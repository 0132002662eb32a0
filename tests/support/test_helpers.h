// Small helpers the tests share.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <thread>

namespace corva::test {

// The number of times `what` occurs in `text`, not overlapping.
inline size_t countOf(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

// Polls `condition` every 2 ms until it holds (true) or `limit` has passed (false).
template <class Condition>
bool eventually(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace corva::test
