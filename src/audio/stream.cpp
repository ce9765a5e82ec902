// The two audio threads and the stream they keep fed, the same on every platform. The feeder owns the stream
// buffer and streamOffset; the mixer owns the player while it renders. They hand the chunk buffer and the player
// to each other through chunkReady and renderRequest, each stored only after the work it announces is done.

#include "audio/stream.h"
#include "audio/stream_threads.h"

#include "app/system.h"
#include "audio/mixer.h"
#include "audio/sound_device.h"

#include <cstdio>
#include <cstring>

std::atomic<int32_t> chunkReady{0};
std::atomic<int32_t> renderRequest{0};
static std::atomic<int32_t> stopRequest{0}; // 1 tells both audio threads to leave their loops
std::atomic<int32_t> exitCount{0};
uint32_t streamOffset = 0;
uint32_t StreamWaitLimitMs = 2000;
uint32_t StreamStallLimitMs = 10000;

namespace {

constexpr uint32_t RoomBytes = 4 * ChunkBytes;              // half the ring free before a chunk goes in
constexpr uint32_t PlayedBeforeFirstChunk = 4 * ChunkBytes; // the cursor passes half the ring's silence first
// A cursor still this long has let the device run dry: far longer than a working device takes between two steps
// (2048 frames, 46 ms, with SDL; 10 ms with DirectSound under Wine), so the listener heard a gap.
constexpr uint64_t GapMs = 200;

std::atomic<const int16_t*> chunk{nullptr}; // the chunk buffer that the last RenderFrames returned
std::atomic<const char*> fault{nullptr};
std::atomic<uint64_t> chunksWritten{0};
std::atomic<uint64_t> gaps{0};
std::atomic<bool> running{false};
bool threadsStarted = false;
ChunkSource source{};
ChunkObserver chunkObserver = nullptr;
void* observerContext = nullptr;
uint64_t chunksRendered = 0; // touched only by the thread that owns the player

void Render() {
    chunk.store(source.render(ChunkFrames), std::memory_order_relaxed);
    if (chunkObserver)
        chunkObserver(chunksRendered, observerContext);
    ++chunksRendered;
}

uint64_t NowMs() {
    const uint64_t frequency = ReadPerformanceFrequency();
    const uint64_t count = ReadPerformanceCounter();
    return frequency >= 1000 ? count / (frequency / 1000) : count * 1000 / (frequency ? frequency : 1);
}

// A wait gave up: say why once, and have both threads leave their loops.
void GiveUp(const char* reason) {
    const char* none = nullptr;
    if (fault.compare_exchange_strong(none, reason))
        fprintf(stderr, "quimbles: audio stopped: %s\n", reason);
    stopRequest.store(1, std::memory_order_release);
}

// After giving up the ring must not keep looping its last 0.64 s: fill it with silence.
void SilenceRing() {
    static const int16_t zeros[ChunkBytes / 2] = {};
    for (uint32_t offset = 0; offset < StreamBufferBytes; offset += ChunkBytes)
        if (WriteStreamBuffer(offset, zeros, ChunkBytes) == StreamWriteLost && RestoreStreamBuffer())
            WriteStreamBuffer(offset, zeros, ChunkBytes);
}

} // namespace

void WriteChunk(const int16_t* samples, int32_t bytes) {
    const uint32_t size = uint32_t(bytes);
    if (4 * size != 0) {
        uint32_t play = GetPlayPosition();
        // The cursor was at `seen` from the reading at stillFrom to the one at stillTo.
        uint32_t seen = play;
        uint64_t stillFrom = NowMs();
        uint64_t stillTo = stillFrom;
        for (;;) {
            // Equal positions count as a whole free ring.
            const uint32_t room = streamOffset < play ? play - streamOffset : play - streamOffset + StreamBufferBytes;
            if (room >= 4 * size)
                break;
            if (stillTo - stillFrom > StreamStallLimitMs) {
                GiveUp("the play cursor stopped moving");
                return;
            }
            // The show may end while the device stalls.
            if (stopRequest.load(std::memory_order_acquire) != 0)
                return;
            SleepMs(1);
            play = GetPlayPosition();
            const uint64_t now = NowMs();
            if (play != seen) {
                // The device goes on: the next chunk follows the last one written wherever the cursor now is.
                // If the cursor lapped the ring meanwhile, the device plays stale frames until it reaches the
                // music again, and counts them as an underrun.
                if (stillTo - stillFrom >= GapMs) {
                    gaps.fetch_add(1, std::memory_order_relaxed);
                    fprintf(stderr, "quimbles: audio: the play cursor stood still for %.1f s; the music goes on\n",
                            double(stillTo - stillFrom) / 1000.0);
                }
                seen = play;
                stillFrom = now;
            }
            stillTo = now;
        }
    }
    StreamWriteResult result = WriteStreamBuffer(streamOffset, samples, size);
    if (result == StreamWriteLost) {
        RestoreStreamBuffer();
        result = WriteStreamBuffer(streamOffset, samples, size);
    }
    if (result == StreamWriteOk)
        chunksWritten.fetch_add(1, std::memory_order_release);
    // A dropped chunk still moves the offset on, so the stream stays in step with the cursor.
    streamOffset = (streamOffset + size) % StreamBufferBytes;
}

static void FeederThread() {
    Render();
    PlayStreamBuffer();
    streamOffset = 0;
    const uint64_t start = NowMs();
    bool ok = true;
    while (GetPlayPosition() < PlayedBeforeFirstChunk) {
        if (NowMs() - start > StreamStallLimitMs) {
            GiveUp("the play cursor did not start moving");
            ok = false;
            break;
        }
        if (stopRequest.load(std::memory_order_acquire) != 0) {
            ok = false;
            break;
        }
        // No sleep: the first chunk must go in as soon as the cursor passes the middle. Yielding keeps this spin,
        // at the highest priority, from starving the rest of the machine (the sound server among it) meanwhile.
        SleepMs(0);
    }
    if (ok)
        chunkReady.store(1, std::memory_order_release);
    while (ok && stopRequest.load(std::memory_order_acquire) == 0) {
        const uint64_t waitStart = NowMs();
        // Leaving on stopRequest as well: the mixer may have stopped before it answered the last request.
        while (chunkReady.load(std::memory_order_acquire) != 1 && stopRequest.load(std::memory_order_acquire) == 0) {
            if (NowMs() - waitStart > StreamWaitLimitMs) {
                GiveUp("the mixer did not deliver a chunk in time");
                break;
            }
            SleepMs(1);
        }
        if (chunkReady.load(std::memory_order_acquire) != 1)
            break;
        WriteChunk(chunk.load(std::memory_order_relaxed), ChunkBytes);
        if (fault.load(std::memory_order_acquire))
            break;
        chunkReady.store(0, std::memory_order_relaxed);
        renderRequest.store(1, std::memory_order_release);
        SleepMs(70);
    }
    if (fault.load(std::memory_order_acquire))
        SilenceRing();
    exitCount.fetch_add(1, std::memory_order_acq_rel);
}

static void MixerThread() {
    while (stopRequest.load(std::memory_order_acquire) == 0) {
        if (renderRequest.load(std::memory_order_acquire) == 1) {
            Render();
            renderRequest.store(0, std::memory_order_relaxed);
            chunkReady.store(1, std::memory_order_release);
        }
        SleepMs(1);
    }
    exitCount.fetch_add(1, std::memory_order_acq_rel);
}

void StartMusic() {
    StartStream({RenderFrames, PrepareMusic, ReleaseMusic});
}

void StartStream(ChunkSource chunkSource) {
    if (running.load())
        return;
    source = chunkSource;
    if (source.prepare)
        source.prepare();
    chunkReady.store(0);
    renderRequest.store(0);
    stopRequest.store(0);
    exitCount.store(0);
    fault.store(nullptr);
    chunksWritten.store(0);
    gaps.store(0);
    streamOffset = 0;
    chunksRendered = 0;
    threadsStarted = false;
    running.store(true);
    if (!CreateStreamBuffer(StreamBufferFrames)) {
        // The show goes on without music; StopMusic still frees the player.
        fault.store("no stream buffer");
        return;
    }
    threadsStarted = StartAudioThreads(FeederThread, MixerThread);
    if (!threadsStarted)
        fault.store("no audio threads");
}

void StopMusic() {
    if (!running.load())
        return;
    bool ended = true;
    if (threadsStarted) {
        // exitCount is not cleared here: a thread that already gave up has counted itself.
        stopRequest.store(1, std::memory_order_release);
        const uint64_t start = NowMs();
        while (exitCount.load(std::memory_order_acquire) < 2 && NowMs() - start <= StreamWaitLimitMs)
            SleepMs(1);
        ended = JoinAudioThreads(StreamWaitLimitMs);
        threadsStarted = false;
    }
    if (!ended) {
        // A thread that did not end may still use the player and the ring: leave them allocated.
        GiveUp("the audio threads did not stop in time");
        running.store(false);
        return;
    }
    if (source.release)
        source.release();
    ReleaseStreamBuffer();
    running.store(false);
}

bool IsMusicRunning() {
    return running.load();
}

const char* StreamFault() {
    return fault.load();
}

void SetChunkObserver(ChunkObserver observer, void* context) {
    chunkObserver = observer;
    observerContext = context;
}

uint64_t CountChunksWritten() {
    return chunksWritten.load(std::memory_order_acquire);
}

uint64_t CountStreamGaps() {
    return gaps.load(std::memory_order_relaxed);
}
