// The module table: loading a file of either format into it, freeing modules, and the refusal reason.
#include "music/music.h"

#include "app/files.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
char errorText[512];
} // namespace

const char* ModuleError() {
    return errorText;
}

void SetModuleError(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vsnprintf(errorText, sizeof errorText, format, args);
    va_end(args);
}

bool IsXmModule(const uint8_t* bytes, size_t size) {
    return size >= 10 && std::memcmp(bytes, "Extended M", 10) == 0;
}

int LoadModuleFromMemory(const uint8_t* bytes, size_t size, const char* name) {
    if (playerTaken) {
        SetModuleError("%s: cannot load while the music plays", name);
        return -1;
    }
    if (player.moduleCount >= MaxModules) {
        SetModuleError("%s: the player already holds %d modules", name, MaxModules);
        return -1;
    }
    // Zero-filled, so that FreeModule can take back whatever a refused load left behind.
    Module* module = static_cast<Module*>(std::calloc(1, sizeof(Module)));
    if (!module) {
        SetModuleError("%s: out of memory", name);
        return -1;
    }
    errorText[0] = 0;
    const bool loaded =
        IsXmModule(bytes, size) ? LoadXmFile(bytes, size, name, module) : LoadModFile(bytes, size, name, module);
    if (!loaded) {
        if (!errorText[0])
            SetModuleError("%s: not a module this player can load", name);
        FreeModule(module);
        return -1;
    }
    int index = player.moduleCount;
    player.moduleTable[index] = module;
    player.moduleCount = index + 1;
    player.module = player.moduleTable[0];
    player.moduleLoaded = 1;
    player.songEnded = 0;
    return index;
}

int LoadModule(const char* path) {
    uint8_t* bytes = nullptr;
    size_t size = 0;
    const ReadFileResult read = ReadWholeFile(path, SIZE_MAX, &bytes, &size);
    if (read != ReadFileOk) {
        SetModuleError("%s: %s", path, ReadFileReason(read));
        return -1;
    }
    const int index = LoadModuleFromMemory(bytes, size, path);
    std::free(bytes);
    return index;
}

void FreeModule(Module* module) {
    if (!module)
        return;
    if (module->patterns) {
        for (int32_t p = 0; p < module->patternCount; ++p) {
            for (NoteCell* cells : module->patterns[p].channelRows)
                std::free(cells);
        }
        std::free(module->patterns);
    }
    if (!module->isXm) {
        for (int s = 1; s < 32; ++s)
            std::free(module->modSamples[s].data);
    } else {
        int32_t count = module->instrumentCount;
        if (count > MaxInstruments)
            count = MaxInstruments;
        for (int32_t i = 1; i <= count; ++i) {
            Instrument& instrument = module->instruments[i];
            if (!instrument.samples)
                continue;
            for (int32_t s = 0; s < instrument.sampleCount; ++s)
                std::free(instrument.samples[s].data);
            std::free(instrument.samples);
        }
    }
    std::free(module);
}

void BuildPeriodTables() {
    player.moduleCount = 0;
    player.currentModule = 0;
    FillPeriodTable();
}
