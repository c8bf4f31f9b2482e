#pragma once

// Runs test threads that start together and must end in time.

#include <gtest/gtest.h>

#include <barrier>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace Quelt::test {

// Runs body(t) for t = 0 .. count - 1, each on its own thread, released
// together by a barrier so that they meet in the code under test. When the
// threads have not all finished after `timeout` (a deadlock), the process
// stops with a message instead of hanging until the test runner's limit.
inline void runTogether(int count, const std::function<void(int)> &body,
                        std::chrono::seconds timeout = std::chrono::seconds(120)) {
    std::barrier start(count);
    std::mutex mutex;
    std::condition_variable finished;
    int running = count;
    std::vector<std::thread> threads;
    threads.reserve(static_cast<std::size_t>(count));
    for (int t = 0; t < count; ++t)
        threads.emplace_back([&, t] {
            start.arrive_and_wait();
            body(t);
            std::lock_guard<std::mutex> lock(mutex);
            if (--running == 0)
                finished.notify_one();
        });
    {
        std::unique_lock<std::mutex> lock(mutex);
        if (!finished.wait_for(lock, timeout, [&] { return running == 0; })) {
            std::fprintf(stderr, "threads still running after %lld s: deadlock?\n",
                         static_cast<long long>(timeout.count()));
            std::abort();
        }
    }
    for (auto &thread : threads)
        thread.join();
}

} // namespace Quelt::test

// The former name of the test support namespace, for code written against it.
namespace QueltTest = Quelt::test;
