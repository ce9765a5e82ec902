#pragma once
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <atomic>

// What the Windows files of the platform share: the show's window, which the display and the sound device bind
// their exclusive modes to. Null in programs that have no window of their own (the console tools).
extern HWND mainWindow;
// How WinMain was asked to show its window (SW_SHOWDEFAULT unless the starter said otherwise).
extern int windowShowCommand;
// The thread that owns mainWindow and so must keep answering its messages (0 when there is none). Set by
// InitDisplay; the audio threads compare against it and never touch the queue.
extern std::atomic<DWORD> windowThreadId;
// Set when the last pair of audio threads had to be terminated: one of them may have died inside DirectSound
// holding its locks, so nothing may call into DirectSound again (CloseSound only forgets the device then).
extern std::atomic<bool> audioThreadsTerminated;

// Sets the display up on `window`: DirectDraw 7, exclusive full screen, 640x480x32, a primary surface with one back
// buffer. On failure it writes the failed step to stderr and gives back whatever it had already set up.
bool InitDisplaySurface(HWND window);

// Answers everything waiting in the calling thread's queue: sent messages, posted ones (dispatched to the window
// procedure, which ignores input) and a quit request (dropped: the show always runs to its end). Only the window's
// thread calls it.
void DrainMessages();
// The window procedure of the show's window: input and close requests do nothing.
LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// What the display does after a Lock or Flip failed for a reason other than a busy blitter, from what
// TestCooperativeLevel answers.
enum DisplayRecovery {
    RecoverRestoreSurfaces,   // the exclusive mode is ours again: give the surfaces their memory back
    RecoverSetModeAndRestore, // ours, but the desktop's mode is on the screen: 640x480x32 again, then the surfaces
    RecoverLater,             // another program has the display: skip frames until it comes back
};
DisplayRecovery ChooseDisplayRecovery(HRESULT cooperativeLevel);
// True when a Lock or Flip result means the surfaces can no longer be drawn or shown (anything failed but busy).
bool DisplayLost(HRESULT drawResult);

// Writes a one-line reason to stderr and to the debugger, since a GUI program may have no console at all.
void ReportPlatformFailure(const char* format, ...) __attribute__((format(printf, 1, 2)));
