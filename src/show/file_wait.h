#pragma once
#include <cstdint>

// Data files are read only once they have their recorded size; the show's loaders say why they refused.

// Size of the file in bytes, or -1 when it cannot be opened or measured.
int32_t FileSize(const char* path);
// Waits, probing every few milliseconds, until the file has exactly `size` bytes. Says on stderr what it waits for;
// gives up with false (reason in ShowError) when the size is not reached within about ten seconds.
bool WaitForFileSize(const char* path, int32_t size);

// The last reason a loader of the show refused something, one line without a newline.
const char* ShowError();
void SetShowError(const char* format, ...) __attribute__((format(printf, 1, 2)));
