// Time and the audio threads on the POSIX platforms (Linux with SDL, and the browser, where the threads are Web
// Workers sharing the module's memory and the show itself runs on a worker, so no wait holds the page up): the
// monotonic clock in nanoseconds, plain sleeps, and std::thread raised as far as the platform allows
// (RaiseThreadPriority).

#include "app/system.h"
#include "app/thread_priority.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <system_error>
#include <thread>

namespace {

std::thread workers[2];
std::atomic<int32_t> finished[2];
bool started[2] = {false, false};

void RunAudioThread(int index, void (*function)()) {
    RaiseThreadPriority();
    function();
    finished[index].store(1, std::memory_order_release);
}

} // namespace

void SleepMs(uint32_t milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    timespec wait{time_t(milliseconds / 1000), long(milliseconds % 1000) * 1000000L};
    while (nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

uint64_t ReadPerformanceCounter() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000000000u + uint64_t(now.tv_nsec);
}

uint64_t ReadPerformanceFrequency() {
    return 1000000000u;
}

bool StartAudioThreads(void (*feeder)(), void (*mixer)()) {
    if (started[0] || started[1]) {
        fprintf(stderr, "quimbles: audio threads are already running\n");
        return false;
    }
    void (*functions[2])() = {feeder, mixer};
    for (int i = 0; i < 2; ++i) {
        finished[i].store(0);
        try {
            workers[i] = std::thread(RunAudioThread, i, functions[i]);
            started[i] = true;
        } catch (const std::system_error& e) {
            fprintf(stderr, "quimbles: cannot create an audio thread: %s\n", e.what());
            // The feeder, if it runs, finds no mixer and gives up after its bound.
            JoinAudioThreads(60000);
            return false;
        }
    }
    return true;
}

bool JoinAudioThreads(uint32_t milliseconds) {
    const uint64_t deadline = ReadPerformanceCounter() + uint64_t(milliseconds) * 1000000u;
    auto running = [] {
        return (started[0] && !finished[0].load(std::memory_order_acquire)) ||
               (started[1] && !finished[1].load(std::memory_order_acquire));
    };
    while (running() && ReadPerformanceCounter() < deadline)
        SleepMs(1);
    bool all = true;
    for (int i = 0; i < 2; ++i) {
        if (!started[i])
            continue;
        if (finished[i].load(std::memory_order_acquire)) {
            workers[i].join();
        } else {
            // A thread cannot be ended from outside without leaking its locks; let it go on its own.
            workers[i].detach();
            all = false;
        }
        started[i] = false;
    }
    return all;
}
