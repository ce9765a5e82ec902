// The Linux program: take the display, open the sound device, run the show, give everything back. Set-up
// failures end the program with a one-line reason and a non-zero status.

#include "app/exit_signals.h"
#include "app/entry.h"

int main() {
    CatchExitSignals();
    return RunShow();
}
