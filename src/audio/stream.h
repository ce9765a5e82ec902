#pragma once

// Music output: the sound device, the looping stream buffer and the two audio threads that keep it fed.

// Opens the default sound device. Returns 1 on success, -1 on failure (with a one-line reason on stderr).
int OpenSound();
void CloseSound();

// Starts the mixer and feeder threads on the prepared player; the show calls it once, after loading the music.
void StartMusic();
// Stops both threads, frees the player's buffers and modules and releases the stream buffer.
void StopMusic();
