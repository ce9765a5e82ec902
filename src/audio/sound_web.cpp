// The browser sound device: Web Audio pulls blocks of 4096 frames at 44100 Hz from the ring on the page's own
// thread (sound_web.js, through QuimblesPullSound), and the play cursor is where the next block will be taken.
// Before Play the pulls get silence and the cursor stays at 0.

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

namespace {

// 93 ms a block: shorter blocks drop out when the page's thread is busy, longer ones eat into the 0.32 s at least
// that the feeder keeps written ahead of the cursor.
constexpr uint32_t BlockFrames = 4096;

bool deviceOpen = false;
std::mutex ringLock; // the ring is shared between the feeder and the page's thread
SoundRing ring{};
bool bufferExists = false;
bool playing = false;
uint64_t underrunsBefore = 0;
uint64_t framesBefore = 0;
int16_t block[BlockFrames * 2]; // where the page takes each block from
// Published by the pull so that the counters can be read without the ring's lock.
std::atomic<uint64_t> underrunsSeen{0};
std::atomic<uint64_t> framesSeen{0};
std::atomic<uint32_t> cursorBytes{0};
std::atomic<uint64_t> pulls{0};
thread_local uint32_t lastSeen = UINT32_MAX;

} // namespace

// Called by the page's audio callback for `frames` frames (at most BlockFrames) into the block; returns the
// underruns so far, which the page keeps for whoever watches it.
extern "C" EMSCRIPTEN_KEEPALIVE double QuimblesPullSound(uint32_t frames) {
    if (frames > BlockFrames)
        frames = BlockFrames;
    std::lock_guard<std::mutex> hold(ringLock);
    if (bufferExists && playing) {
        PlayRing(&ring, block, frames);
        underrunsSeen.store(underrunsBefore + ring.underruns, std::memory_order_relaxed);
        framesSeen.store(framesBefore + ring.framesPlayed, std::memory_order_relaxed);
        cursorBytes.store(ring.cursor * 4, std::memory_order_release);
    } else {
        memset(block, 0, size_t(frames) * 4);
    }
    pulls.fetch_add(1, std::memory_order_release);
    return double(underrunsSeen.load(std::memory_order_relaxed));
}

int OpenSound() {
    const int result = MAIN_THREAD_EM_ASM_INT({ return Module["quimblesSound"].open($0, $1); }, block, BlockFrames);
    if (result != 0) {
        static const char* const reasons[] = {"", "the browser has no Web Audio",
                                              "the browser refused an audio context at 44100 Hz",
                                              "the audio context does not run at 44100 Hz"};
        fprintf(stderr, "quimbles: sound set-up failed: %s\n", reasons[result >= 1 && result <= 3 ? result : 1]);
        return -1;
    }
    deviceOpen = true;
    return 1;
}

void CloseSound() {
    if (deviceOpen)
        MAIN_THREAD_EM_ASM({ Module["quimblesSound"].close(); }); // no pull runs after this returns
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
    // The first blocks of a context that has just started come unevenly; let a few pass so that the cursor moves
    // steadily from the start.
    const uint64_t first = pulls.load(std::memory_order_acquire);
    const uint64_t giveUp = ReadPerformanceCounter() + 1000000000u;
    while (pulls.load(std::memory_order_acquire) < first + 3 && ReadPerformanceCounter() < giveUp)
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
