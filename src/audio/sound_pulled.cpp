// The stream buffer of the pulled devices (SDL, the browser): the ring, its cursor and its underrun accounting.

#include "audio/sound_pulled.h"

#include "app/system.h"
#include "audio/sound_device.h"
#include "audio/sound_ring.h"
#include "audio/sound_stats.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

bool deviceOpen = false;
std::mutex ringLock; // the ring is shared between the feeder and the pulling thread
SoundRing ring{};
bool bufferExists = false;
bool playing = false;
uint64_t underrunsBefore = 0; // of stream buffers already released, for the running totals
uint64_t framesBefore = 0;
// Published by the puller, so that they can be read without the ring's lock: a low-priority reader that held it
// could stall the puller and the feeder behind it.
std::atomic<uint64_t> underrunsSeen{0};
std::atomic<uint64_t> framesSeen{0};
std::atomic<uint32_t> cursorBytes{0};
std::atomic<uint64_t> pullsSinceCreate{0};
thread_local uint32_t lastSeen = UINT32_MAX;

} // namespace

void SetPulledDeviceOpen(bool open) {
    deviceOpen = open;
}

void PullSoundBlock(int16_t* out, uint32_t frames) {
    std::lock_guard<std::mutex> hold(ringLock);
    if (bufferExists && playing) {
        PlayRing(&ring, out, frames);
        // The counters go first: whoever sees the new cursor (and writes because of it) then sees them too.
        underrunsSeen.store(underrunsBefore + ring.underruns, std::memory_order_relaxed);
        framesSeen.store(framesBefore + ring.framesPlayed, std::memory_order_relaxed);
        cursorBytes.store(ring.cursor * 4, std::memory_order_release);
    } else {
        memset(out, 0, size_t(frames) * 4);
    }
    pullsSinceCreate.fetch_add(1, std::memory_order_release);
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
    pullsSinceCreate.store(0);
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
    // A device that has only just started pulls unevenly at first; once a few pulls have gone by since the buffer
    // was made, the cursor moves steadily from the start.
    const uint64_t giveUp = ReadPerformanceCounter() + ReadPerformanceFrequency();
    while (pullsSinceCreate.load(std::memory_order_acquire) < 3 && ReadPerformanceCounter() < giveUp)
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

// The ring is our own memory; nothing takes it away.
bool RestoreStreamBuffer() {
    return true;
}

uint64_t CountUnderruns() {
    return underrunsSeen.load(std::memory_order_relaxed);
}

uint64_t CountFramesPlayed() {
    return framesSeen.load(std::memory_order_relaxed);
}
