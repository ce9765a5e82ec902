// The browser sound device. An AudioWorklet (sound_web.js) plays from a short queue in the module's memory on the
// browser's audio thread; a pump thread of ours stands in for the sound card's DMA: whenever the queue has room
// for a block it pulls the next block from the stream buffer (sound_pulled.cpp). Neither depends on the page's own
// thread, which may stall.

#include "audio/sound_device.h"
#include "audio/sound_pulled.h"
#include "app/system.h"

#include <atomic>
#include <cstdio>
#include <emscripten/emscripten.h>
#include <emscripten/threading.h>
#include <thread>

namespace {

constexpr uint32_t QueueFrames = 16384; // 372 ms between the cursor and the speaker at most
constexpr uint32_t BlockFrames = 1024;  // what the pump moves at a time; QueueFrames is a multiple of it

// Shared with the worklet and the page, which read and write them with Atomics: frames put into the queue and
// taken from it (counters that wrap), blocks the worklet played short once the queue had been fed, whether the
// worklet is ready (1), failed (-1) or is being closed (2: the queue runs dry then, which is no dropout), and the
// ring's underruns.
struct DeviceWords {
    std::atomic<uint32_t> queued;
    std::atomic<uint32_t> taken;
    std::atomic<uint32_t> dropouts;
    std::atomic<int32_t> state;
    std::atomic<uint32_t> underruns;
};
DeviceWords words{};
int16_t queue[QueueFrames * 2];

bool deviceOpen = false;
std::thread pump;
std::atomic<bool> pumpStop{false};

void Pump() {
    while (!pumpStop.load(std::memory_order_acquire)) {
        const uint32_t queued = words.queued.load(std::memory_order_relaxed);
        const uint32_t taken = words.taken.load(std::memory_order_acquire);
        if (QueueFrames - (queued - taken) < BlockFrames) {
            SleepMs(1);
            continue;
        }
        PullSoundBlock(queue + 2 * size_t(queued % QueueFrames), BlockFrames);
        words.underruns.store(uint32_t(CountUnderruns()), std::memory_order_relaxed);
        words.queued.store(queued + BlockFrames, std::memory_order_release);
    }
}

} // namespace

int OpenSound() {
    words.queued.store(0);
    words.taken.store(0);
    words.dropouts.store(0);
    words.state.store(0);
    const int result =
        MAIN_THREAD_EM_ASM_INT({ return Module["quimblesSound"].open($0, $1, $2); }, queue, QueueFrames, &words);
    // The worklet's code loads asynchronously on the page's thread; wait for it here, on the show's.
    const uint64_t giveUp = ReadPerformanceCounter() + 10000000000u;
    while (result == 0 && words.state.load(std::memory_order_acquire) == 0 && ReadPerformanceCounter() < giveUp)
        SleepMs(5);
    const int32_t state = words.state.load(std::memory_order_acquire);
    if (result != 0 || state != 1) {
        static const char* const reasons[] = {
            "the audio worklet did not start", "the browser has no Web Audio with audio worklets",
            "the browser refused an audio context at 44100 Hz", "the audio context does not run at 44100 Hz"};
        fprintf(stderr, "quimbles: sound set-up failed: %s\n", reasons[result >= 1 && result <= 3 ? result : 0]);
        MAIN_THREAD_EM_ASM({ Module["quimblesSound"].close(); });
        return -1;
    }
    pumpStop.store(false);
    try {
        pump = std::thread(Pump);
    } catch (const std::system_error& e) {
        fprintf(stderr, "quimbles: sound set-up failed: no thread for the sound device: %s\n", e.what());
        MAIN_THREAD_EM_ASM({ Module["quimblesSound"].close(); });
        return -1;
    }
    deviceOpen = true;
    SetPulledDeviceOpen(true);
    return 1;
}

void CloseSound() {
    if (deviceOpen) {
        words.state.store(2, std::memory_order_release);
        pumpStop.store(true, std::memory_order_release);
        pump.join();
        MAIN_THREAD_EM_ASM({ Module["quimblesSound"].close(); });
    }
    deviceOpen = false;
    SetPulledDeviceOpen(false);
    ReleaseStreamBuffer();
}
