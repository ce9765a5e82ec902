// quimbles-capture: the show on the virtual platform, written out frame for frame as a video with its sound,
// a WAV of what a listener hears, and a log of every frame's CRC-32.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#include <fcntl.h>
#include <unistd.h>
#include <sys/wait.h>

#include "app/virtual_platform.h"
#include "show/script.h"
#include "frame_crc.h"
#include "video_frame.h"
#include "wav_writer.h"

namespace fs = std::filesystem;

namespace {

struct Options {
    std::string data = "data";
    int fps = 60;
    int scale = 1;             // every pixel of the show becomes a scale x scale block of the video
    int width = 0, height = 0; // the video's frame; 0 until CheckOptions: the scaled picture's own size
    bool chroma444 = false;    // H.264 in 4:4:4 (High 4:4:4 Predictive) rather than 4:2:0 (High)
    int crf = 12;              // x264's constant quality: lower is better; 0 is lossless (4:4:4 only)
    double seconds = -1;       // the video stops after this much of the show; below 0: the whole show
    std::string video, wav, frameLog;
};

struct Capture {
    Options options;
    FILE* frameLog = nullptr;
    FILE* videoPipe = nullptr;
    WavWriter wav;      // --wav
    WavWriter videoWav; // the sound track for the video
    uint64_t shown = 0;
    uint64_t expectedFrames = 1;
    uint64_t videoFrames = 0;     // refreshes sent to the encoder
    uint64_t videoFrameLimit = 0; // from --seconds; UINT64_MAX without it
    uint64_t videoSoundLimit = 0; // frames of sound, the same way
    bool lossless = false;        // FFV1 in .mkv, .nut or .avi; otherwise H.264
    FrameLayout layout{};
    std::vector<uint32_t> words; // a lossless video frame, the borders black
    std::vector<uint8_t> planes; // an H.264 video frame, the same
    std::chrono::steady_clock::time_point start, lastDrawn;
    bool progress = false; // stderr is a terminal
    bool videoBroken = false;
};

Capture capture;

// The picture of every refresh goes to the encoder: bgr0 words for the lossless containers (words 0x00RRGGBB in
// memory order are the bytes B, G, R, 0 on a little-endian machine), Y'CbCr planes for H.264.
void OnRefresh(const uint32_t* pixels, uint64_t, void*) {
    if (!capture.videoPipe || capture.videoBroken || capture.videoFrames >= capture.videoFrameLimit) {
        return;
    }
    const Options& options = capture.options;
    const void* bytes = pixels;
    size_t size = size_t(options.width) * options.height * 4;
    if (!capture.lossless) {
        ScalePlanes(pixels, capture.layout, options.chroma444, capture.planes.data());
        bytes = capture.planes.data();
        size = capture.planes.size();
    } else if (options.scale != 1 || options.width != ShowWidth || options.height != ShowHeight) {
        ScaleWords(pixels, capture.layout, capture.words.data());
        bytes = capture.words.data();
    }
    if (std::fwrite(bytes, 1, size, capture.videoPipe) != size) {
        capture.videoBroken = true;
    }
    capture.videoFrames++;
}

void OnAudio(const int16_t* samples, uint32_t frames, void*) {
    WriteWavFrames(&capture.wav, samples, frames);
    if (capture.videoWav.frames < capture.videoSoundLimit) {
        const uint64_t room = capture.videoSoundLimit - capture.videoWav.frames;
        WriteWavFrames(&capture.videoWav, samples, frames < room ? frames : room);
    }
}

// Minutes and seconds, "1:05".
std::string Clock(double seconds) {
    const int s = int(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%d:%02d", s / 60, s % 60);
    return text;
}

// The progress line, on a terminal only and at most five times a second: frames shown of the show's, the time
// left at the pace so far and, with a video, how fast the encoder takes frames (the pipe to it holds less than a
// frame, so the capture goes at the encoder's pace).
void DrawProgress(bool done) {
    if (!capture.progress) {
        return;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!done && now - capture.lastDrawn < std::chrono::milliseconds(200)) {
        return;
    }
    capture.lastDrawn = now;
    const double elapsed = std::chrono::duration<double>(now - capture.start).count();
    const uint64_t total = capture.expectedFrames > capture.shown ? capture.expectedFrames : capture.shown;
    const int percent = done ? 100 : int(capture.shown * 100 / total);
    char bar[41];
    for (int i = 0; i < 40; i++) {
        bar[i] = i < percent * 40 / 100 ? '#' : '.';
    }
    bar[40] = 0;
    std::string line = "\r[" + std::string(bar) + "] " + std::to_string(percent) + "%  frame " +
                       std::to_string(capture.shown) + "/" + std::to_string(total);
    if (!done && capture.shown > 0) {
        line += "  " + Clock(elapsed * double(total - capture.shown) / double(capture.shown)) + " left";
    }
    if (capture.videoPipe && elapsed > 0) {
        const double fps = double(capture.videoFrames) / elapsed;
        char speed[64];
        std::snprintf(speed, sizeof speed, "  encoder %.0f fps (%.2fx)", fps, fps / capture.options.fps);
        line += speed;
    }
    std::fprintf(stderr, "%s\x1b[K%s", line.c_str(), done ? "\n" : "");
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
    std::fputs(
        "usage: quimbles-capture [--data DIR] [--fps N] [--video OUT] [--scale N] [--size WxH] [--chroma 420|444]\n"
        "                        [--crf N] [--seconds S] [--wav OUT.wav] [--frame-log FILE]\n"
        "\n"
        "Runs the whole show on the virtual platform, as fast as the machine allows, and writes what it\n"
        "shows and plays. The show's timing is virtual, so every run gives the same frames and sound.\n"
        "\n"
        "  --data DIR        the folder with the ten data files (default: data)\n"
        "  --fps N           display refresh rate of the virtual screen, 1 to 1000 (default: 60); the video\n"
        "                    has one frame per refresh\n"
        "  --video OUT       write a video with its sound through ffmpeg: .mkv, .nut and .avi keep every\n"
        "                    pixel (FFV1 and FLAC); any other name gets H.264 (High profile, 4:2:0, visually\n"
        "                    lossless) with AAC sound, in MP4 with the index at the front for .mp4\n"
        "  --scale N         the video shows every pixel as an N x N block, 1 to 8 (default: 1); no\n"
        "                    filtering, so the pixels stay sharp\n"
        "  --size WxH        the video's frame size, the scaled picture centred in black (default: the\n"
        "                    scaled picture's size); for 4K: --scale 4 --size 3840x2160\n"
        "  --chroma 420|444  H.264 colour resolution (default: 420, which every player decodes; 444 keeps\n"
        "                    full colour but needs the High 4:4:4 Predictive profile, which many do not)\n"
        "  --crf N           H.264 quality, 0 to 51, lower is better and larger (default: 12, chosen\n"
        "                    by measurement to stay visually lossless at every scale); 0 is lossless and\n"
        "                    needs --chroma 444\n"
        "  --seconds S       the video holds only the show's first S seconds (a quick look at the settings);\n"
        "                    the frame log and --wav still cover the whole show\n"
        "  --wav OUT.wav     write the sound as heard (PCM, 16-bit, stereo, 44100 Hz)\n"
        "  --frame-log FILE  write one line per shown frame: its number and the CRC-32 of its 640x480 words\n"
        "  --help            show this text\n"
        "\n"
        "On a terminal a progress line shows the frames done, the time left and the encoder's speed.\n",
        out);
}

// A whole number from `low` to `high`, or false.
bool ParseWhole(const std::string& text, long low, long high, int* value) {
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || number < low || number > high) {
        return false;
    }
    *value = int(number);
    return true;
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
        const char* wrong = nullptr;
        if (arg == "--data") {
            options->data = value;
        } else if (arg == "--fps") {
            wrong = ParseWhole(value, 1, 1000, &options->fps) ? nullptr : "--fps needs a whole number from 1 to 1000";
        } else if (arg == "--scale") {
            wrong = ParseWhole(value, 1, 8, &options->scale) ? nullptr : "--scale needs a whole number from 1 to 8";
        } else if (arg == "--size") {
            const size_t x = value.find('x');
            const bool ok = x != std::string::npos && ParseWhole(value.substr(0, x), 1, 8192, &options->width) &&
                            ParseWhole(value.substr(x + 1), 1, 8192, &options->height);
            wrong = ok ? nullptr : "--size needs WIDTHxHEIGHT, each from 1 to 8192";
        } else if (arg == "--chroma") {
            options->chroma444 = value == "444";
            wrong = value == "420" || value == "444" ? nullptr : "--chroma needs 420 or 444";
        } else if (arg == "--crf") {
            wrong = ParseWhole(value, 0, 51, &options->crf) ? nullptr : "--crf needs a whole number from 0 to 51";
        } else if (arg == "--seconds") {
            char* end = nullptr;
            options->seconds = std::strtod(value.c_str(), &end);
            wrong = !value.empty() && !*end && options->seconds > 0 && options->seconds <= 86400
                        ? nullptr
                        : "--seconds needs a number above 0, at most 86400";
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
        if (wrong) {
            std::fprintf(stderr, "quimbles-capture: %s\n", wrong);
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
    const int pictureWidth = ShowWidth * options->scale, pictureHeight = ShowHeight * options->scale;
    if (options->width == 0) {
        options->width = pictureWidth;
        options->height = pictureHeight;
    }
    if (options->width < pictureWidth || options->height < pictureHeight) {
        std::fprintf(stderr, "quimbles-capture: a %dx%d frame cannot hold the %dx%d picture of --scale %d\n",
                     options->width, options->height, pictureWidth, pictureHeight, options->scale);
        return false;
    }
    if (!options->video.empty() && !IsLosslessContainer(options->video) && !options->chroma444 &&
        (options->width % 2 || options->height % 2)) {
        std::fprintf(stderr, "quimbles-capture: H.264 in 4:2:0 needs an even width and height, not %dx%d\n",
                     options->width, options->height);
        return false;
    }
    if (options->crf == 0 && !options->chroma444) {
        std::fprintf(stderr, "quimbles-capture: --crf 0 (lossless) needs --chroma 444\n");
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

// The lowest H.264 level whose limits on frame size (macroblocks, and each side at most the square root of 8 times
// that) and on macroblocks per second hold the video, with its bit rate limit for the High profile (kbit/s), which
// also serves as the size of the decoder's buffer: a decoder built for that level then takes the stream. Empty
// when even level 6.2 cannot hold it.
std::string H264Level(int width, int height, int fps) {
    struct Level {
        const char* name;
        long maxFrame, maxRate, maxBitRate;
    };
    static const Level levels[] = {
        {"3", 1620, 40500, 12500},        {"3.1", 3600, 108000, 17500},       {"3.2", 5120, 216000, 25000},
        {"4", 8192, 245760, 25000},       {"4.2", 8704, 522240, 62500},       {"5", 22080, 589824, 168750},
        {"5.1", 36864, 983040, 300000},   {"5.2", 36864, 2073600, 300000},    {"6", 139264, 4177920, 300000},
        {"6.1", 139264, 8355840, 600000}, {"6.2", 139264, 16711680, 1000000},
    };
    const long across = (width + 15) / 16, down = (height + 15) / 16;
    for (const Level& level : levels) {
        const long side = long(std::sqrt(8.0 * double(level.maxFrame)));
        if (across * down <= level.maxFrame && across <= side && down <= side && across * down * fps <= level.maxRate) {
            const std::string rate = std::to_string(level.maxBitRate) + "k";
            return std::string(" -level ") + level.name + " -maxrate " + rate + " -bufsize " + rate;
        }
    }
    return "";
}

// ffmpeg's options for the video stream. Lossless containers get FFV1. Everything else gets H.264 for players:
// 4:2:0 in the High profile within the level the frame needs (or 4:4:4 when asked), the colours tagged as the
// BT.709 they were converted with, which is also what players assume for HD sizes when a video does not say.
// superfast is the fastest preset that still writes the High profile (ultrafast leaves out CABAC and the 8x8
// transform, which makes it Baseline). Lossless H.264 (--crf 0) cannot keep to any level's bit rate, so it
// claims none.
std::string VideoCodec(const Options& options) {
    if (IsLosslessContainer(options.video)) {
        return "-c:v ffv1 -pix_fmt bgr0";
    }
    return "-c:v libx264 -preset superfast -crf " + std::to_string(options.crf) + " " +
           (options.chroma444 ? "-pix_fmt yuv444p -profile:v high444" : "-pix_fmt yuv420p -profile:v high") +
           (options.crf > 0 ? H264Level(options.width, options.height, options.fps) : "") +
           " -colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range tv";
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
    const std::string input = IsLosslessContainer(options.video) ? "bgr0" : options.chroma444 ? "yuv444p" : "yuv420p";
    const std::string command = "ffmpeg -v error -y -f rawvideo -pix_fmt " + input + " -s " +
                                std::to_string(options.width) + "x" + std::to_string(options.height) + " -framerate " +
                                std::to_string(options.fps) + " -i - " + VideoCodec(options) + " " +
                                Quote((workDir / "picture.mkv").string());
    capture.videoPipe = popen(command.c_str(), "w");
    if (!capture.videoPipe || !OpenWav(&capture.videoWav, (workDir / "sound.wav").string().c_str())) {
        std::fprintf(stderr, "quimbles-capture: cannot start ffmpeg\n");
        return false;
    }
#ifdef F_SETPIPE_SZ
    // A frame in a few large writes rather than many 64 KiB ones; the kernel may refuse, which costs only speed.
    fcntl(fileno(capture.videoPipe), F_SETPIPE_SZ, 1 << 20);
#endif
    capture.lossless = IsLosslessContainer(options.video);
    capture.layout = MakeFrameLayout(options.scale, options.width, options.height);
    if (capture.lossless) {
        capture.words.assign(size_t(options.width) * options.height, 0);
    } else {
        capture.planes.resize(PlaneBytes(capture.layout, options.chroma444));
        BlackPlanes(capture.layout, options.chroma444, capture.planes.data());
    }
    const bool whole = options.seconds < 0;
    capture.videoFrameLimit = whole ? UINT64_MAX : uint64_t(std::ceil(options.seconds * options.fps));
    capture.videoSoundLimit = whole ? UINT64_MAX : uint64_t(std::ceil(options.seconds * 44100));
    return true;
}

// Runs the show in the working folder with every refresh, sound and frame going to the outputs.
int RunCapturedShow(const fs::path& workDir) {
    const fs::path saved = fs::current_path();
    fs::current_path(workDir);
    capture.expectedFrames = CountShowFrames();
    capture.progress = isatty(fileno(stderr));
    capture.start = capture.lastDrawn = std::chrono::steady_clock::now();
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
    // MP4's index goes to the front, so that a player can start before the whole file has arrived.
    const std::string ext = fs::path(options.video).extension().string();
    const std::string codecs = IsLosslessContainer(options.video) ? "-c:v copy -c:a flac"
                               : ext == ".mp4" || ext == ".mov" || ext == ".m4v"
                                   ? "-c:v copy -c:a aac -b:a 256k -movflags +faststart"
                                   : "-c:v copy -c:a aac -b:a 256k";
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
#ifdef SIGPIPE
    // An encoder that stops early (refusing its options, say) breaks the pipe: the write then fails and says so,
    // rather than the signal ending the capture without a word.
    std::signal(SIGPIPE, SIG_IGN);
#endif
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
