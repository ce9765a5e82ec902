#pragma once

// A request from outside to end the program: SIGINT and SIGTERM on Linux, Ctrl-C, Ctrl-Break and closing the
// console for a Windows console program. The handler only notes it; the program's own loop asks ExitSignal and
// ends through its normal tear-down, with status 128 + the number. Programs that must not be interrupted (the
// Windows show) never call CatchExitSignals, and ExitSignal stays 0 for them.

void CatchExitSignals();
// 0 while no request came, else its signal number.
int ExitSignal();
