// The show's costs, each reported as a ratio in one run:
//   a picture frame (clear, fade, text, present into memory) against a plain copy of 1,228,800 bytes (goal <= 3);
//   the stretch of DrawMovieFrame against OpenJPEG's decode of the same frame (goal < 1);
//   the whole capture against the show's real duration (goal >= 30 times faster), and its peak memory.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/display.h"
#include "movie/j2k_encode.h"
#include "movie/movie.h"
#include "show/effects.h"
#include "show/test_data.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// CPU time of this thread: the machine is shared, and a ratio of two wall-clock times would measure the
// neighbours as much as the code.
struct ThreadClock {
    using time_point = double;
    static double now() {
        timespec t;
        clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
        return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
    }
};

void SetUpPictureScene() {
    if (FrameBuffer) {
        return;
    }
    InitDisplay();
    AllocFrameBuffer();
    Picture.pixels = static_cast<uint8_t*>(std::malloc(640 * 480 * 4));
    Picture.width = 640;
    Picture.height = 480;
    for (int i = 0; i < 640 * 480 * 4; i++) {
        Picture.pixels[i] = uint8_t(i * 13 + (i >> 11));
    }
    TextStrip.pixels = static_cast<uint8_t*>(std::malloc(380 * 288 * 4));
    TextStrip.width = 380;
    TextStrip.height = 288;
    for (int i = 0; i < 380 * 288 * 4; i++) {
        TextStrip.pixels[i] = uint8_t(i * 7);
    }
    SetTextRect(0, 72, 380, 144);
}

void PictureFrame() {
    ClearFrame();
    FadePicture(200);
    DrawTextStrip(130, 350, 200);
    PresentFrame(FrameBuffer);
}

void BM_PictureFrameAgainstCopy(benchmark::State& state) {
    SetUpPictureScene();
    std::vector<uint8_t> from(1228800, 1), to(1228800);
    double frameSeconds = 0, copySeconds = 0;
    for (auto _ : state) {
        auto t0 = ThreadClock::now();
        PictureFrame();
        auto t1 = ThreadClock::now();
        std::memcpy(to.data(), from.data(), from.size());
        benchmark::ClobberMemory();
        auto t2 = ThreadClock::now();
        frameSeconds += (t1 - t0);
        copySeconds += (t2 - t1);
        benchmark::DoNotOptimize(to.data());
    }
    state.counters["frame_us"] = frameSeconds / double(state.iterations()) * 1e6;
    state.counters["copy_us"] = copySeconds / double(state.iterations()) * 1e6;
    state.counters["ratio"] = frameSeconds / copySeconds;
    // Where a frame's time goes.
    double parts[4] = {0, 0, 0, 0};
    for (int n = 0; n < 200; n++) {
        double t[5];
        t[0] = ThreadClock::now();
        ClearFrame();
        t[1] = ThreadClock::now();
        FadePicture(200);
        t[2] = ThreadClock::now();
        DrawTextStrip(130, 350, 200);
        t[3] = ThreadClock::now();
        PresentFrame(FrameBuffer);
        t[4] = ThreadClock::now();
        for (int k = 0; k < 4; k++) {
            parts[k] += t[k + 1] - t[k];
        }
    }
    state.counters["clear_us"] = parts[0] / 200 * 1e6;
    state.counters["fade_us"] = parts[1] / 200 * 1e6;
    state.counters["text_us"] = parts[2] / 200 * 1e6;
    state.counters["present_us"] = parts[3] / 200 * 1e6;
}
BENCHMARK(BM_PictureFrameAgainstCopy)->Unit(benchmark::kMicrosecond);

// The first frame of the show's first movie when data/ is there; otherwise a 320 x 240 picture of smooth shapes
// and a little noise, compressed lossily to a few kilobytes like a movie frame.
std::vector<uint8_t> MovieForStretch(std::string* what) {
    const fs::path real = fs::path(QUIMBLES_SOURCE_DIR) / "data" / "tabi.movie";
    if (fs::exists(real)) {
        std::ifstream in(real, std::ios::binary);
        *what = "data/tabi.movie frame 0";
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    std::vector<uint8_t> samples(320 * 240 * 3);
    unsigned noise = 1;
    for (int y = 0; y < 240; y++) {
        for (int x = 0; x < 320; x++) {
            noise = noise * 1103515245 + 12345;
            const double d = std::hypot(x - 160.0, y - 120.0);
            uint8_t* p = &samples[(y * 320 + x) * 3];
            p[0] = uint8_t(128 + 100 * std::sin(d / 9) + (noise >> 28));
            p[1] = uint8_t(x * 255 / 319);
            p[2] = uint8_t(128 + 90 * std::cos((x + y) / 23.0));
        }
    }
    const auto code = EncodeJ2k(samples, 320, 240, 3, 1, 1, 70);
    *what = "made-up 320x240 frame of " + std::to_string(code.size()) + " bytes";
    return MakeMovie({code}, 1);
}

void BM_MovieStretchAgainstDecode(benchmark::State& state) {
    SetUpPictureScene();
    std::string what;
    const auto movie = MovieForStretch(&what);
    LoadMovieFromMemory(movie.data(), movie.size());
    double drawSeconds = 0, decodeSeconds = 0;
    for (auto _ : state) {
        auto t0 = ThreadClock::now();
        Image image;
        DecodeMovieFrame(MovieBuffer + 9, size_t(MovieSize - 9), &image);
        std::free(image.pixels);
        auto t1 = ThreadClock::now();
        DrawMovieFrame(0, FrameBuffer); // decode and stretch
        auto t2 = ThreadClock::now();
        decodeSeconds += (t1 - t0);
        drawSeconds += (t2 - t1);
    }
    const double stretch = (drawSeconds - decodeSeconds) / double(state.iterations());
    const double decode = decodeSeconds / double(state.iterations());
    state.counters["decode_us"] = decode * 1e6;
    state.counters["stretch_us"] = stretch * 1e6;
    state.counters["ratio"] = stretch / decode;
    state.SetLabel(what);
    FreeMovie();
}
BENCHMARK(BM_MovieStretchAgainstDecode)->Unit(benchmark::kMicrosecond);

// Runs quimbles-capture (frame log and WAV, no video encoder) once on data/ or, without it, on a made-up data
// set with the show's sizes and a corpus module; the show's real duration is the length of the WAV it heard.
void BM_CaptureAgainstRealTime(benchmark::State& state) {
    fs::path data = fs::path(QUIMBLES_SOURCE_DIR) / "data";
    const fs::path work = fs::temp_directory_path() / ("quimbles-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    std::string label = "data/";
    if (!fs::exists(data / "wide.xm")) {
        data = work / "data";
        MakeTestData(data, std::string(QUIMBLES_CORPUS_DIR) + "/xm/vodovod--walk.xm", 60);
        label = "made-up data, 60-frame movies";
    }
    const std::string program = std::string(QUIMBLES_BINARY_DIR) + "/bin/quimbles-capture";
    double wall = 0, cpu = 0, shown = 0, peakMb = 0;
    for (auto _ : state) {
        const auto t0 = Clock::now();
        const pid_t child = fork();
        if (child == 0) {
            const std::string log = (work / "frames.log").string(), wav = (work / "sound.wav").string();
            std::freopen("/dev/null", "w", stderr);
            execl(program.c_str(), program.c_str(), "--data", data.c_str(), "--frame-log", log.c_str(), "--wav",
                  wav.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        int status = 0;
        struct rusage usage {};
        wait4(child, &status, 0, &usage);
        wall += std::chrono::duration<double>(Clock::now() - t0).count();
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("quimbles-capture failed");
            break;
        }
        shown += double(fs::file_size(work / "sound.wav") - 44) / (44100 * 4);
        peakMb = std::max(peakMb, double(usage.ru_maxrss) / 1024);
        cpu += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    state.counters["show_s"] = shown / double(state.iterations());
    state.counters["capture_s"] = wall / double(state.iterations());
    state.counters["cpu_s"] = cpu / double(state.iterations());
    state.counters["speedup"] = shown / wall;
    state.counters["speedup_cpu"] = shown / cpu;
    state.counters["peak_MB"] = peakMb;
    state.SetLabel(label);
    fs::remove_all(work);
}
BENCHMARK(BM_CaptureAgainstRealTime)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
