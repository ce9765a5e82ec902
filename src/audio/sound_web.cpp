// The browser sound device. An AudioWorklet (sound_web.js) plays from a short queue in the module's memory on the
// browser's audio thread; a pump thread of ours stands in for the sound card's DMA: whenever the queue has room
// for a block it takes the next block from the ring, and the play cursor is where the next block will be taken.
// Neither depends on the page's own thread, which may stall. Before Play the blocks are silence and the cursor
// stays at 0.

#include "audio/sound_device.h"
#include "audio/sound_ring.h"
#include "audio/sound_stats.h"
#include "app/system.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <emscripten/emscripten.h>
#include <emscripten/threading.h>
#include <mutex>
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
std::mutex ringLock; // the ring is shared between the feeder and the pump
SoundRing ring{};
bool bufferExists = false;
bool playing = false;
uint64_t underrunsBefore = 0;
uint64_t framesBefore = 0;
// Published by the pump so that the counters can be read without the ring's lock.
std::atomic<uint64_t> underrunsSeen{0};
std::atomic<uint64_t> framesSeen{0};
std::atomic<uint32_t> cursorBytes{0};
std::atomic<uint64_t> blocks{0};
thread_local uint32_t lastSeen = UINT32_MAX;

void TakeBlock(int16_t* out) {
    std::lock_guard<std::mutex> hold(ringLock);
    if (bufferExists && playing) {
        PlayRing(&ring, out, BlockFrames);
        underrunsSeen.store(underrunsBefore + ring.underruns, std::memory_order_relaxed);
        framesSeen.store(framesBefore + ring.framesPlayed, std::memory_order_relaxed);
        words.underruns.store(uint32_t(underrunsSeen.load(std::memory_order_relaxed)), std::memory_order_relaxed);
        cursorBytes.store(ring.cursor * 4, std::memory_order_release);
    } else {
        memset(out, 0, size_t(BlockFrames) * 4);
    }
    blocks.fetch_add(1, std::memory_order_release);
}

void Pump() {
    while (!pumpStop.load(std::memory_order_acquire)) {
        const uint32_t queued = words.queued.load(std::memory_order_relaxed);
        const uint32_t taken = words.taken.load(std::memory_order_acquire);
        if (QueueFrames - (queued - taken) < BlockFrames) {
            SleepMs(1);
            continue;
        }
        TakeBlock(queue + 2 * size_t(queued % QueueFrames));
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
    ReleaseStreamBuffer();
}

bool CreateStreamBuffer(int32_t frames) {
    if (!deviceOpen) {
        fprintf(stderr, "quimbles: cannot create the stream buffer: the sound device is not open\n");
        return false;
    }
    ReleaseStreamBuffer();
    std::lock_guard<std::mutex> hold(ringLock);
    if (frames <= 0 || !CreateRing(&ring, uint32_t(frames))) {
        fprintf(stderr, "quimbles: cannot create a stream buffer of %d frames\n", int(frames));
        return false;
    }
    bufferExists = true;
    playing = false;
    cursorBytes.store(0);
    return true;
}

void ReleaseStreamBuffer() {
    std::lock_guard<std::mutex> hold(ringLock);
    if (!bufferExists)
        return;
    underrunsBefore += ring.underruns;
    framesBefore += ring.framesPlayed;
    FreeRing(&ring);
    bufferExists = false;
    playing = false;
    cursorBytes.store(0);
}

void PlayStreamBuffer() {
    // Let a few blocks go by first, so that the cursor moves steadily from the start.
    const uint64_t first = blocks.load(std::memory_order_acquire);
    const uint64_t giveUp = ReadPerformanceCounter() + 1000000000u;
    while (blocks.load(std::memory_order_acquire) < first + 3 && ReadPerformanceCounter() < giveUp)
        SleepMs(1);
    std::lock_guard<std::mutex> hold(ringLock);
    if (bufferExists)
        playing = true;
}

uint32_t GetPlayPosition() {
    const uint32_t cursor = cursorBytes.load(std::memory_order_acquire);
    if (cursor == lastSeen) {
        // Polled again with no progress: give the processor up for a moment rather than spin.
        timespec pause{0, 200000};
        nanosleep(&pause, nullptr);
    }
    lastSeen = cursor;
    return cursor;
}

StreamWriteResult WriteStreamBuffer(uint32_t offset, const void* samples, uint32_t bytes) {
    std::lock_guard<std::mutex> hold(ringLock);
    if (!bufferExists)
        return StreamWriteFailed;
    WriteRing(&ring, offset, samples, bytes);
    return StreamWriteOk;
}

// The ring is the module's own memory; nothing takes it away.
bool RestoreStreamBuffer() {
    return true;
}

uint64_t CountUnderruns() {
    return underrunsSeen.load(std::memory_order_relaxed);
}

uint64_t CountFramesPlayed() {
    return framesSeen.load(std::memory_order_relaxed);
}
