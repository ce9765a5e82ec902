#pragma once
#include <cstdint>

// The mix-down: renders the player's channels tick by tick and sums them into chunks of 16-bit stereo frames,
// and takes the three commands that the show gives the player and the two that a module player adds. Nothing here
// touches a device or a thread.

constexpr int ChunkFrames = 3528; // 80 ms at 44100 frames per second

// Renders and mixes the next `frames` frames; returns the chunk buffer (2 x frames int16, left sample first).
int16_t* RenderFrames(int frames);

void SetFadeMode(int32_t mode);
void RequestModule(int32_t index);
void SetRepeatMode(int32_t mode);
// A player's commands, read once per tick like the show's: go to the start of order position `position` of the
// current song, with the speed and tempo it has there (a position past the song's end is dropped); 1 pauses (every
// tick renders silence and the song stands still, so the stream stays fed), 0 plays on.
void RequestPosition(int32_t position);
void SetPauseMode(int32_t mode);

// Takes the player for the music (music.h says who owns it when): the start of the song, the clamp table, the chunk
// and mix buffers. StartMusic calls it before it creates the stream buffer and the threads.
void PrepareMusic();
// Gives the player back, freeing what PrepareMusic made and the modules; StopMusic calls it once the threads have
// ended.
void ReleaseMusic();

// Frames of the current song played so far (paused ticks not counted): since its start, or the time of the position
// a RequestPosition moved to. For the thread that renders (a chunk observer).
int64_t SongFrames();
// How many song ends RenderFrames has acted on since PrepareMusic (a restart or a move to the next module each).
int32_t SongEndCount();
// The fade command as the mixer sees it now: -1 once a fade has finished or a one-shot command was applied.
int32_t FadeMode();
