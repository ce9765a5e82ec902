// The demo script: every scene, count, step and position of the show, and the pacing of the movies.
#include "show/script.h"

#include <cstdio>
#include <initializer_list>

#include "app/display.h"
#include "app/exit_signals.h"
#include "app/files.h"
#include "app/system.h"
#include "audio/mixer.h"
#include "audio/stream.h"
#include "movie/movie.h"
#include "show/assets.h"
#include "show/effects.h"

#include "music/music.h"

void (*ShowFrameObserver)(const uint32_t* frame) = nullptr;

static uint64_t clockFrequency = 1;
static uint64_t clockMark = 0;

// PresentFrame of the frame buffer, then FlipFrame.
static void ShowFrame() {
    if (ShowFrameObserver) {
        ShowFrameObserver(FrameBuffer);
    }
    PresentFrame(FrameBuffer);
    FlipFrame();
}

void StartFrameClock() {
    clockFrequency = ReadPerformanceFrequency();
    if (clockFrequency == 0) {
        clockFrequency = 1; // a counter that does not tick must not divide by zero
    }
    clockMark = ReadPerformanceCounter();
}

double ReadFrameClock() {
    const uint64_t now = ReadPerformanceCounter();
    const int64_t elapsed = int64_t(now - clockMark);
    const int64_t ms = elapsed * 1000;
    // The single-precision value nearest 1/17, applied in double precision: the result is a hair above
    // the true count of 17 ms units, which the pauses below inherit.
    const double result = double(ms) / double(clockFrequency) * double(0.05882353f);
    clockMark = now;
    return result;
}

// A request to end the program (a signal) ends the show at the next frame: the remaining frames are skipped
// and the script leaves at the next scene, through the same tear-down as a show that ran to its end.
static bool Ending() {
    return ExitSignal() != 0;
}

static void TextFrame(int32_t level, int32_t x, int32_t y, int32_t intensity) {
    if (Ending()) {
        return;
    }
    ClearFrame();
    FadePicture(level);
    DrawTextStrip(x, y, intensity);
    ShowFrame();
}

static void LogoFrame(int32_t level) {
    if (Ending()) {
        return;
    }
    ClearFrame();
    FadePicture(level);
    ShowFrame();
}

static void SlideInText() {
    const int32_t w = ScreenWidth;
    // Enters from the right edge while the picture fades in; >> rounds towards minus infinity.
    for (int32_t k = 0; k <= 252; k += 4) {
        TextFrame(k, w + (((30 - w) * k) >> 8), 350, 256);
    }
}

void PlayMovie() {
    StartFrameClock();
    // A frame count beyond the records in the file stops at the last record rather than showing it again and
    // again for as long as the count says.
    const int32_t frames = MovieRecordCount < MovieFrameCount ? MovieRecordCount : MovieFrameCount;
    for (int pass = 0; pass < 2; pass++) {
        for (int32_t i = 0; i < frames && !Ending(); i++) {
            ClearFrame();
            DrawMovieFrame(i, FrameBuffer);
            // The frame clock paces the movie: each frame is shown as soon as it is drawn.
            StartFlipTimeline();
            ShowFrame();
            // The mark moves before the pause, so each pause is counted in the next frame's reading and the
            // frames that pause alternate with frames that do not.
            const double t = ReadFrameClock() * 17;
            if (t < 130) {
                // Only a counter that ran backwards makes t negative; the pause is never longer than 130 ms.
                SleepMs(uint32_t(t > 0 ? 130 - t : 130));
            }
        }
    }
    FreeMovie();
}

static bool musicStarted = false;

// Ends the show early: releases what is held, stops the music, says why.
static bool Abandon() {
    if (Ending()) {
        std::fprintf(stderr, "quimbles: ending on signal %d\n", ExitSignal());
    } else {
        std::fprintf(stderr, "quimbles: the show ends early: %s\n", ShowError());
    }
    FreeMovie();
    FreePicture();
    FreeTextStrip();
    if (musicStarted) {
        StopMusic();
        musicStarted = false;
    }
    FreeFrameBuffer();
    return false;
}

// Loads a picture scene's picture; its frames then keep 60 a second from the first one on, whatever the loading
// took.
static bool Load(AssetIndex asset) {
    if (Ending() || !LoadPicture(AssetTable[asset].path, AssetTable[asset].size)) {
        return false;
    }
    StartFlipTimeline();
    return true;
}

bool RunDemoScript() {
    const int32_t w = ScreenWidth;
    musicStarted = false;
    if (!AllocFrameBuffer()) {
        SetShowError("out of memory for the frame buffer");
        return Abandon();
    }
    ClearFrame();
    ShowFrame();

    // The module is read only once it has its full size, so the wait comes before the load.
    if (Ending()) {
        return Abandon();
    }
    if (!WaitForFileSize(AssetTable[AssetMusic].path, AssetTable[AssetMusic].size)) {
        SetShowError("%s", FileWaitError());
        return Abandon();
    }
    const int index = LoadModule(AssetTable[AssetMusic].path);
    if (index < 0) {
        SetShowError("%s", ModuleError());
        return Abandon();
    }
    SetRepeatMode(1);
    SetFadeMode(4);
    StartMusic();
    musicStarted = true;
    RequestModule(index);

    if (!LoadTextStrip(AssetTable[AssetTexts].path, AssetTable[AssetTexts].size)) {
        return Abandon();
    }

    // Scene 1: slide in from the right, then fade out one level per frame.
    SetTextRect(0, 0, 380, 72);
    if (!Load(AssetScene1)) {
        return Abandon();
    }
    SlideInText();
    for (int32_t n = 256; n >= 0; n--) {
        TextFrame(n, 30, 350, n);
    }
    FreePicture();

    // Scene 2: the same slide, a fade twice as fast.
    SetTextRect(0, 72, 380, 144);
    if (!Load(AssetScene2)) {
        return Abandon();
    }
    SlideInText();
    for (int32_t n = 256; n >= 0; n -= 2) {
        TextFrame(n, 30, 350, n);
    }
    FreePicture();

    // Scene 3: the text enters from the left.
    SetTextRect(0, 144, 380, 216);
    if (!Load(AssetScene3)) {
        return Abandon();
    }
    for (int32_t k = 0; k <= 252; k += 4) {
        TextFrame(k, ((k * w) >> 8) - 380, 350, 256);
    }
    for (int32_t n = 256; n >= 0; n -= 2) {
        TextFrame(n, w - 380, 350, n);
    }
    FreePicture();

    // Scene 4: the text rises from below the screen, then a slow fade of four frames per level.
    SetTextRect(0, 216, 380, 288);
    if (!Load(AssetScene4)) {
        return Abandon();
    }
    for (int32_t i = 0; i <= 255; i++) {
        TextFrame(i, (w - 380) / 2, 606 - i, i);
    }
    for (int32_t m = 1024; m >= 0; m--) {
        TextFrame(m / 4, (w - 380) / 2, 350, m / 4);
    }
    FreePicture();

    // The movies play in silence.
    SetFadeMode(3);
    for (AssetIndex movie : {AssetMovie1, AssetMovie2, AssetMovie3}) {
        if (Ending()) {
            return Abandon();
        }
        if (!LoadMovie(AssetTable[movie].path, AssetTable[movie].size)) {
            SetShowError("%s", MovieError());
            return Abandon();
        }
        PlayMovie();
    }

    if (!Load(AssetLogo)) {
        return Abandon();
    }
    for (int32_t i = 0; i <= 255; i++) {
        LogoFrame(i);
    }
    for (int n = 0; n < 1024; n++) {
        LogoFrame(256);
    }
    for (int32_t n = 256; n >= 0; n--) {
        LogoFrame(n);
    }

    if (Ending()) {
        return Abandon();
    }
    FreePicture();
    FreeTextStrip();
    StopMusic();
    musicStarted = false;
    FreeFrameBuffer();
    return true;
}

uint64_t CountShowFrames() {
    // The black first frame; scenes 1 to 4, each its fade-in or slide and its fade-out; the logo's fade-in, hold
    // and fade-out: the loops above, counted.
    uint64_t frames = 1 + (64 + 257) + (64 + 129) + (64 + 129) + (256 + 1025) + (256 + 1024 + 257);
    for (AssetIndex movie : {AssetMovie1, AssetMovie2, AssetMovie3}) {
        frames += 2 * uint64_t(CountMovieFrames(AssetTable[movie].path));
    }
    return frames;
}
