#pragma once

// The program that the entry points of this folder (main_sdl.cpp, main_web.cpp, main_win32.cpp) run once the
// process is prepared: the show, which src/show/run_show.cpp defines. It takes the display, opens the sound
// device, runs the script, stops the music and gives both back. 0 when the show ran to its end with its sound, 1
// when a set-up step, the script or the sound failed (each says why on stderr), 128 + the signal number when a
// request to end the program cut the show short.
int RunShow();
