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
