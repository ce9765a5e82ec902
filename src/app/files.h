#pragma once
#include <cstddef>
#include <cstdint>

// Whole files into memory, the one way every loader reads its input.

enum ReadFileResult {
    ReadFileOk = 0,
    ReadFileCannotOpen,
    ReadFileCannotRead, // could not be measured or read to its end
    ReadFileTooLarge,   // more than the caller's limit
    ReadFileOutOfMemory,
};

// Reads the whole file into one malloc'd block (at least 1 byte, so that an empty file still gives a block), or,
// when `expected` is not SIZE_MAX, exactly that many bytes from its start. The caller frees *bytes. On failure
// *bytes is null and *size 0.
ReadFileResult ReadWholeFile(const char* path, size_t limit, uint8_t** bytes, size_t* size, size_t expected = SIZE_MAX);
// A few words for a result, such as "cannot open the file".
const char* ReadFileReason(ReadFileResult result);

// Data files are read only once they have their recorded size. These two sleep on the platform's clock, so they
// come with the platform library a program links, not with ReadWholeFile.

// Size of the file in bytes, or -1 when it cannot be opened or measured.
int32_t FileSize(const char* path);
// Waits, probing every few milliseconds, until the file has exactly `size` bytes. Says on stderr what it waits for;
// gives up with false when the size is not reached within about ten seconds, and FileWaitError() then names the
// file and what it had ("data/x.png has 100 bytes instead of 2000").
bool WaitForFileSize(const char* path, int32_t size);
const char* FileWaitError();
