#pragma once
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

// What the Windows files of the platform share: the show's window, which the display and the sound device bind
// their exclusive modes to. Null in programs that have no window of their own (the console tools).
extern HWND mainWindow;

// Sets the display up on `window`: DirectDraw 7, exclusive full screen, 640x480x32, a primary surface with one back
// buffer. On failure it writes the failed step to stderr and gives back whatever it had already set up.
bool InitDisplaySurface(HWND window);

// Writes a one-line reason to stderr and to the debugger, since a GUI program may have no console at all.
void ReportPlatformFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));
