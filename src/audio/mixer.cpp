// The mix-down: runs the engines tick by tick, applies the commands of the show, and sums the channels'
// MixBuffers through a saturating table into 16-bit stereo chunks.
#include "audio/mixer.h"
#include "music/music.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#include "app/cpu.h"

namespace {

int16_t* clampTable;
int16_t* chunkBuffer;
int32_t songEndCount;

// Commands from the main thread, read by the mixer once per tick. The mixer clears a command only if it still
// holds the value acted on, so a command stored meanwhile is kept for the next tick.
std::atomic<int32_t> fadeMode{-1};
std::atomic<int32_t> requestedModule{-1};
std::atomic<int32_t> repeatMode{0};
std::atomic<int32_t> requestedPosition{-1};
std::atomic<int32_t> pauseMode{0};
int64_t songFrames; // frames of the current song played, counted from its start

constexpr float FadeStep = 0.1f;

void BuildClampTable() {
    if (!clampTable)
        clampTable = static_cast<int16_t*>(std::malloc(131072 * sizeof(int16_t)));
    for (int32_t i = 0; i < 131072; ++i) {
        int32_t v = i - 65536;
        clampTable[i] = static_cast<int16_t>(v < -32767 ? -32767 : v > 32767 ? 32767 : v);
    }
}

void FreeClampTable() {
    std::free(clampTable);
    clampTable = nullptr;
}

// A module starts with centred pans and silent channels; the channels' other memories carry over.
void ResetChannels() {
    for (float& pan : player.channelPan)
        pan = 0.5f;
    for (Channel& ch : channels) {
        ch.period = 0;
        ch.instrument = 0;
        ch.position = 0.0f;
        ch.cellPeriod = 0;
        ch.noteCutTick = -1;
        ch.noteDelayTick = -1;
    }
    if (player.module)
        player.channelCount = player.module->channelCount;
}

void ClearCommand(std::atomic<int32_t>& command, int32_t actedOn) {
    command.compare_exchange_strong(actedOn, -1);
}

void ApplyFade() {
    int32_t mode = fadeMode.load();
    switch (mode) {
    case 1:
        player.masterVolume -= FadeStep;
        if (player.masterVolume < 0.0f) {
            player.masterVolume = 0.0f;
            ClearCommand(fadeMode, mode);
        }
        break;
    case 2:
        player.masterVolume += FadeStep;
        if (player.masterVolume > 1.0f) {
            player.masterVolume = 1.0f;
            ClearCommand(fadeMode, mode);
        }
        break;
    case 3:
        player.masterVolume = 0.0f;
        ClearCommand(fadeMode, mode);
        break;
    case 4:
        player.masterVolume = 1.0f;
        ClearCommand(fadeMode, mode);
        break;
    default:
        break;
    }
}

// Starts module `index` from its first position; what is already rendered in the MixBuffers is still mixed.
void SwitchTo(int32_t index) {
    int32_t oldChannels = player.channelCount;
    ResetChannels();
    player.currentModule = index;
    StartSong(player.moduleTable[index]);
    player.tickBudget = (player.blockFrames - player.writePosition) / player.samplesPerTick;
    songFrames = 0;
    // Channels the old module did not use hold frames from long ago below writePosition; the new module mixes
    // them with this chunk, so they must be silent there.
    for (int32_t ch = oldChannels < 0 ? 0 : oldChannels; ch < MaxChannels; ++ch) {
        if (player.mixBuffers[0][ch])
            std::memset(player.mixBuffers[0][ch], 0, 4 * static_cast<size_t>(player.writePosition));
        if (player.quietFrom[ch] <= player.writePosition)
            player.quietFrom[ch] = 0;
    }
}

// Moves the song to the start of order position `position` as though it had played there from its start, so that
// speed, tempo and loop counts are what they would be; the notes sounding stop. A position the song never reaches
// from its start is jumped to as it is.
void SeekTo(int32_t position) {
    if (position < 0 || position >= player.module->songLength)
        return;
    const PlayerState before = player;
    StartSong(player.module);
    player.patternDelay = 0;
    player.patternLoopCount = 0;
    player.patternLoopRow = 0;
    bool reached = false;
    const int64_t frames = ScanSong(position, &reached);
    if (reached) {
        songFrames = frames;
    } else {
        player = before;
        player.orderPosition = position;
        player.row = 0;
        player.tick = 0;
    }
    ResetChannels();
}

// A paused tick: silence in every channel for the tick's length, and the song stays where it is.
void PauseTick() {
    for (int32_t ch = 0; ch < player.channelCount; ++ch)
        RenderSilence(ch);
    player.writePosition += player.samplesPerTick;
}

void RunTick() {
    if (pauseMode.load() == 1) {
        PauseTick();
    } else {
        ApplyFade();
        player.tickBudget = 1;
        const int32_t start = player.writePosition;
        if (player.module->isXm)
            XmTick(player.module);
        else
            ModTick(player.module);
        songFrames += player.writePosition - start;
    }

    if (player.moduleLoaded != 1)
        return;
    int32_t request = requestedModule.load();
    if (request != -1) {
        // Only an index of a loaded module is acted on; any other request is dropped.
        if (request >= 0 && request < player.moduleCount && player.moduleTable[request])
            SwitchTo(request);
        ClearCommand(requestedModule, request);
    } else if (player.songEnded == 1) {
        ++songEndCount;
        int32_t next = player.currentModule;
        if (repeatMode.load() != 1 && ++next >= player.moduleCount)
            next = 0;
        SwitchTo(next);
    }
    int32_t position = requestedPosition.load();
    if (position != -1) {
        SeekTo(position);
        ClearCommand(requestedPosition, position);
    }
}

// Whether `count` samples are all 0, looking at blocks of 64 so that a sounding channel is known at once and a
// silent one costs one vector OR per eight samples.
bool Silent(const int16_t* in, int32_t count) {
    int32_t i = 0;
#if defined(__SSE2__)
    for (; i + 64 <= count; i += 64) {
        __m128i any = _mm_setzero_si128();
        for (int32_t k = 0; k < 64; k += 8)
            any = _mm_or_si128(any, _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i + k)));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(any, _mm_setzero_si128())) != 0xFFFF)
            return false;
    }
#endif
    for (; i < count; ++i) {
        if (in[i] != 0)
            return false;
    }
    return true;
}

#if QUIMBLES_X86_DISPATCH
// The SSE2 sums below, sixteen at a time. Returns how many samples it summed.
[[gnu::target("avx2")]] int32_t MixDownAvx2(const int16_t* const* sounding, int32_t soundingCount, int32_t count) {
    const __m256i floor = _mm256_set1_epi16(-32767);
    int32_t i = 0;
    for (; i + 16 <= count; i += 16) {
        __m256i sum = _mm256_setzero_si256();
        for (int32_t ch = 0; ch < soundingCount; ++ch) {
            const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(sounding[ch] + i));
            sum = _mm256_max_epi16(_mm256_adds_epi16(sum, in), floor);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(chunkBuffer + i), sum);
    }
    return i;
}
#endif

void MixDown(int32_t frames) {
    const int32_t count = 2 * frames;
    const int16_t* table = clampTable + 65536;
    // The channels that hold any sound. Adding 0 to a sum already inside -32767..32767 returns it unchanged, so
    // leaving a silent channel out changes no bit, and the scan is far cheaper than the look-ups. Frames from
    // quietFrom on are known to be 0 without a look.
    const int16_t* sounding[MaxChannels];
    int32_t soundingCount = 0;
    for (int32_t ch = 0; ch < player.channelCount; ++ch) {
        const int32_t quiet = player.quietFrom[ch];
        if (!Silent(player.mixBuffers[0][ch], quiet < frames ? 2 * quiet : count))
            sounding[soundingCount++] = player.mixBuffers[0][ch];
    }
    int32_t i = 0;
#if QUIMBLES_X86_DISPATCH
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2)
        i = MixDownAvx2(sounding, soundingCount, count);
#endif
#if defined(__SSE2__)
    // Eight sums at a time, channel by channel as the table does it: a 16-bit saturating add clips to
    // -32768..32767, and a floor of -32767 makes that the table's -32767..32767. Every index the table would be
    // asked for is a 16-bit sample plus a sum already inside that range, so the results are the table's.
    const __m128i floor = _mm_set1_epi16(-32767);
    for (; i + 8 <= count; i += 8) {
        __m128i sum = _mm_setzero_si128();
        for (int32_t ch = 0; ch < soundingCount; ++ch) {
            const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sounding[ch] + i));
            sum = _mm_max_epi16(_mm_adds_epi16(sum, in), floor);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(chunkBuffer + i), sum);
    }
#endif
    // What is left (all of it without SSE2) goes through the table itself.
    for (; i < count; ++i) {
        int32_t sum = 0;
        for (int32_t ch = 0; ch < soundingCount; ++ch)
            sum = table[sounding[ch][i] + sum];
        chunkBuffer[i] = static_cast<int16_t>(sum);
    }
}

} // namespace

void SetFadeMode(int32_t mode) {
    fadeMode.store(mode);
}
void SetRepeatMode(int32_t mode) {
    repeatMode.store(mode);
}

void RequestModule(int32_t index) {
    if (index >= 0 && index < player.moduleCount)
        requestedModule.store(index);
}

void RequestPosition(int32_t position) {
    if (position >= 0)
        requestedPosition.store(position);
}

void SetPauseMode(int32_t mode) {
    pauseMode.store(mode);
}

int64_t SongFrames() {
    return songFrames;
}

int32_t SongEndCount() {
    return songEndCount;
}

int32_t FadeMode() {
    return fadeMode.load();
}

void PrepareMusic() {
    playerTaken = true;
    player.writePosition = 0;
    FillPeriodTable();
    BuildClampTable();
    if (!chunkBuffer)
        chunkBuffer = static_cast<int16_t*>(std::malloc(2 * ChunkFrames * sizeof(int16_t)));
    player.blockFrames = BlockFrames;
    ResetChannels();
    for (auto& bank : player.mixBuffers) {
        for (MixBuffer& buffer : bank) {
            if (!buffer)
                buffer = static_cast<int16_t*>(std::malloc(2 * MixBufferFrames * sizeof(int16_t)));
            std::memset(buffer, 0, 2 * MixBufferFrames * sizeof(int16_t));
        }
    }
    for (int32_t& quiet : player.quietFrom)
        quiet = 0;
    player.mixBank = 0;
    player.tickBudget = 0;
    StartSong(player.module);
    if (player.module && player.module->isXm)
        player.tickBudget = (player.blockFrames - player.writePosition) / player.samplesPerTick;
    requestedModule.store(-1);
    requestedPosition.store(-1);
    pauseMode.store(0);
    songEndCount = 0;
    songFrames = 0;
}

void ReleaseMusic() {
    if (player.moduleLoaded == 1) {
        for (int32_t i = 0; i < player.moduleCount; ++i) {
            FreeModule(player.moduleTable[i]);
            player.moduleTable[i] = nullptr;
        }
    }
    // The table is empty now; nothing may point into the freed modules.
    player.moduleCount = 0;
    player.currentModule = 0;
    player.module = nullptr;
    player.moduleLoaded = 0;
    playerTaken = false;
    FreeClampTable();
    std::free(chunkBuffer);
    chunkBuffer = nullptr;
    for (auto& bank : player.mixBuffers) {
        for (MixBuffer& buffer : bank) {
            std::free(buffer);
            buffer = nullptr;
        }
    }
}

int16_t* RenderFrames(int frames) {
    // The MixBuffers hold a chunk plus the longest tick, so a chunk is never longer than ChunkFrames.
    frames = frames < 1 ? 1 : frames > ChunkFrames ? ChunkFrames : frames;
    player.mixBank = 0;
    if (!player.module) {
        std::memset(chunkBuffer, 0, 4 * static_cast<size_t>(frames));
        return chunkBuffer;
    }
    player.channelCount = player.module->channelCount;
    while (player.writePosition < frames)
        RunTick();
    MixDown(frames);
    int32_t surplus = 2 * (player.writePosition - frames);
    for (int32_t ch = 0; ch < player.channelCount; ++ch) {
        int16_t* buffer = player.mixBuffers[0][ch];
        int32_t& quiet = player.quietFrom[ch];
        if (quiet <= frames) {
            // The surplus is 0: the frames it would move to get zeros instead (only those before quietFrom need
            // them), and the frames past those stay as they were.
            const int32_t moved = player.writePosition - frames;
            std::memset(buffer, 0, 4 * static_cast<size_t>(quiet < moved ? quiet : moved));
            if (quiet <= moved)
                quiet = 0;
            continue;
        }
        if (surplus > 0)
            std::memmove(buffer, buffer + 2 * frames, sizeof(int16_t) * surplus);
        // The frames past the moved ones are as they were.
        if (quiet < player.writePosition - frames)
            quiet = player.writePosition - frames;
    }
    player.writePosition -= frames;
    return chunkBuffer;
}
