#include "app/exit_signals.h"

#include <csignal>

namespace {

volatile std::sig_atomic_t caught = 0;

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
