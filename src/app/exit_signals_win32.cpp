// Windows: Ctrl-C, Ctrl-Break and closing the console end a console program cleanly, as SIGINT and SIGTERM do on
// Linux. The handler runs on a thread of its own that the system starts; it only notes the event, and the
// program's main loop acts on it.
#include "app/exit_signals.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>
#include <csignal>

namespace {

std::atomic<int> caught{0};

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
        // give the devices back first (its exit ends this thread too).
        caught = SIGTERM;
        Sleep(4000);
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
