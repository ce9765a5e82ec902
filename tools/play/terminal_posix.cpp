// The live player's terminal on Linux: termios for the keys, poll() for the wait.
#include "terminal.h"

#include <cstring>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

termios saved;
bool taken = false;
std::string pending; // bytes read and not yet taken as keys

// The first key in `pending`, taken out; arrows come as ESC [ C or, in application mode, ESC O C.
Key TakeKey() {
    while (!pending.empty()) {
        const char c = pending[0];
        if (c == '\x1b') {
            if (pending.size() >= 2 && pending[1] != '[' && pending[1] != 'O') {
                pending.erase(0, 1); // Escape on its own
                continue;
            }
            if (pending.size() < 3)
                return Key::None; // the rest of the sequence is on its way
            const char last = pending[2];
            pending.erase(0, 3);
            if (last == 'C')
                return Key::Next;
            if (last == 'D')
                return Key::Previous;
            continue;
        }
        pending.erase(0, 1);
        const Key key = PlainKey(c);
        if (key != Key::None)
            return key;
    }
    return Key::None;
}

} // namespace

bool StatusTerminal() {
    return isatty(STDERR_FILENO);
}

bool TakeKeys() {
    if (!isatty(STDIN_FILENO) || tcgetattr(STDIN_FILENO, &saved) != 0)
        return false;
    termios raw = saved;
    raw.c_lflag &= ~tcflag_t(ICANON | ECHO);
    raw.c_cc[VMIN] = 0;
    raw.c_cc[VTIME] = 0;
    taken = tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0;
    return taken;
}

void GiveKeysBack() {
    if (taken)
        tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    taken = false;
}

Key WaitForKey(int milliseconds) {
    Key key = TakeKey();
    if (key != Key::None || !taken)
        return key;
    pollfd in = {STDIN_FILENO, POLLIN, 0};
    if (poll(&in, 1, milliseconds) == 1) {
        char bytes[64];
        const ssize_t got = read(STDIN_FILENO, bytes, sizeof bytes);
        if (got > 0)
            pending.append(bytes, size_t(got));
    }
    return TakeKey();
}
