#include "fake_mixer.h"

#include "app/system.h"
#include "app/virtual_clock.h"
#include "audio/mixer.h"
#include "audio/stream.h"
#include "audio/stream_threads.h"

FakeMixerLog fakeMixer;

void ResetFakeMixer() {
    fakeMixer = FakeMixerLog{};
}

namespace {

int16_t chunkBuffer[2 * ChunkFrames];

int16_t* FakeRender(int frames) {
    const int thread = VirtualThreadIndex();
    // The first chunk is the feeder's, before any request; every later one answers a request.
    const bool first = fakeMixer.renders == 0;
    if (first ? (chunkReady.load() != 0 || renderRequest.load() != 0 || thread != 1)
              : (renderRequest.load() != 1 || chunkReady.load() != 0 || thread != 2))
        ++fakeMixer.handshakeViolations;
    const uint64_t n = uint64_t(fakeMixer.renders++);
    ++fakeMixer.rendersByThread[thread];
    for (int i = 0; i < frames && i < ChunkFrames; ++i) {
        chunkBuffer[2 * i] = FakeSample(n, uint32_t(i), 0);
        chunkBuffer[2 * i + 1] = FakeSample(n, uint32_t(i), 1);
    }
    return chunkBuffer;
}

void FakePrepare() {
    ++fakeMixer.prepared;
}
void FakeRelease() {
    ++fakeMixer.released;
}

} // namespace

ChunkSource FakeMixerSource() {
    return {FakeRender, FakePrepare, FakeRelease};
}
