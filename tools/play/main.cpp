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
    std::fputs("usage: quimbles-play [--wav OUT.wav] [--seconds S] [--repeat R] MODULE [MODULE...]\n"
               "\n"
               "Plays XM and MOD modules with the show's player and writes the result as a WAV file\n"
               "(PCM, 16-bit, stereo, 44100 Hz); without --wav, plays them through the sound device with a\n"
               "status line until the end or Ctrl-C.\n"
               "\n"
               "  --wav OUT.wav  write the rendered music to OUT.wav\n"
               "  --seconds S    render S seconds (rounded up to whole 80 ms chunks); without it, render until\n"
               "                 the song (or the list of songs) has played once, at most 30 minutes\n"
               "  --repeat R     1: a song that ends starts again; 0: the next module follows, after the last\n"
               "                 the first (default: 1 for one module, 0 for several)\n"
               "  --help         show this text\n",
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
