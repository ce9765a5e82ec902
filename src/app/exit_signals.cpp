#include "app/exit_signals.h"

#include "app/display.h"
#include "audio/stream.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

volatile std::sig_atomic_t caught = 0;
std::atomic<bool> ending{false};

void NoteSignal(int signal) {
    caught = signal;
}

} // namespace

void CatchExitSignals() {
    struct sigaction action {};
    action.sa_handler = NoteSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

int ExitSignal() {
    return caught;
}

void EndOnExitSignal() {
    const int signal = caught;
    if (signal == 0 || ending.exchange(true))
        return;
    fprintf(stderr, "quimbles: ending on signal %d\n", signal);
    StopMusic();
    CloseSound();
    ShutdownDisplay();
    std::exit(128 + signal);
}
