#pragma once

// The live player's terminal: keys read one at a time without echo, and a status area redrawn in place. One file
// per platform: terminal_posix.cpp (termios), terminal_win32.cpp (the console).

enum class Key { None, Pause, Previous, Next, NextModule, PreviousModule, Quit };

// Whether stderr is a terminal that takes the status area's control codes (it may be asked to on Windows).
bool StatusTerminal();
// Takes the keyboard when stdin is a terminal: no echo, no line buffering, Ctrl-C still a signal. False when stdin
// is not a terminal (a pipe, a file): then there are no keys.
bool TakeKeys();
// Gives the terminal back the settings TakeKeys found; nothing when it took none. Every way out calls it.
void GiveKeysBack();
// Waits at most `milliseconds` for a key (space, the left and right arrows, n, p, q); Key::None when none came or
// a signal cut the wait short.
Key WaitForKey(int milliseconds);

// The key a plain character stands for (space, n, p, q, either case); Key::None for any other.
inline Key PlainKey(int c) {
    switch (c) {
    case ' ':
        return Key::Pause;
    case 'n':
    case 'N':
        return Key::NextModule;
    case 'p':
    case 'P':
        return Key::PreviousModule;
    case 'q':
    case 'Q':
        return Key::Quit;
    default:
        return Key::None;
    }
}
