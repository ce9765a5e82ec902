// The Linux program: take the display, open the sound device, run the show, give everything back. Set-up
// failures end the program with a one-line reason and a non-zero status.

#include "app/display.h"
#include "app/exit_signals.h"
#include "audio/stream.h"
#include "music/music.h"
#include "show/script.h"

int main() {
    CatchExitSignals();
    if (!InitDisplay())
        return 1;
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
    return shown && !soundFailed ? 0 : 1;
}
