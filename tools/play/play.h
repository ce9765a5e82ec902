#pragma once
#include <cstddef>
#include <string>
#include <vector>

// What the command line asked for; main.cpp parses it, one file per way of playing renders it.
struct PlayOptions {
    std::string wavPath; // render to this WAV file; empty: play live
    double seconds = -1; // below 0: until the song (or the list) has played once
    int repeat = -1;     // below 0: 1 for one module, 0 for several
    bool info = false;   // print what each module holds instead of playing
    std::vector<std::string> modules;
};

// Loads every module (reasons for refusal on stderr) and sets the player up as the show does.
// Returns false when a module was refused.
bool LoadAndPrepare(const PlayOptions& options);

// Renders the prepared player into options.wavPath. Returns the process exit status.
int RenderToWav(const PlayOptions& options);

// Plays the modules live through the sound device with the show's audio threads (live.cpp). Returns the process
// exit status.
int PlayLive(const PlayOptions& options);

// Prints each module's format, tracker, title, counts, song length and instrument and sample names (info.cpp).
// Returns the process exit status: 1 when a module was refused.
int PrintInfo(const PlayOptions& options);

// A name field of a module as stored, less the zero bytes that pad it: printable ASCII as it is, every other byte
// (control bytes, DOS code page characters) as \xNN and the backslash doubled, so that it shows exactly what is
// there and sends no control codes to a terminal.
std::string ShownName(const char* field, size_t size);

// A time in tenths of a second as minutes, seconds and tenths: "3:06.6".
std::string TenthsText(long tenths);
