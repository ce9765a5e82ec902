#pragma once
#include <cstdint>

#include "app/entry.h"

// The show: the fixed sequence of scenes, from loading the music to the closing logo.
// Returns false when the show had to end early (a data file that never became ready, a picture it cannot use);
// the reason has been written to stderr.
bool RunDemoScript();
// RunShow (app/entry.h), the whole program around the script, is defined with it in run_show.cpp.

// The frames the show presents, from its first black frame to the end of the logo, with the movies as their files
// in the working folder's data/ now hold them; for a progress display.
uint64_t CountShowFrames();

void StartFrameClock();
// Time since the previous reading in units of 17 ms; moves the mark to now.
double ReadFrameClock();
// Plays the loaded movie twice, paced by the frame clock, then frees it.
void PlayMovie();

// When set, called with the frame buffer at every ShowFrame, before it is presented (the capture's frame log).
extern void (*ShowFrameObserver)(const uint32_t* frame);
