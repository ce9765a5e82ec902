// quimbles-capture: the show on the virtual platform, written out frame for frame as a video with its sound,
// a WAV of what a listener hears, and a log of every frame's CRC-32.
#include <bit>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <sys/wait.h>

#include "app/virtual_platform.h"
#include "show/script.h"
#include "frame_crc.h"
#include "wav_writer.h"

namespace fs = std::filesystem;

namespace {

struct Options {
    std::string data = "data";
    int fps = 60;
    std::string video, wav, frameLog;
};

// A WAV file whose sizes are filled in when it is closed.
struct Capture {
    Options options;
    FILE* frameLog = nullptr;
    FILE* videoPipe = nullptr;
    WavWriter wav;      // --wav
    WavWriter videoWav; // the sound track for the video
    uint64_t shown = 0;
    uint64_t expectedFrames = 1;
    int lastPercent = -1;
    bool videoBroken = false;
};

Capture capture;

void OnRefresh(const uint32_t* pixels, uint64_t, void*) {
    if (!capture.videoPipe || capture.videoBroken) {
        return;
    }
    // Words 0x00RRGGBB in memory order are the bytes B, G, R, 0: ffmpeg's bgr0 on a little-endian machine.
    if (std::fwrite(pixels, 4, 640 * 480, capture.videoPipe) != 640 * 480) {
        capture.videoBroken = true;
    }
}

void OnAudio(const int16_t* samples, uint32_t frames, void*) {
    WriteWavFrames(&capture.wav, samples, frames);
    WriteWavFrames(&capture.videoWav, samples, frames);
}

void DrawProgress(bool done) {
    const uint64_t total = capture.expectedFrames > capture.shown ? capture.expectedFrames : capture.shown;
    const int percent = done ? 100 : int(capture.shown * 100 / total);
    if (percent == capture.lastPercent) {
        return;
    }
    capture.lastPercent = percent;
    char bar[41];
    for (int i = 0; i < 40; i++) {
        bar[i] = i < percent * 40 / 100 ? '#' : '.';
    }
    bar[40] = 0;
    std::fprintf(stderr, "\r[%s] %3d%%  frame %llu", bar, percent, (unsigned long long)capture.shown);
    if (done) {
        std::fputc('\n', stderr);
    }
}

void OnShowFrame(const uint32_t* frame) {
    if (capture.frameLog) {
        // The CRC covers the 1,228,800 bytes of the words in little-endian order, which is memory order here.
        static_assert(std::endian::native == std::endian::little, "the frame log needs little-endian words");
        const uint32_t crc = FrameCrc(0, frame, 640 * 480 * 4);
        std::fprintf(capture.frameLog, "%llu %08lx\n", (unsigned long long)capture.shown, (unsigned long)crc);
    }
    capture.shown++;
    DrawProgress(false);
}

void Usage(std::FILE* out) {
    std::fputs("usage: quimbles-capture [--data DIR] [--fps N] [--video OUT] [--wav OUT.wav] [--frame-log FILE]\n"
               "\n"
               "Runs the whole show on the virtual platform, as fast as the machine allows, and writes what it\n"
               "shows and plays. The show's timing is virtual, so every run gives the same frames and sound.\n"
               "\n"
               "  --data DIR        the folder with the ten data files (default: data)\n"
               "  --fps N           display refresh rate of the virtual screen, 1 to 1000 (default: 60); the video\n"
               "                    has one frame per refresh\n"
               "  --video OUT       write a video with its sound through ffmpeg: .mkv, .nut and .avi keep every\n"
               "                    pixel (FFV1 and FLAC); any other name gets visually lossless H.264 4:4:4 and AAC\n"
               "  --wav OUT.wav     write the sound as heard (PCM, 16-bit, stereo, 44100 Hz)\n"
               "  --frame-log FILE  write one line per shown frame: its number and the CRC-32 of its 640x480 words\n"
               "  --help            show this text\n",
               out);
}

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; i++) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        }
        if (i + 1 >= argc) {
            Usage(stderr);
            return false;
        }
        const std::string value = argv[++i];
        if (arg == "--data") {
            options->data = value;
        } else if (arg == "--fps") {
            char* end = nullptr;
            const long fps = std::strtol(value.c_str(), &end, 10);
            if (*end || fps < 1 || fps > 1000) {
                std::fprintf(stderr, "quimbles-capture: --fps needs a whole number from 1 to 1000\n");
                return false;
            }
            options->fps = int(fps);
        } else if (arg == "--video") {
            options->video = value;
        } else if (arg == "--wav") {
            options->wav = value;
        } else if (arg == "--frame-log") {
            options->frameLog = value;
        } else {
            Usage(stderr);
            return false;
        }
    }
    return true;
}

bool HaveFfmpeg() {
    return std::system("ffmpeg -version >/dev/null 2>&1") == 0;
}

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) {
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return q + "'";
}

bool IsLosslessContainer(const std::string& path) {
    const std::string ext = fs::path(path).extension().string();
    return ext == ".mkv" || ext == ".nut" || ext == ".avi";
}

// Makes every output path absolute, since the show runs in a working folder of its own, and checks that the data
// folder and, for a video, ffmpeg are there.
bool CheckOptions(Options* options) {
    for (std::string* path : {&options->video, &options->wav, &options->frameLog}) {
        if (!path->empty()) {
            *path = fs::absolute(*path).string();
        }
    }
    options->data = fs::absolute(options->data).string();
    if (!fs::is_directory(options->data)) {
        std::fprintf(stderr, "quimbles-capture: no data folder at %s\n", options->data.c_str());
        return false;
    }
    if (!options->video.empty() && !HaveFfmpeg()) {
        std::fprintf(stderr, "quimbles-capture: --video needs ffmpeg, which was not found (Debian: apt-get install "
                             "ffmpeg)\n");
        return false;
    }
    return true;
}

// The show reads "data/..." from its working folder: a temporary one whose data/ is the chosen folder, which also
// holds the video's picture and sound until they are put together. Empty when it cannot be made.
fs::path MakeWorkFolder(const Options& options) {
    char pattern[] = "/tmp/quimbles-capture-XXXXXX";
    const char* work = mkdtemp(pattern);
    if (!work) {
        std::fprintf(stderr, "quimbles-capture: cannot make a working folder: %s\n", std::strerror(errno));
        return {};
    }
    std::error_code error;
    fs::create_directory_symlink(options.data, fs::path(work) / "data", error);
    if (error) {
        std::fprintf(stderr, "quimbles-capture: cannot link the data folder: %s\n", error.message().c_str());
        fs::remove_all(work, error);
        return {};
    }
    return work;
}

// Opens the frame log, the WAV file and the video's encoder; false (with the reason said) when one cannot be.
bool OpenOutputs(const fs::path& workDir) {
    const Options& options = capture.options;
    if (!options.frameLog.empty() && !(capture.frameLog = std::fopen(options.frameLog.c_str(), "w"))) {
        std::fprintf(stderr, "quimbles-capture: cannot write %s: %s\n", options.frameLog.c_str(), std::strerror(errno));
        return false;
    }
    if (!options.wav.empty() && !OpenWav(&capture.wav, options.wav.c_str())) {
        std::fprintf(stderr, "quimbles-capture: cannot write %s: %s\n", options.wav.c_str(), std::strerror(errno));
        return false;
    }
    if (options.video.empty()) {
        return true;
    }
    // The picture is encoded while the show runs, into a temporary file; the sound is added when the show is over.
    // Lossless containers get FFV1; the others visually lossless H.264 4:4:4 that plays everywhere. x264's preset
    // was chosen by timing whole captures of the show (75 s) on a 2-core machine: superfast took 25 s, veryfast
    // 34 s, fast 55 s; at CRF 12 superfast also came closest to the lossless capture (45.3 dB PSNR against 44.6 dB
    // for fast), at 2.5 times fast's file size.
    const std::string codec = IsLosslessContainer(options.video)
                                  ? "-c:v ffv1 -pix_fmt bgr0"
                                  : "-c:v libx264 -preset superfast -crf 12 -pix_fmt yuv444p";
    const std::string command = "ffmpeg -v error -y -f rawvideo -pix_fmt bgr0 -s 640x480 -framerate " +
                                std::to_string(options.fps) + " -i - " + codec + " " +
                                Quote((workDir / "picture.mkv").string());
    capture.videoPipe = popen(command.c_str(), "w");
    if (!capture.videoPipe || !OpenWav(&capture.videoWav, (workDir / "sound.wav").string().c_str())) {
        std::fprintf(stderr, "quimbles-capture: cannot start ffmpeg\n");
        return false;
    }
    return true;
}

// Runs the show in the working folder with every refresh, sound and frame going to the outputs.
int RunCapturedShow(const fs::path& workDir) {
    const fs::path saved = fs::current_path();
    fs::current_path(workDir);
    capture.expectedFrames = CountShowFrames();
    SetVirtualRefreshRate(capture.options.fps);
    SetVirtualRefreshCallback(OnRefresh, nullptr);
    SetVirtualAudioCallback(OnAudio, nullptr);
    ShowFrameObserver = OnShowFrame;
    const int status = RunShow();
    DrawProgress(status == 0);
    fs::current_path(saved);
    ShowFrameObserver = nullptr;
    return status;
}

// Closes the outputs and puts the video's picture and sound together; false when any of it failed.
bool FinishOutputs(const fs::path& workDir) {
    const Options& options = capture.options;
    bool ok = true;
    if (capture.frameLog && std::fclose(capture.frameLog) != 0) {
        ok = false;
    }
    capture.frameLog = nullptr;
    if (!CloseWav(&capture.wav)) {
        std::fprintf(stderr, "quimbles-capture: cannot finish %s\n", options.wav.c_str());
        ok = false;
    }
    if (!capture.videoPipe) {
        return ok;
    }
    const int piped = pclose(capture.videoPipe);
    capture.videoPipe = nullptr;
    CloseWav(&capture.videoWav);
    if (capture.videoBroken || piped != 0) {
        std::fprintf(stderr, "quimbles-capture: ffmpeg could not encode the picture\n");
        return false;
    }
    const std::string codecs =
        IsLosslessContainer(options.video) ? "-c:v copy -c:a flac" : "-c:v copy -c:a aac -b:a 256k";
    const std::string command = "ffmpeg -v error -y -i " + Quote((workDir / "picture.mkv").string()) + " -i " +
                                Quote((workDir / "sound.wav").string()) + " -map 0:v -map 1:a " + codecs +
                                " -shortest " + Quote(options.video);
    std::fprintf(stderr, "quimbles-capture: encoding %s\n", options.video.c_str());
    if (std::system(command.c_str()) != 0) {
        std::fprintf(stderr, "quimbles-capture: ffmpeg could not write %s\n", options.video.c_str());
        return false;
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (!ParseOptions(argc, argv, &capture.options)) {
        return 2;
    }
    if (!CheckOptions(&capture.options)) {
        return 1;
    }
    const fs::path workDir = MakeWorkFolder(capture.options);
    if (workDir.empty()) {
        return 1;
    }
    int status = 1;
    if (OpenOutputs(workDir)) {
        status = RunCapturedShow(workDir);
        if (!FinishOutputs(workDir)) {
            status = 1;
        }
    } else if (capture.videoPipe) {
        pclose(capture.videoPipe);
    }
    std::error_code error;
    fs::remove_all(workDir, error);
    return status;
}
