// The tests' log capture read while engine threads log: every line is kept once, in each thread's
// order, and reading never races the writers.
#include "core/AuLog.h"

#include <AuLogCapture.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

TEST(LogCaptureTest, LinesLoggedByOtherThreadsWhileTheTestReadsAreAllKeptInEachThreadsOrder) {
    constexpr int kThreads = 4, kLines = 2000;
    AuLogCapture log;
    std::atomic<int> running{kThreads};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&running, t] {
            for (int i = 0; i < kLines; ++i)
                AuLog(AuLogLevel::Info, "%d %d", t, i);
            running.fetch_sub(1);
        });
    // The test reads all the while, as a heard test reads the engine's reasons.
    size_t seen = 0;
    while (running.load() > 0)
        seen = std::max(seen, log.Text().size() + log.Lines().size());
    for (std::thread& thread : threads)
        thread.join();
    const auto lines = log.Lines();
    ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kLines));
    std::vector<int> next(kThreads, 0);
    for (const auto& line : lines) {
        int t = -1, i = -1;
        ASSERT_EQ(std::sscanf(line.second.c_str(), "%d %d", &t, &i), 2) << line.second;
        ASSERT_GE(t, 0);
        ASSERT_LT(t, kThreads);
        EXPECT_EQ(i, next[t]++);
    }
    EXPECT_LE(seen, log.Text().size() + lines.size());
}
