// The virtual clock and threads. One thread of the show runs at a time: it holds the baton until it waits, then
// the baton goes to the next thread (in slot order) whose wake-up time has come. When every thread waits the
// clock jumps to the earliest wake-up. Nothing depends on the host's timing, so a run is repeatable to the byte.

#include "app/system.h"
#include "app/virtual_clock.h"
#include "app/virtual_platform.h"

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

struct VirtualThread {
    int32_t active;   // a thread of the show occupies the slot
    int32_t finished; // its function has returned
    uint64_t wake;    // it waits until the clock reaches this time
};

std::mutex batonLock;
std::condition_variable batonPassed;
int holder = 0; // slot of the thread that may run
uint64_t now = 0;
VirtualThread slots[VirtualThreadSlots] = {{1, 0, 0}, {}, {}};
std::thread workers[2];
thread_local int self = 0;

// Picks the next thread to run, moving the clock when none is ready. Called with batonLock held by the thread
// that gives the baton up.
void PassBaton() {
    for (;;) {
        for (int step = 1; step <= VirtualThreadSlots; ++step) {
            const int i = (self + step) % VirtualThreadSlots;
            if (slots[i].active && !slots[i].finished && slots[i].wake <= now) {
                holder = i;
                batonPassed.notify_all();
                return;
            }
        }
        uint64_t next = UINT64_MAX;
        for (const VirtualThread& t : slots)
            if (t.active && !t.finished && t.wake < next)
                next = t.wake;
        if (next == UINT64_MAX) {
            holder = -1; // nobody left to run
            return;
        }
        // Step from refresh to refresh, so that every refresh and every audio frame is delivered at its own time.
        const uint64_t refresh = NextVirtualRefreshTime();
        if (refresh > now && refresh < next)
            next = refresh;
        const uint64_t from = now;
        now = next;
        AdvanceVirtualDisplay(from, now);
        AdvanceVirtualSound(from, now);
    }
}

void RunAudioThread(int slot, void (*function)()) {
    self = slot;
    {
        std::unique_lock<std::mutex> lock(batonLock);
        batonPassed.wait(lock, [slot] { return holder == slot; });
    }
    function();
    std::unique_lock<std::mutex> lock(batonLock);
    slots[slot].finished = 1;
    PassBaton();
}

} // namespace

uint64_t VirtualNow() {
    return now;
}

int VirtualThreadIndex() {
    return self;
}

void VirtualWaitUntil(uint64_t time) {
    std::unique_lock<std::mutex> lock(batonLock);
    slots[self].wake = time;
    PassBaton();
    const int me = self;
    batonPassed.wait(lock, [me] { return holder == me; });
}

void SleepMs(uint32_t milliseconds) {
    VirtualWaitUntil(now + uint64_t(milliseconds) * 1000000);
}

uint64_t ReadPerformanceCounter() {
    return now;
}

uint64_t ReadPerformanceFrequency() {
    return VirtualSecond;
}

bool StartAudioThreads(void (*feeder)(), void (*mixer)()) {
    if (slots[1].active || slots[2].active) {
        fprintf(stderr, "quimbles: audio threads are already running\n");
        return false;
    }
    // The new threads wait for the baton, which this thread keeps until it waits itself.
    void (*functions[2])() = {feeder, mixer};
    for (int i = 0; i < 2; ++i) {
        slots[i + 1] = VirtualThread{1, 0, now};
        try {
            workers[i] = std::thread(RunAudioThread, i + 1, functions[i]);
        } catch (const std::system_error& e) {
            fprintf(stderr, "quimbles: cannot create an audio thread: %s\n", e.what());
            slots[i + 1] = VirtualThread{};
            if (i == 1) {
                // Let the feeder run alone until it ends; it sees no mixer and gives up after its bound.
                JoinAudioThreads(60000);
            }
            return false;
        }
    }
    return true;
}

bool JoinAudioThreads(uint32_t milliseconds) {
    const uint64_t deadline = now + uint64_t(milliseconds) * 1000000;
    for (;;) {
        bool done = true;
        for (int i = 1; i < VirtualThreadSlots; ++i)
            if (slots[i].active && !slots[i].finished)
                done = false;
        if (done || now >= deadline)
            break;
        SleepMs(1);
    }
    bool all = true;
    for (int i = 0; i < 2; ++i) {
        VirtualThread& t = slots[i + 1];
        if (!t.active)
            continue;
        if (!t.finished) {
            // A virtual thread cannot be stopped from outside: it keeps its slot and its turns until it returns,
            // and a later call clears the slot.
            all = false;
            if (workers[i].joinable())
                workers[i].detach();
            continue;
        }
        if (workers[i].joinable())
            workers[i].join();
        t = VirtualThread{};
    }
    return all;
}

void ResetVirtualPlatform() {
    std::unique_lock<std::mutex> lock(batonLock);
    now = 0;
    holder = 0;
    slots[0] = VirtualThread{1, 0, 0};
    for (int i = 1; i < VirtualThreadSlots; ++i)
        if (slots[i].finished) {
            if (workers[i - 1].joinable())
                workers[i - 1].join();
            slots[i] = VirtualThread{};
        }
    ResetVirtualDisplay();
    ResetVirtualSound();
}
