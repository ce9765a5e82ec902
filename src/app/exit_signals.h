#pragma once

// Linux: SIGINT and SIGTERM end the program cleanly. The handler only notes the signal; the main thread acts on it
// at its next FlipFrame (or wherever a program calls EndOnExitSignal): the music is stopped, the sound device
// closed, the display given back, and the process exits with status 128 + the signal number.

void CatchExitSignals();
// 0 while no signal came, else the signal number.
int ExitSignal();
// On the main thread: if a signal came, shuts everything down and exits; otherwise returns at once.
void EndOnExitSignal();
