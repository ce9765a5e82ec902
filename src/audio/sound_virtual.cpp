// The virtual sound device: the ring plays one frame per 1/44100 s of virtual time once Play was called, and
// everything the cursor passes is handed to the audio callback as the exact sound a listener would hear.

#include "app/virtual_clock.h"
#include "app/virtual_platform.h"
#include "audio/sound_device.h"
#include "audio/sound_ring.h"
#include "audio/sound_stats.h"

#include <cstdio>
#include <cstring>

namespace {

bool soundAvailable = true;
bool deviceOpen = false;
bool bufferExists = false;
bool playing = false;
bool lost = false;
bool frozen = false;
int32_t failingWrites = 0;
SoundRing ring{};
uint32_t lastSeen[VirtualThreadSlots] = {};
uint64_t lastPollTime[VirtualThreadSlots] = {UINT64_MAX, UINT64_MAX, UINT64_MAX};
uint64_t underrunsBefore = 0; // of stream buffers already released, for the running totals
uint64_t framesBefore = 0;
VirtualWriteObserver writeObserver = nullptr;
void* writeContext = nullptr;
VirtualAudioCallback audioCallback = nullptr;
void* audioContext = nullptr;

} // namespace

void SetVirtualAudioCallback(VirtualAudioCallback callback, void* context) {
    audioCallback = callback;
    audioContext = context;
}

void SetVirtualWriteObserver(VirtualWriteObserver observer, void* context) {
    writeObserver = observer;
    writeContext = context;
}

void SetVirtualSoundAvailable(bool available) {
    soundAvailable = available;
}

void LoseVirtualStreamBuffer() {
    lost = true;
}

void FreezeVirtualPlayCursor(bool freeze) {
    frozen = freeze;
}

void FailVirtualStreamWrites(int32_t writes) {
    failingWrites = writes;
}

int OpenSound() {
    if (!soundAvailable) {
        fprintf(stderr, "quimbles: sound set-up failed: no virtual sound device\n");
        return -1;
    }
    deviceOpen = true;
    return 1;
}

void CloseSound() {
    ReleaseStreamBuffer();
    deviceOpen = false;
}

bool CreateStreamBuffer(int32_t frames) {
    if (!deviceOpen) {
        fprintf(stderr, "quimbles: cannot create the stream buffer: the sound device is not open\n");
        return false;
    }
    ReleaseStreamBuffer();
    if (frames <= 0 || !CreateRing(&ring, uint32_t(frames))) {
        fprintf(stderr, "quimbles: cannot create a stream buffer of %d frames\n", int(frames));
        return false;
    }
    bufferExists = true;
    playing = false;
    lost = false;
    for (int i = 0; i < VirtualThreadSlots; ++i) {
        lastSeen[i] = 0;
        lastPollTime[i] = UINT64_MAX;
    }
    return true;
}

void ReleaseStreamBuffer() {
    if (!bufferExists)
        return;
    underrunsBefore += ring.underruns;
    framesBefore += ring.framesPlayed;
    FreeRing(&ring);
    bufferExists = false;
    playing = false;
}

void PlayStreamBuffer() {
    if (bufferExists)
        playing = true;
}

// A poll is a wait when this thread already polled at this same instant and the cursor has not moved since:
// then the clock may go on to the cursor's next step. A poll that follows a wait, or comes at a new instant,
// returns at once, as a poll of a real device would.
uint32_t GetPlayPosition() {
    const int self = VirtualThreadIndex();
    uint32_t cursor = ring.cursor * 4;
    if (cursor == lastSeen[self] && lastPollTime[self] == VirtualNow()) {
        const bool moving = bufferExists && playing && !frozen;
        VirtualWaitUntil(moving ? VirtualTimeOfFrame(VirtualFrameAt(VirtualNow()) + 1) : VirtualNow() + 1000000);
        cursor = ring.cursor * 4;
        lastPollTime[self] = UINT64_MAX;
    } else {
        lastPollTime[self] = VirtualNow();
    }
    lastSeen[self] = cursor;
    return cursor;
}

StreamWriteResult WriteStreamBuffer(uint32_t offset, const void* samples, uint32_t bytes) {
    if (!bufferExists)
        return StreamWriteFailed;
    if (writeObserver)
        writeObserver(offset, bytes, writeContext);
    if (lost) {
        return StreamWriteLost;
    }
    if (failingWrites > 0) {
        --failingWrites;
        return StreamWriteFailed;
    }
    WriteRing(&ring, offset, samples, bytes);
    return StreamWriteOk;
}

bool RestoreStreamBuffer() {
    if (!bufferExists)
        return false;
    if (lost) {
        // A restored buffer has lost what it held.
        memset(ring.bytes, 0, size_t(ring.frames) * 4);
        memset(ring.fresh, 0, ring.frames);
        lost = false;
    }
    return true;
}

uint64_t CountUnderruns() {
    return underrunsBefore + ring.underruns;
}

void AdvanceVirtualSound(uint64_t from, uint64_t to) {
    uint64_t first = VirtualFrameAt(from);
    const uint64_t last = VirtualFrameAt(to);
    int16_t block[2 * 4096];
    while (first < last) {
        const uint32_t n = last - first < 4096 ? uint32_t(last - first) : 4096;
        if (bufferExists && playing && !frozen)
            PlayRing(&ring, block, n);
        else
            memset(block, 0, size_t(n) * 4);
        if (audioCallback)
            audioCallback(block, n, audioContext);
        first += n;
    }
}

void ResetVirtualSound() {
    ReleaseStreamBuffer();
    deviceOpen = false;
    soundAvailable = true;
    lost = false;
    frozen = false;
    failingWrites = 0;
    underrunsBefore = 0;
    framesBefore = 0;
    audioCallback = nullptr;
    audioContext = nullptr;
    writeObserver = nullptr;
    writeContext = nullptr;
}

uint64_t CountFramesPlayed() {
    return framesBefore + ring.framesPlayed;
}
