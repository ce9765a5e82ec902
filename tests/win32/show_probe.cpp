// Runs beside the show and checks that its window stays responsive and cannot be closed: once a second it sends
// the window WM_NULL with SendMessageTimeout (a one-second limit, the test Windows itself uses to call a window
// hung is five), and between probes it posts, in turn, WM_CLOSE, WM_SYSCOMMAND/SC_CLOSE, Escape and Alt+F4.
// The probes count from the window's first answer: until then the show is still taking the display over (a mode
// change, and under Wine the set-up of its renderer), which no window answers during. It ends when the window is
// gone and prints
//     first_answer_ms=F probes=N answered=A slowest_ms=S posted=P window_ms=W
// Exit status 0 when the window answered within 60 s of appearing and then every probe sent while it existed was
// answered within the limit (and there were at least MIN_PROBES of them), 1 otherwise.
// Usage: show-probe [MIN_PROBES] (default 10)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstdio>
#include <cstdlib>

namespace {

constexpr UINT LimitMs = 1000;

double NowMs() {
    LARGE_INTEGER frequency;
    LARGE_INTEGER count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return static_cast<double>(count.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

// One of the requests that would end or disturb an ordinary window, in turn.
void PostRequest(HWND window, int which) {
    switch (which % 4) {
    case 0:
        PostMessageA(window, WM_CLOSE, 0, 0);
        break;
    case 1:
        PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
        break;
    case 2: // Escape: scan code 1, one repeat
        PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
        PostMessageA(window, WM_KEYUP, VK_ESCAPE, 0xC0010001);
        break;
    default: // F4 with Alt held (context bit 29), scan code 0x3E
        PostMessageA(window, WM_SYSKEYDOWN, VK_F4, 0x203E0001);
        PostMessageA(window, WM_SYSKEYUP, VK_F4, 0xE03E0001);
        break;
    }
}

} // namespace

int main(int argc, char** argv) {
    const int minProbes = argc > 1 ? atoi(argv[1]) : 10;
    HWND window = nullptr;
    const double searchStart = NowMs();
    while ((window = FindWindowA("QUIMBLES", "QUIMBLES")) == nullptr) {
        if (NowMs() - searchStart > 120000) {
            fprintf(stderr, "show-probe: no QUIMBLES window appeared within 120 s\n");
            return 1;
        }
        Sleep(20);
    }
    const double found = NowMs();
    DWORD_PTR reply = 0;
    while (SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, LimitMs, &reply) == 0) {
        if (!IsWindow(window) || NowMs() - found > 60000) {
            fprintf(stderr, "show-probe: the window did not answer within 60 s of appearing\n");
            return 1;
        }
    }
    const double firstAnswer = NowMs() - found;
    int probes = 0;
    int answered = 0;
    int posted = 0;
    double slowest = 0;
    double gone = found;
    for (int second = 0; IsWindow(window); ++second) {
        const double before = NowMs();
        const bool ok = SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, LimitMs, &reply) != 0;
        const double took = NowMs() - before;
        // A probe that met the window's end is not counted against it.
        if (!ok && !IsWindow(window)) {
            break;
        }
        ++probes;
        if (ok && took <= LimitMs) {
            ++answered;
        } else {
            fprintf(stderr, "show-probe: no answer at %.1f s (%.0f ms)\n", (before - found) / 1000, took);
        }
        if (took > slowest) {
            slowest = took;
        }
        // From the second probe on, half-way to the next one: the show is running by then.
        if (second >= 1) {
            Sleep(500);
            PostRequest(window, posted++);
        }
        while (IsWindow(window) && NowMs() - before < 1000) {
            Sleep(10);
        }
        gone = NowMs();
    }
    printf("first_answer_ms=%.0f probes=%d answered=%d slowest_ms=%.0f posted=%d window_ms=%.0f\n", firstAnswer,
           probes, answered, slowest, posted, gone - found);
    fflush(stdout);
    return probes >= minProbes && answered == probes ? 0 : 1;
}
