// The program around the demo script on a platform that needs nothing more than the display, the sound device and
// the script (Linux, and the headless capture). Kept apart from the script so that the script's tests, which stand
// in for the platform, do not have to provide what only this needs.
#include "show/script.h"

#include "app/display.h"
#include "app/exit_signals.h"
#include "audio/sound_device.h"
#include "audio/stream.h"
#include "music/music.h"

int RunShow() {
    if (!InitDisplay()) {
        return 1;
    }
    if (OpenSound() != 1) {
        ShutdownDisplay();
        return 1;
    }
    BuildPeriodTables();
    const bool shown = RunDemoScript();
    // A show that ended early may have left the music playing.
    StopMusic();
    const bool soundFailed = StreamFault() != nullptr;
    CloseSound();
    ShutdownDisplay();
    if (ExitSignal() != 0) {
        return 128 + ExitSignal();
    }
    return shown && !soundFailed ? 0 : 1;
}
