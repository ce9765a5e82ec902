// quimbles-play --info: what a module holds, as a musician checks it: format and tracker, title, channels, orders,
// patterns, instruments and samples with their names, and how long the song lasts when played once.
#include "play.h"

#include "audio/mixer.h"
#include "music/music.h"

#include <cstdio>
#include <cstring>
#include <string>

std::string ShownName(const char* field, size_t size) {
    while (size > 0 && field[size - 1] == 0)
        --size;
    std::string text;
    for (size_t i = 0; i < size; ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
        text += c == '\\' ? "\\\\" : c >= 0x20 && c < 0x7f ? std::string(1, char(c)) : escaped;
    }
    return text;
}

std::string TenthsText(long tenths) {
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
    return text;
}

namespace {

// The tracker a MOD's tag names.
const char* ModTracker(const char* tag) {
    static const struct {
        const char* tag;
        const char* tracker;
    } known[] = {{"M.K.", "ProTracker or compatible"},
                 {"M!K!", "ProTracker, more than 64 patterns"},
                 {"FLT4", "StarTrekker"},
                 {"6CHN", "FastTracker"},
                 {"8CHN", "FastTracker"},
                 {"CD81", "Oktalyzer"}};
    for (const auto& k : known) {
        if (std::memcmp(tag, k.tag, 4) == 0)
            return k.tracker;
    }
    return "unknown tracker";
}

void PrintModule(const char* path, const Module& module, int64_t frames) {
    std::printf("%s\n", path);
    if (module.isXm) {
        std::printf("  format       XM %d.%02x, %s\n", module.formatVersion >> 8, module.formatVersion & 0xff,
                    ShownName(module.tracker, sizeof module.tracker).c_str());
    } else {
        std::printf("  format       MOD %s, %s\n", ShownName(module.tracker, 4).c_str(), ModTracker(module.tracker));
    }
    int samples = 0;
    for (int32_t i = 1; i <= module.instrumentCount; ++i)
        samples += module.instruments[i].sampleCount;
    std::printf("  title        %s\n  channels     %d\n  orders       %d\n  patterns     %d\n  instruments  %d\n"
                "  samples      %d\n  length       %s\n",
                ShownName(module.name, sizeof module.name).c_str(), module.channelCount, module.songLength,
                module.patternCount, module.isXm ? module.instrumentCount : 0, module.isXm ? samples : 31,
                TenthsText(long((frames * 10 + 22050) / 44100)).c_str());
    if (!module.isXm) {
        for (int s = 1; s <= 31; ++s)
            std::printf("  sample %-6d%s\n", s, ShownName(module.modSamples[s].name, 22).c_str());
        return;
    }
    for (int32_t i = 1; i <= module.instrumentCount; ++i) {
        const Instrument& instrument = module.instruments[i];
        std::printf("  instrument %-3d%s\n", i, ShownName(instrument.name, 22).c_str());
        for (int32_t s = 0; s < instrument.sampleCount; ++s) {
            const std::string number = std::to_string(i) + "." + std::to_string(s + 1);
            std::printf("  sample %-6s%s\n", number.c_str(), ShownName(instrument.samples[s].name, 22).c_str());
        }
    }
}

} // namespace

int PrintInfo(const PlayOptions& options) {
    int status = 0;
    BuildPeriodTables();
    // One module at a time, so that any number of them can be listed.
    for (const std::string& path : options.modules) {
        ResetPlayer();
        const int index = LoadModule(path.c_str());
        if (index < 0) {
            std::fprintf(stderr, "quimbles-play: %s\n", ModuleError());
            status = 1;
            continue;
        }
        PrintModule(path.c_str(), *player.moduleTable[index], SongLengthFrames(index));
        ReleaseMusic();
    }
    return status;
}
