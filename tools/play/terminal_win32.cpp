// The live player's terminal on Windows: the console's own key reading, and its control codes once switched on.
#include "terminal.h"

#include <conio.h>
#include <io.h>
#include <windows.h>

namespace {
bool taken = false;
} // namespace

bool StatusTerminal() {
    const HANDLE err = GetStdHandle(STD_ERROR_HANDLE);
    DWORD mode = 0;
    return _isatty(2) && GetConsoleMode(err, &mode) &&
           SetConsoleMode(err, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
}

bool TakeKeys() {
    taken = _isatty(0) != 0; // _getch reads keys unechoed and unbuffered without any mode to set
    return taken;
}

void GiveKeysBack() {
    taken = false;
}

Key WaitForKey(int milliseconds) {
    if (!taken || !_kbhit()) {
        Sleep(DWORD(milliseconds));
        if (!taken || !_kbhit())
            return Key::None;
    }
    const int c = _getch();
    if (c == 0 || c == 0xE0) { // an arrow or another extended key: its code follows
        const int code = _getch();
        return code == 0x4D ? Key::Next : code == 0x4B ? Key::Previous : Key::None;
    }
    return PlainKey(c);
}
