// quimbles-play: a command-line module player built on the show's own music player.
#include "play.h"

#include "audio/mixer.h"
#include "music/music.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void PrintUsage(std::FILE* out) {
    std::fputs(
        "usage: quimbles-play [--seconds S] [--repeat R] MODULE [MODULE...]        play through the sound device\n"
        "       quimbles-play --wav OUT.wav [--seconds S] [--repeat R] MODULE...  render to a WAV file\n"
        "       quimbles-play --info MODULE...                                  describe the modules\n"
        "\n"
        "Plays XM and MOD modules with the show's player: through the sound device until the song (or the list)\n"
        "has played once, or into a WAV file (PCM, 16-bit, stereo, 44100 Hz).\n"
        "\n"
        "  --wav OUT.wav  write the rendered music to OUT.wav\n"
        "  --seconds S    play or render S seconds (a WAV in whole 80 ms chunks); without it, until the song\n"
        "                 (or the list of songs) has played once, a WAV at most 30 minutes\n"
        "  --repeat R     1: a song that ends starts again; 0: the next module follows, after the last\n"
        "                 the first (default: 1 for one module, 0 for several)\n"
        "  --info         print each module's format and tracker, title, channels, orders, patterns,\n"
        "                 instruments, samples, song length (m:ss.s, the song played once) and the\n"
        "                 instrument and sample names as stored (other bytes than printable ASCII as \\xNN)\n"
        "  --help         show this text\n"
        "\n"
        "Playing on a terminal shows the file, title, time and song length, order position, pattern, row,\n"
        "speed and tempo, and takes keys: space pause/resume, left/right previous/next order position,\n"
        "n/p next/previous module, q quit. Ctrl-C also stops.\n",
        out);
}

bool ParseNumber(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == 0;
}

} // namespace

bool LoadAndPrepare(const PlayOptions& options) {
    BuildPeriodTables();
    for (const std::string& path : options.modules) {
        if (LoadModule(path.c_str()) < 0) {
            std::fprintf(stderr, "quimbles-play: %s\n", ModuleError());
            return false;
        }
    }
    int repeat = options.repeat >= 0 ? options.repeat : options.modules.size() == 1 ? 1 : 0;
    SetRepeatMode(repeat);
    SetFadeMode(4);
    PrepareMusic();
    RequestModule(0);
    return true;
}

int main(int argc, char** argv) {
    PlayOptions options;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        auto value = [&](const char* name) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quimbles-play: %s needs a value\n", name);
                std::exit(2);
            }
            return argv[++i];
        };
        if (!std::strcmp(arg, "--help") || !std::strcmp(arg, "-h")) {
            PrintUsage(stdout);
            return 0;
        } else if (!std::strcmp(arg, "--info")) {
            options.info = true;
        } else if (!std::strcmp(arg, "--wav")) {
            options.wavPath = value("--wav");
        } else if (!std::strcmp(arg, "--seconds")) {
            double s;
            if (!ParseNumber(value("--seconds"), s) || !(s >= 0) || s > 21600) {
                std::fprintf(stderr, "quimbles-play: --seconds wants a number of seconds from 0 to 21600 (6 hours)\n");
                return 2;
            }
            options.seconds = s;
        } else if (!std::strcmp(arg, "--repeat")) {
            double r;
            if (!ParseNumber(value("--repeat"), r) || (r != 0 && r != 1)) {
                std::fprintf(stderr, "quimbles-play: --repeat wants 0 or 1\n");
                return 2;
            }
            options.repeat = static_cast<int>(r);
        } else if (arg[0] == '-' && arg[1] != 0) {
            std::fprintf(stderr, "quimbles-play: unknown option %s (see --help)\n", arg);
            return 2;
        } else {
            options.modules.push_back(arg);
        }
    }
    if (options.modules.empty()) {
        PrintUsage(stderr);
        return 2;
    }
    if (options.info)
        return PrintInfo(options);
    if (static_cast<int>(options.modules.size()) > MaxModules) {
        std::fprintf(stderr, "quimbles-play: at most %d modules at once\n", MaxModules);
        return 2;
    }
    if (options.wavPath.empty())
        return PlayLive(options); // live.cpp: through the sound device
    if (!LoadAndPrepare(options))
        return 1;
    int status = RenderToWav(options);
    ReleaseMusic();
    return status;
}
