#pragma once
#include <cstddef>
#include <cstdint>

// The tracker player: module records shared by the XM and MOD loaders and engines, the per-channel state, the
// player state, the period model and the voice renderer. Plain records; the player state lives in two globals:
//   Channel channels[MaxChannels];   the per-channel playback state of both engines
//   PlayerState player;              timing, song position, mix buffers and the module table
//
// Who owns them: the thread that loads the modules (the program's main thread) until the mix-down takes the player
// (PrepareMusic, audio/mixer.h; the stream calls it in StartMusic, before its threads start). From then on only the
// thread that renders touches them (the stream's feeder for the first chunk, its mixer thread for every later one)
// until the mix-down gives the player back (ReleaseMusic, called by StopMusic once both threads have ended).
// Meanwhile the main thread only gives the mix-down's commands (SetFadeMode, RequestModule, SetRepeatMode,
// RequestPosition, SetPauseMode), and LoadModule refuses to load.

constexpr int MaxChannels = 32;        // pattern channels per module, and Channels in the player
constexpr int MaxInstruments = 128;    // XM instruments 1..128 (slot 0 unused)
constexpr int MaxModules = 32;         // entries of the module table
constexpr int MaxOrders = 256;         // entries of the order table
constexpr int MixBufferFrames = 15947; // frames of one MixBuffer (2 x 30870 + 2048 bytes)
constexpr int32_t BlockFrames = 30870;
constexpr int32_t MaxTickFrames = 12420; // the longest tick a MixBuffer can take after a 3527-frame surplus

struct NoteCell {
    int16_t note;         // -1 none; XM 1..96, 97 key-off (0 is kept and played); MOD: note index
    int8_t extra;         // MOD loader only
    uint8_t instrument;   // 0 none
    int16_t period;       // MOD only: raw period of the cell
    uint8_t volumeColumn; // XM volume column, 0 when absent
    uint8_t effect;       // 0..35 (A = 10 ... Z = 35)
    uint8_t param;
};

struct Pattern {
    NoteCell* channelRows[MaxChannels]; // per channel, storedRows cells; null at and above channelCount
    int32_t rowCount;
    int32_t storedRows; // rows held in channelRows, at most rowCount; the rows after them are empty
};

struct EnvelopePoint {
    uint16_t x; // ticks since note start
    int16_t y;  // 0..64, 64 is 1.0
};

struct Sample {
    char name[22];
    int32_t length; // frames
    int32_t finetune;
    int32_t volume;
    int32_t loopStart;  // frames
    int32_t loopLength; // frames
    int32_t relativeNote;
    int32_t loopType; // 0 none, 1 forward, 2 ping-pong
    int32_t panning;  // XM 0..255
    int16_t* data;    // length frames of mono PCM, null when length is 0
    int32_t is16Bit;
};

struct Instrument {
    char name[22];
    int32_t sampleCount;
    int32_t sampleMap[120];
    EnvelopePoint volumePoints[12];
    EnvelopePoint panningPoints[12];
    int32_t panningPointCount;
    int32_t volumePointCount;
    int32_t volumeSustain;
    int32_t volumeLoopStart;
    int32_t volumeLoopEnd;
    int32_t panningSustain;
    int32_t panningLoopStart;
    int32_t panningLoopEnd;
    int32_t volumeType;  // 1 on, 2 sustain, 4 loop
    int32_t panningType; // same bits
    int32_t vibratoType;
    int32_t vibratoDepth;
    int32_t vibratoSweep;
    int32_t vibratoRate;
    int32_t fadeout;
    Sample* samples; // sampleCount records, null when sampleCount is 0
};

struct Module {
    int32_t isXm;
    int32_t channelCount;
    int32_t orders[MaxOrders];
    int32_t patternCount;
    Pattern* patterns;
    int32_t songLength;
    char name[20];
    Instrument instruments[MaxInstruments + 1];
    int32_t instrumentCount;
    int32_t linearFrequencies;
    Sample modSamples[32];
    int32_t restartPosition;
    int32_t defaultBpm;
    int32_t defaultSpeed;
    char tracker[20];      // XM: the name of the tracker that saved it, as stored; MOD: the 4-byte tag at 1080
    int32_t formatVersion; // XM: the header's version word (0x0104 for 1.04); MOD: 0
};

// Per-channel playback state; every field is int32 except position.
struct Channel {
    int32_t period;
    int32_t tremoloDepth;
    int32_t tremoloSpeed;
    int32_t instrument;
    float position; // sample frames, fraction included
    int32_t cellPeriod;
    int32_t volume;
    int32_t volumeSlide;
    int32_t noteCutTick;
    int32_t pitchNote;
    int32_t finetune;
    int32_t fineVolumeSlide;
    int32_t vibratoDepth;
    int32_t vibratoSpeed;
    int32_t noteDelayTick;
    int32_t arpeggioStep;
    int32_t arpeggioX;
    int32_t arpeggioY;
    int32_t portaUpSpeed;
    int32_t portaDownSpeed;
    int32_t vibratoPosition;
    int32_t tremoloPosition;
    int32_t delayedVolume;
    int32_t delayedPosition;
    int32_t delayedPeriod;
    int32_t tonePortaSpeed;
    int32_t tonePortaTarget;
    int32_t fadeVolume;
    int32_t fadeoutStep;
    int32_t sampleIndex;
    int32_t volumeEnvelopePosition;
    int32_t panningEnvelopePosition;
};

// A MixBuffer is MixBufferFrames frames of two int16 values each (first value: left share, second: right).
using MixBuffer = int16_t*;

struct PlayerState {
    Module* module;
    int32_t channelCount;
    float ticksPerSecond;
    int32_t samplesPerTick;
    float channelPan[MaxChannels];
    float masterVolume;
    int32_t speed;
    int32_t tick;
    int32_t row;
    int32_t orderPosition;
    int32_t patternLoopCount;
    int32_t patternLoopRow;
    int32_t patternDelay;
    int32_t songEnded;
    int32_t moduleLoaded;
    int32_t mixBank;
    int32_t writePosition;
    int32_t tickBudget;
    int32_t blockFrames;
    MixBuffer mixBuffers[2][MaxChannels];
    // Channel c's MixBuffer (bank 0) holds only 0 from frame quietFrom[c] to its end: silent ticks there need no
    // writing and the mix-down neither reads nor moves those frames. MixBufferFrames when nothing is known; whoever
    // writes into a MixBuffer other than through the renderers below must set it so.
    int32_t quietFrom[MaxChannels];
    Module* moduleTable[MaxModules];
    int32_t moduleCount;
    int32_t currentModule;
};

extern Channel channels[MaxChannels];
extern PlayerState player;

// --- The player's start-up state (player.cpp) ---

// Brings `player` and `channels` back to their values at program start: no module, 125 BPM at speed 6, full
// volume, centred pans, every channel silent and every effect memory cleared. Whatever the table held must have
// been freed first (ReleaseMusic, or nothing loaded yet). Every user that plays more than one song in a process
// calls it before loading the next (then BuildPeriodTables).
void ResetPlayer();
// True from PrepareMusic to ReleaseMusic: the audio threads may own the player, and nothing may be loaded.
extern bool playerTaken;

// --- Loading (module.cpp, xm_load.cpp, mod_load.cpp) ---

// Loads an XM or MOD module from `size` bytes in memory, appends it to the module table and returns its index; -1
// when it is refused (ModuleError() then says why, naming `name`). A refused module leaves nothing behind in the
// table. The bytes are only read; the caller keeps them.
int LoadModuleFromMemory(const uint8_t* bytes, size_t size, const char* name);
// Reads the file once and loads it as LoadModuleFromMemory does, named by its path.
int LoadModule(const char* path);
// Whether the bytes begin as an XM file does; every other module is taken for a MOD.
bool IsXmModule(const uint8_t* bytes, size_t size);
// Both loaders read a module held in memory into a zero-filled Module. On refusal they return false after
// SetModuleError; LoadModuleFromMemory then calls FreeModule, which frees every non-null pointer it finds (patterns
// may be null while patternCount > 0, channelRows and sample data may be null), so a loader need not undo its own
// allocations.
bool LoadXmFile(const uint8_t* bytes, size_t size, const char* name, Module* module);
bool LoadModFile(const uint8_t* bytes, size_t size, const char* name, Module* module);
void FreeModule(Module* module);
// Empties the module table and fills the period table; once at start-up.
void BuildPeriodTables();

// One-line reason of the last refusal, e.g. "song.xm: truncated inside pattern 3".
const char* ModuleError();
void SetModuleError(const char* format, ...) __attribute__((format(printf, 1, 2)));

// --- Periods (periods.cpp) ---

// Period of a note (0 and up) at finetune -128..127 in the Amiga model; 0 when the note lies outside the table.
int32_t AmigaPeriod(int32_t note, int32_t finetune);
void FillPeriodTable();
extern int32_t periodTable[16][120]; // row r: finetune 8r - 64, AmigaPeriod / 4; read by the MOD engine
extern const int32_t sineTable[32];  // positive half of the vibrato and tremolo waveform

// --- Tempo rule (tempo.cpp) ---

// Tempo of a module start or switch: ticksPerSecond = (2 x bpm) x 0.2f rounded to float, samplesPerTick =
// 44100 / ticksPerSecond.
void SetStartTempo(int32_t bpm);
// Tempo of a tempo effect during the song: samplesPerTick = 44100 / the exact product; also sets tickBudget =
// (blockFrames - writePosition) / samplesPerTick. For both engines.
void SetEffectTempo(int32_t bpm);

// --- The song's course without its sound (song_scan.cpp) ---

// Sets the player at the start of `module`'s song, as a module start does: order position 0, row 0, tick 0, not
// ended; speed 6 at 125 BPM, or an XM's own speed and BPM. The channels and the loop and delay counts are the
// caller's.
void StartSong(Module* module);
// Plays player.module's song on from where the player is, tick by tick with nothing rendered, until order position
// `stopAt` begins (-1: never), the song ends, or it comes back to a row it has played other than by a pattern loop
// (or after two hours of song). Returns how many frames those ticks last; *reached says whether `stopAt` stopped
// it. For the thread that owns the player; writePosition and blockFrames are left as they were.
int64_t ScanSong(int32_t stopAt, bool* reached);
// Frames module `index` lasts when played once from its start (ScanSong from a fresh start); the player and the
// channels are left as they were. Only while the main thread owns the player; -1 otherwise or for a bad index.
int64_t SongLengthFrames(int32_t index);

// --- Engines ---

void XmTick(Module* module);  // xm_engine.cpp
void ModTick(Module* module); // mod_engine.cpp

// --- Voice rendering (voice.cpp, envelope.cpp) ---

void RenderVoice(int32_t c, int32_t pitch, int32_t tremoloDelta);
void RenderSilence(int32_t c);
// Channel c's frames of this tick, about to be written with sound: the frames from there stop counting as quiet.
int16_t* SoundingTickFrames(int32_t c);

double VolumeEnvelopePlain(int32_t instrument, int32_t position);
double VolumeEnvelopeLoop(int32_t instrument, int32_t position);
double VolumeEnvelopeSustain(int32_t instrument, int32_t position);
double PanningEnvelopePlain(int32_t instrument, int32_t position);
double PanningEnvelopeLoop(int32_t instrument, int32_t position);
double PanningEnvelopeSustain(int32_t instrument, int32_t position);
