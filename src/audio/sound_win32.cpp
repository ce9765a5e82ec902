// The sound device on Windows: DirectSound 8, one looping secondary buffer that the feeder writes chunk by chunk
// ahead of the play cursor.
#include "app/window_win32.h"
#include "audio/sound_device.h"
#include "audio/sound_ring.h"
#include "audio/sound_win32.h"
#include "audio/sound_stats.h"

// <mmsystem.h> brings WAVEFORMATEX, which <dsound.h> needs but WIN32_LEAN_AND_MEAN leaves out.
#include <mmsystem.h>
#include <dsound.h>

#include <algorithm>
#include <atomic>
#include <cstring>

BOOL CALLBACK CountSoundDevice(LPGUID guid, LPCSTR description, LPCSTR moduleName, LPVOID context);

namespace {

IDirectSound8* soundDevice = nullptr;
IDirectSoundBuffer* streamBuffer = nullptr;
std::atomic<bool> streamPlaying{false}; // PlayStreamBuffer was called on the current stream buffer
int32_t soundDeviceCount = 0;

// Underrun accounting. DirectSound does not tell when its cursor plays frames nobody wrote, so a shadow of the
// ring (the same one the other platforms play from) follows every write and every cursor movement seen by a poll.
// Polls come far more often than once per ring (0.64 s), so the distance from the previous reading is the
// distance played. The lock is held only for that bookkeeping.
// Guards the shadow ring and the counters between the feeder and the callers of the counters. A slim lock
// rather than std::mutex keeps the C++ runtime's exception and string machinery out of the program.
SRWLOCK accountingLock = SRWLOCK_INIT;
SoundRing shadow{};
uint32_t lastCursor = 0;               // bytes
uint64_t underrunsOfOldBuffers = 0;    // counted since the program started, across stream buffers
uint64_t framesPlayedOfOldBuffers = 0; // likewise

void FollowCursor(uint32_t cursor) {
    PlayRing(&shadow, nullptr, FramesPlayedBetween(lastCursor, cursor));
    lastCursor = cursor;
}

// Whole frames only, inside the ring, whatever the driver reports.
uint32_t ReadCursor(IDirectSoundBuffer* buffer, bool* ok) {
    DWORD play = 0;
    *ok = SUCCEEDED(buffer->GetCurrentPosition(&play, nullptr));
    return (static_cast<uint32_t>(play) % StreamBufferBytes) & ~3u;
}

HWND SoundWindow() {
    // DirectSound ties its cooperative level to a window; the console tools have none of their own.
    if (mainWindow != nullptr) {
        return mainWindow;
    }
    HWND console = GetConsoleWindow();
    return console != nullptr ? console : GetDesktopWindow();
}

} // namespace

uint32_t FramesPlayedBetween(uint32_t lastCursor, uint32_t cursor) {
    return ((cursor + StreamBufferBytes - lastCursor) % StreamBufferBytes) / 4;
}

BOOL CALLBACK CountSoundDevice(LPGUID guid, LPCSTR, LPCSTR, LPVOID) {
    // The primary sound driver comes first without a GUID; only real devices count.
    if (guid != nullptr) {
        ++soundDeviceCount;
    }
    return TRUE;
}

int OpenSound() {
    if (soundDevice != nullptr) {
        return 1;
    }
    soundDeviceCount = 0;
    HRESULT result = DirectSoundEnumerateA(CountSoundDevice, nullptr);
    if (FAILED(result) || soundDeviceCount <= 0) {
        ReportPlatformFailure("sound: DirectSoundEnumerate found no sound device");
        return -1;
    }
    result = DirectSoundCreate8(nullptr, &soundDevice, nullptr);
    if (FAILED(result)) {
        soundDevice = nullptr;
        ReportPlatformFailure("sound: DirectSoundCreate8 failed (HRESULT 0x%08lX)", static_cast<unsigned long>(result));
        return -1;
    }
    result = soundDevice->SetCooperativeLevel(SoundWindow(), DSSCL_PRIORITY);
    if (FAILED(result)) {
        ReportPlatformFailure("sound: SetCooperativeLevel failed (HRESULT 0x%08lX)",
                              static_cast<unsigned long>(result));
        CloseSound();
        return -1;
    }
    return 1;
}

void CloseSound() {
    if (audioThreadsTerminated.load()) {
        // A thread ended by force may have died inside DirectSound holding its locks (or inside our bookkeeping
        // holding accountingLock): any call could hang here with the display still in 640x480. Forget the objects;
        // the system takes them back with the process.
        streamBuffer = nullptr;
        streamPlaying = false;
        soundDevice = nullptr;
        return;
    }
    ReleaseStreamBuffer();
    if (soundDevice != nullptr) {
        soundDevice->Release();
    }
    soundDevice = nullptr;
}

bool CreateStreamBuffer(int32_t frames) {
    if (soundDevice == nullptr) {
        ReportPlatformFailure("sound: no sound device open for the stream buffer");
        return false;
    }
    ReleaseStreamBuffer();
    WAVEFORMATEX format;
    memset(&format, 0, sizeof format);
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.nAvgBytesPerSec = 176400;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    DSBUFFERDESC description;
    memset(&description, 0, sizeof description);
    description.dwSize = sizeof description;
    description.dwFlags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_STATIC;
    if (mainWindow == nullptr) {
        // The console tools' device is bound to the console (or the desktop), which is seldom the window in
        // front: without global focus their sound would go silent whenever another window is.
        description.dwFlags |= DSBCAPS_GLOBALFOCUS;
    }
    description.dwBufferBytes = static_cast<DWORD>(frames) * 4;
    description.lpwfxFormat = &format;
    HRESULT result = soundDevice->CreateSoundBuffer(&description, &streamBuffer, nullptr);
    if (FAILED(result)) {
        streamBuffer = nullptr;
        ReportPlatformFailure("sound: CreateSoundBuffer of %ld bytes failed (HRESULT 0x%08lX)",
                              static_cast<long>(frames) * 4, static_cast<unsigned long>(result));
        return false;
    }
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD size1 = 0;
    DWORD size2 = 0;
    result = streamBuffer->Lock(0, 0, &part1, &size1, &part2, &size2, DSBLOCK_ENTIREBUFFER);
    if (FAILED(result)) {
        ReportPlatformFailure("sound: Lock of the new stream buffer failed (HRESULT 0x%08lX)",
                              static_cast<unsigned long>(result));
        ReleaseStreamBuffer();
        return false;
    }
    memset(part1, 0, size1);
    streamBuffer->Unlock(part1, size1, part2, size2);
    AcquireSRWLockExclusive(&accountingLock);
    lastCursor = 0;
    const bool ringMade = CreateRing(&shadow, static_cast<uint32_t>(frames));
    ReleaseSRWLockExclusive(&accountingLock);
    if (!ringMade) {
        ReportPlatformFailure("sound: out of memory for the stream buffer's bookkeeping");
        streamBuffer->Release();
        streamBuffer = nullptr;
        return false;
    }
    return true;
}

void ReleaseStreamBuffer() {
    if (streamBuffer != nullptr) {
        streamBuffer->Stop();
        streamBuffer->Release();
    }
    streamBuffer = nullptr;
    streamPlaying = false;
    AcquireSRWLockExclusive(&accountingLock);
    underrunsOfOldBuffers += shadow.underruns;
    framesPlayedOfOldBuffers += shadow.framesPlayed;
    FreeRing(&shadow);
    ReleaseSRWLockExclusive(&accountingLock);
}

void PlayStreamBuffer() {
    if (streamBuffer != nullptr) {
        streamBuffer->Play(0, 0, DSBPLAY_LOOPING);
        streamPlaying = true;
    }
}

uint32_t GetPlayPosition() {
    AcquireSRWLockExclusive(&accountingLock);
    bool ok = false;
    uint32_t cursor = lastCursor;
    if (streamBuffer != nullptr) {
        const uint32_t read = ReadCursor(streamBuffer, &ok);
        if (ok) {
            FollowCursor(read);
            cursor = read;
        }
    }
    ReleaseSRWLockExclusive(&accountingLock);
    return cursor;
}

StreamWriteResult WriteStreamBuffer(uint32_t offset, const void* samples, uint32_t bytes) {
    if (streamBuffer == nullptr || offset >= StreamBufferBytes || bytes > StreamBufferBytes) {
        return StreamWriteFailed;
    }
    void* part1 = nullptr;
    void* part2 = nullptr;
    DWORD size1 = 0;
    DWORD size2 = 0;
    HRESULT result = streamBuffer->Lock(offset, bytes, &part1, &size1, &part2, &size2, 0);
    if (result == DSERR_BUFFERLOST) {
        return StreamWriteLost;
    }
    if (FAILED(result)) {
        return StreamWriteFailed;
    }
    // The lock hands out at most two regions (the second when the range wraps); never copy more than was asked.
    const auto* source = static_cast<const uint8_t*>(samples);
    const uint32_t copy1 = std::min<uint32_t>(size1, bytes);
    memcpy(part1, source, copy1);
    if (part2 != nullptr) {
        memcpy(part2, source + copy1, std::min<uint32_t>(size2, bytes - copy1));
    }
    streamBuffer->Unlock(part1, size1, part2, size2);

    // Bring the shadow's cursor up to date first, so that frames already played are not taken as written.
    AcquireSRWLockExclusive(&accountingLock);
    bool ok = false;
    const uint32_t cursor = ReadCursor(streamBuffer, &ok);
    if (ok) {
        FollowCursor(cursor);
    }
    WriteRing(&shadow, offset, samples, bytes);
    ReleaseSRWLockExclusive(&accountingLock);
    return StreamWriteOk;
}

bool RestoreStreamBuffer() {
    if (streamBuffer == nullptr || FAILED(streamBuffer->Restore())) {
        return false;
    }
    // A lost buffer has stopped; if the stream was playing it must go on (looping, as it was started).
    DWORD status = 0;
    if (streamPlaying && SUCCEEDED(streamBuffer->GetStatus(&status)) && (status & DSBSTATUS_PLAYING) == 0) {
        streamBuffer->Play(0, 0, DSBPLAY_LOOPING);
    }
    return true;
}

uint64_t CountUnderruns() {
    AcquireSRWLockExclusive(&accountingLock);
    const uint64_t count = underrunsOfOldBuffers + shadow.underruns;
    ReleaseSRWLockExclusive(&accountingLock);
    return count;
}

uint64_t CountFramesPlayed() {
    AcquireSRWLockExclusive(&accountingLock);
    const uint64_t count = framesPlayedOfOldBuffers + shadow.framesPlayed;
    ReleaseSRWLockExclusive(&accountingLock);
    return count;
}
