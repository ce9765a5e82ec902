#pragma once
#include <cstddef>
#include <cstdint>

#include "image/image.h"

// The movie file: 5 header bytes, a frame count, then length-prefixed records of JPEG 2000 codestreams.
// One movie at a time, main thread only.

extern uint8_t* MovieBuffer;
extern int32_t MovieSize;
extern int32_t MovieFrameCount;
// Whole records in the buffer, up to the frame count: the frames that can actually be shown.
extern int32_t MovieRecordCount;
// Entry [a * 256 + b] = (a * b) >> 8: the interpolation's multiplications, looked up.
extern int32_t LerpTable[65536];

// Waits for the file to have `size` bytes and reads it whole. False with a reason (MovieError) when it cannot.
bool LoadMovie(const char* path, int32_t size);
// Takes a movie already in memory (copied); used by the inspector and the tests.
bool LoadMovieFromMemory(const uint8_t* bytes, size_t size);
void FreeMovie();

// The widest and tallest frame that is decoded (8192); a fuzzer may lower it for itself.
extern uint32_t MovieFrameMaxSide;

// Decodes the record at `record` (its length field first), of which `available` bytes lie in the buffer.
// Returns 4 + L; image->pixels is null when the frame cannot be decoded (reason in MovieError).
uint32_t DecodeMovieFrame(const uint8_t* record, size_t available, Image* image);

// The frame the movies are drawn into: MovieFrameWidth x MovieFrameHeight words of 0x00RRGGBB, rows in order.
constexpr int32_t MovieFrameWidth = 640;
constexpr int32_t MovieFrameHeight = 480;

// Draws frame i stretched over `frame`, rows 40 to 440; every word is written. A frame past the last record draws
// the last one; a frame that cannot be drawn leaves the whole frame black. Returns false in that case.
bool DrawMovieFrame(int32_t i, uint32_t* frame);

// The frames PlayMovie shows of the movie file at `path` in one pass (its frame count, cut at the whole records
// the file holds), read from the file as it is now; 0 when it cannot be read.
int32_t CountMovieFrames(const char* path);

// The last reason the movie reader refused a file or a frame, one line; it names the file where it has one.
const char* MovieError();
void SetMovieError(const char* format, ...) __attribute__((format(printf, 1, 2)));
