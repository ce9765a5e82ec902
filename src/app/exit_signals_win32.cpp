// Windows: Ctrl-C, Ctrl-Break and closing the console end a console program cleanly, as SIGINT and SIGTERM do on
// Linux. The handler runs on a thread of its own that the system starts; it only notes the event, and the main
// thread acts on it at its next FlipFrame (or wherever a program calls EndOnExitSignal).
#include "app/exit_signals.h"

#include "app/display.h"
#include "audio/stream.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<int> caught{0};
std::atomic<bool> ending{false};
std::atomic<bool> ended{false};

BOOL WINAPI NoteConsoleEvent(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
        caught = SIGINT;
        return TRUE;
    case CTRL_BREAK_EVENT:
        caught = SIGBREAK;
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process is ended as soon as this returns: give the main thread a few seconds to stop the music and
        // give the devices back first.
        caught = SIGTERM;
        for (int i = 0; i < 400 && !ended.load(); ++i) {
            Sleep(10);
        }
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

void CatchExitSignals() {
    SetConsoleCtrlHandler(NoteConsoleEvent, TRUE);
}

int ExitSignal() {
    return caught.load();
}

void EndOnExitSignal() {
    const int signal = caught.load();
    if (signal == 0 || ending.exchange(true)) {
        return;
    }
    fprintf(stderr, "quimbles: ending on signal %d\n", signal);
    StopMusic();
    CloseSound();
    ShutdownDisplay();
    ended = true;
    std::exit(128 + signal);
}
