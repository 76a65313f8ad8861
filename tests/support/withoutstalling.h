#pragma once

#include <QTest>

#include <chrono>
#include <future>

// Runs work (returning bool) on another thread while this one keeps to its events and timers;
// false when work failed or did not end within timeoutMs.
template <typename Work> bool withoutStalling(Work work, int timeoutMs = 180000)
{
    std::future<bool> done = std::async(std::launch::async, work);
    const bool ended = QTest::qWaitFor(
        [&] { return done.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        timeoutMs);
    return ended && done.get();
}
