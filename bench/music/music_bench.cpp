// Frames per second of RenderFrames on every corpus module, next to libxmp and libopenmpt rendering the same
// modules to memory at 44.1 kHz stereo 16-bit with linear interpolation; and the time of one 3528-frame chunk
// of the 32-channel corpus modules.
#include "audio/mixer.h"
#include "music/music.h"
#include "corpus_modules.h"

#include <benchmark/benchmark.h>
#include <libopenmpt/libopenmpt.h>
#include <xmp.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

void SetFrameRate(benchmark::State& state) {
    state.counters["frames/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()) * ChunkFrames, benchmark::Counter::kIsRate);
}

bool StartQuimbles(const fs::path& path) {
    ReleaseMusic();
    ResetPlayer();
    BuildPeriodTables();
    if (LoadModule(path.c_str()) != 0)
        return false;
    SetRepeatMode(1);
    SetFadeMode(4);
    PrepareMusic();
    RequestModule(0);
    return true;
}

void Quimbles(benchmark::State& state, fs::path path) {
    if (!StartQuimbles(path)) {
        state.SkipWithError(ModuleError());
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(RenderFrames(ChunkFrames));
    SetFrameRate(state);
    ReleaseMusic();
}

void Libxmp(benchmark::State& state, fs::path path) {
    xmp_context context = xmp_create_context();
    if (xmp_load_module(context, const_cast<char*>(path.c_str())) != 0) {
        xmp_free_context(context);
        state.SkipWithError("libxmp cannot load it");
        return;
    }
    xmp_start_player(context, 44100, 0);
    xmp_set_player(context, XMP_PLAYER_INTERP, XMP_INTERP_LINEAR);
    std::vector<int16_t> buffer(2 * ChunkFrames);
    for (auto _ : state) {
        xmp_play_buffer(context, buffer.data(), static_cast<int>(buffer.size() * sizeof(int16_t)), 0);
        benchmark::DoNotOptimize(buffer.data());
    }
    SetFrameRate(state);
    xmp_end_player(context);
    xmp_release_module(context);
    xmp_free_context(context);
}

void Libopenmpt(benchmark::State& state, fs::path path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    openmpt_module* module = openmpt_module_create_from_memory2(bytes.data(), bytes.size(), nullptr, nullptr, nullptr,
                                                                nullptr, nullptr, nullptr, nullptr);
    if (!module) {
        state.SkipWithError("libopenmpt cannot load it");
        return;
    }
    openmpt_module_set_repeat_count(module, -1);
    openmpt_module_set_render_param(module, OPENMPT_MODULE_RENDER_INTERPOLATIONFILTER_LENGTH, 2);
    std::vector<int16_t> buffer(2 * ChunkFrames);
    for (auto _ : state) {
        openmpt_module_read_interleaved_stereo(module, 44100, ChunkFrames, buffer.data());
        benchmark::DoNotOptimize(buffer.data());
    }
    SetFrameRate(state);
    openmpt_module_destroy(module);
}

// One chunk of a 32-channel module, from well into the song (after 30 s) so that most channels sound.
void Chunk32(benchmark::State& state, fs::path path) {
    if (!StartQuimbles(path)) {
        state.SkipWithError(ModuleError());
        return;
    }
    for (int c = 0; c < 375; ++c)
        RenderFrames(ChunkFrames);
    for (auto _ : state)
        benchmark::DoNotOptimize(RenderFrames(ChunkFrames));
    SetFrameRate(state);
    ReleaseMusic();
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    for (const fs::path path : CorpusModules({"xm", "mod"})) {
        std::string name = path.filename().string();
        benchmark::RegisterBenchmark(("Quimbles/" + name).c_str(), Quimbles, path)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("Libxmp/" + name).c_str(), Libxmp, path)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("Libopenmpt/" + name).c_str(), Libopenmpt, path)->Unit(benchmark::kMicrosecond);
        BuildPeriodTables();
        std::ifstream in(path, std::ios::binary);
        char head[70] = {};
        in.read(head, sizeof head);
        bool xm32 = std::memcmp(head, "Extended M", 10) == 0 &&
                    (static_cast<uint8_t>(head[68]) | static_cast<uint8_t>(head[69]) << 8) == 32;
        if (xm32)
            benchmark::RegisterBenchmark(("Chunk32/" + name).c_str(), Chunk32, path)->Unit(benchmark::kMicrosecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
