// Time and the two audio threads on Windows: Sleep, the performance counter, CreateThread at the highest priority.
// The window's thread never just sleeps: while it waits it answers its messages, so that the show's window never
// looks hung to the system, however long the show waits for a file, a movie frame or the audio threads.
#include "app/system.h"
#include "app/window_win32.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

std::atomic<bool> audioThreadsTerminated{false};

namespace {

void (*threadEntries[2])() = {nullptr, nullptr};
HANDLE threadHandles[2] = {nullptr, nullptr};
int threadCount = 0;

DWORD WINAPI RunAudioThread(LPVOID parameter) {
    threadEntries[reinterpret_cast<intptr_t>(parameter)]();
    return 0;
}

} // namespace

void ReportPlatformFailure(const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    fprintf(stderr, "%s\n", line);
    fflush(stderr);
    OutputDebugStringA(line);
    OutputDebugStringA("\n");
}

void SleepMs(uint32_t milliseconds) {
    if (GetCurrentThreadId() != windowThreadId.load(std::memory_order_relaxed)) {
        if (milliseconds == 0) {
            SwitchToThread(); // Sleep(0) would yield only to threads of the same priority or above
        } else {
            Sleep(milliseconds);
        }
        return;
    }
    // Wake for the end of the wait or for a message, whichever comes first; at least `milliseconds` pass, as with
    // Sleep.
    const uint64_t frequency = ReadPerformanceFrequency();
    const uint64_t end = ReadPerformanceCounter() + uint64_t(milliseconds) * frequency / 1000;
    for (;;) {
        DrainMessages();
        const uint64_t now = ReadPerformanceCounter();
        if (now >= end) {
            return;
        }
        const auto left = static_cast<DWORD>(((end - now) * 1000 + frequency - 1) / frequency);
        MsgWaitForMultipleObjectsEx(0, nullptr, left, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

uint64_t ReadPerformanceCounter() {
    LARGE_INTEGER value;
    QueryPerformanceCounter(&value);
    return static_cast<uint64_t>(value.QuadPart);
}

uint64_t ReadPerformanceFrequency() {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return static_cast<uint64_t>(value.QuadPart);
}

bool StartAudioThreads(void (*feeder)(), void (*mixer)()) {
    if (threadCount != 0) {
        ReportPlatformFailure("audio threads: already running");
        return false;
    }
    threadEntries[0] = feeder;
    threadEntries[1] = mixer;
    // Both are created suspended, so that when the second cannot be created the first has not run yet and can be
    // ended without harm; then they start in order, feeder first.
    for (intptr_t i = 0; i < 2; ++i) {
        threadHandles[i] =
            CreateThread(nullptr, 0, RunAudioThread, reinterpret_cast<LPVOID>(i), CREATE_SUSPENDED, nullptr);
        if (threadHandles[i] == nullptr) {
            ReportPlatformFailure("audio threads: CreateThread failed (error %lu)", GetLastError());
            if (i == 1) {
                TerminateThread(threadHandles[0], 0);
                CloseHandle(threadHandles[0]);
                threadHandles[0] = nullptr;
            }
            return false;
        }
        // A refused priority leaves the thread at normal priority, which still plays, only with less margin.
        SetThreadPriority(threadHandles[i], THREAD_PRIORITY_HIGHEST);
    }
    threadCount = 2;
    audioThreadsTerminated = false;
    ResumeThread(threadHandles[0]);
    ResumeThread(threadHandles[1]);
    return true;
}

bool JoinAudioThreads(uint32_t milliseconds) {
    if (threadCount == 0) {
        return true;
    }
    // In slices of at most 10 ms, so that the window's thread answers its messages between them.
    const bool answerMessages = GetCurrentThreadId() == windowThreadId.load(std::memory_order_relaxed);
    const uint64_t frequency = ReadPerformanceFrequency();
    const uint64_t end = ReadPerformanceCounter() + uint64_t(milliseconds) * frequency / 1000;
    DWORD waited;
    for (;;) {
        const uint64_t now = ReadPerformanceCounter();
        const DWORD left = now >= end ? 0 : static_cast<DWORD>(((end - now) * 1000 + frequency - 1) / frequency);
        waited =
            WaitForMultipleObjects(threadCount, threadHandles, TRUE, answerMessages ? std::min<DWORD>(left, 10) : left);
        if (waited != WAIT_TIMEOUT || left == 0) {
            break;
        }
        if (answerMessages) {
            DrainMessages();
        }
    }
    const bool bothReturned = waited < WAIT_OBJECT_0 + static_cast<DWORD>(threadCount);
    for (int i = 0; i < threadCount; ++i) {
        if (!bothReturned && WaitForSingleObject(threadHandles[i], 0) != WAIT_OBJECT_0) {
            TerminateThread(threadHandles[i], 0);
            audioThreadsTerminated = true;
        }
        CloseHandle(threadHandles[i]);
        threadHandles[i] = nullptr;
    }
    threadCount = 0;
    return bothReturned;
}
