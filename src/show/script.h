#pragma once
#include <cstdint>

// The show: the fixed sequence of scenes, from loading the music to the closing logo.
// Returns false when the show had to end early (a data file that never became ready, a picture it cannot use);
// the reason has been written to stderr.
bool RunDemoScript();
// The whole program around the script where the platform needs nothing more: takes the display, opens the sound
// device, runs the script, stops the music and gives both back. 0 when the show ran to its end with its sound,
// 1 when a set-up step, the script or the sound failed (each says why on stderr), 128 + the signal number when
// a request to end the program cut the show short.
int RunShow();

void StartFrameClock();
// Time since the previous reading in units of 17 ms; moves the mark to now.
double ReadFrameClock();
// Plays the loaded movie twice, paced by the frame clock, then frees it.
void PlayMovie();

// When set, called with the frame buffer at every ShowFrame, before it is presented (the capture's frame log).
extern void (*ShowFrameObserver)(const uint32_t* frame);
