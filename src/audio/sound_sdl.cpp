// The Linux sound device: SDL pulls 2048-frame blocks from the ring in its audio callback, and the play cursor is
// where the next block will be taken. Before Play the callback plays silence and the cursor stays at 0.

#include "audio/sound_device.h"
#include "audio/sound_ring.h"
#include "audio/sound_stats.h"
#include "app/system.h"
#include "app/thread_priority.h"

#include <SDL.h>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

namespace {

SDL_AudioDeviceID device = 0;
bool audioStarted = false;
std::mutex ringLock; // the ring is shared between the feeder and SDL's audio thread
SoundRing ring{};
bool bufferExists = false;
bool playing = false;
uint64_t underrunsBefore = 0;
uint64_t framesBefore = 0;
// Published by the callback so that the counters can be read without the ring's lock: a low-priority reader that
// held it could stall the callback and the feeder behind it.
std::atomic<uint64_t> underrunsSeen{0};
std::atomic<uint64_t> framesSeen{0};
std::atomic<uint32_t> cursorBytes{0};
std::atomic<uint64_t> callbacks{0};
thread_local uint32_t lastSeen = UINT32_MAX;

void FillAudio(void*, Uint8* stream, int length) {
    // This thread stands in for the sound card: raise it as far as the process may, or a busy machine makes the
    // server play gaps of silence that no ring can prevent.
    static thread_local bool raised = false;
    if (!raised) {
        raised = true;
        RaiseThreadPriority();
    }
    std::lock_guard<std::mutex> hold(ringLock);
    if (bufferExists && playing) {
        PlayRing(&ring, reinterpret_cast<int16_t*>(stream), uint32_t(length) / 4);
        // The counters go first: whoever sees the new cursor (and writes because of it) then sees them too.
        underrunsSeen.store(underrunsBefore + ring.underruns, std::memory_order_relaxed);
        framesSeen.store(framesBefore + ring.framesPlayed, std::memory_order_relaxed);
        cursorBytes.store(ring.cursor * 4, std::memory_order_release);
    } else {
        memset(stream, 0, size_t(length));
    }
    callbacks.fetch_add(1, std::memory_order_release);
}

} // namespace

int OpenSound() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        fprintf(stderr, "quimbles: sound set-up failed: cannot start SDL audio: %s\n", SDL_GetError());
        return -1;
    }
    audioStarted = true;
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 2048; // shorter blocks drop out under load with PulseAudio
    want.callback = FillAudio;
    SDL_AudioSpec have{};
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0) {
        fprintf(stderr, "quimbles: sound set-up failed: cannot open a sound device: %s\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audioStarted = false;
        return -1;
    }
    SDL_PauseAudioDevice(device, 0);
    return 1;
}

void CloseSound() {
    if (device != 0)
        SDL_CloseAudioDevice(device); // returns once the callback has finished for good
    device = 0;
    ReleaseStreamBuffer();
    if (audioStarted)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    audioStarted = false;
}

bool CreateStreamBuffer(int32_t frames) {
    if (device == 0) {
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
    // A device that has only just started delivers its first callbacks unevenly; let a few pass so that the
    // cursor moves steadily from the start.
    const uint64_t first = callbacks.load(std::memory_order_acquire);
    const uint64_t giveUp = ReadPerformanceCounter() + 1000000000u;
    while (callbacks.load(std::memory_order_acquire) < first + 3 && ReadPerformanceCounter() < giveUp)
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

// SDL never takes the ring's memory away.
bool RestoreStreamBuffer() {
    return true;
}

uint64_t CountUnderruns() {
    return underrunsSeen.load(std::memory_order_relaxed);
}

uint64_t CountFramesPlayed() {
    return framesSeen.load(std::memory_order_relaxed);
}
