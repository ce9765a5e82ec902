// The Windows entry point: the process set-up that only Windows needs, then the same program as everywhere else.
// The window, the display and the sound device are set up and given back by RunShow's platform calls.
#include "app/window_win32.h"
#include "app/entry.h"

#include <mmsystem.h>

#include <cfloat>
#include <cstdio>
#include <cstdlib>

namespace {

// A GUI program started from a console has no stderr of its own unless the caller redirected it; borrow the
// parent's console then, so that a failed start can say why.
void AttachParentConsoleForErrors() {
    HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error != nullptr && error != INVALID_HANDLE_VALUE) {
        return;
    }
    if (AttachConsole(ATTACH_PARENT_PROCESS)) {
        freopen("CONOUT$", "w", stderr);
    }
}

void EndTimerPeriod() {
    timeEndPeriod(1);
}

} // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int nCmdShow) {
#if defined(__i386__)
    // 53-bit precision for the x87 unit, as the movie scaler and the frame clock expect. The 64-bit build does
    // its floating point in SSE registers, which have no precision control.
    _controlfp(_PC_53, _MCW_PC);
#endif
    AttachParentConsoleForErrors();
    // A crash must not leave a dialog waiting behind an exclusive full-screen mode that nobody can see, nor may a
    // missing drive ask for a disk: the process ends and the system gives the display back.
    SetErrorMode(SEM_NOGPFAULTERRORBOX | SEM_FAILCRITICALERRORS);
    // Sleep, the movie pauses and the audio threads' polls are counted in milliseconds; without this the system
    // rounds every one of them up to its tick (15.6 ms by default). Given back on every way out of the process.
    timeBeginPeriod(1);
    atexit(EndTimerPeriod);
    windowShowCommand = nCmdShow;
    return RunShow();
}
