// The Linux sound device: SDL pulls 2048-frame blocks from the stream buffer (sound_pulled.cpp) in its audio
// callback, which stands in for the sound card.

#include "audio/sound_device.h"
#include "audio/sound_pulled.h"
#include "app/thread_priority.h"

#include <SDL.h>
#include <cstdio>

namespace {

SDL_AudioDeviceID device = 0;
bool audioStarted = false;

void FillAudio(void*, Uint8* stream, int length) {
    // This thread stands in for the sound card: raise it as far as the process may, or a busy machine makes the
    // server play gaps of silence that no ring can prevent.
    static thread_local bool raised = false;
    if (!raised) {
        raised = true;
        RaiseThreadPriority();
    }
    PullSoundBlock(reinterpret_cast<int16_t*>(stream), uint32_t(length) / 4);
}

} // namespace

int OpenSound() {
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        fprintf(stderr, "quimbles: sound set-up failed: cannot start SDL audio: %s\n", SDL_GetError());
        return -1;
    }
    audioStarted = true;
    SDL_AudioSpec want{};
    want.freq = 44100;
    want.format = AUDIO_S16LSB;
    want.channels = 2;
    want.samples = 2048; // shorter blocks drop out under load with PulseAudio
    want.callback = FillAudio;
    SDL_AudioSpec have{};
    device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device == 0) {
        fprintf(stderr, "quimbles: sound set-up failed: cannot open a sound device: %s\n", SDL_GetError());
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        audioStarted = false;
        return -1;
    }
    SetPulledDeviceOpen(true);
    SDL_PauseAudioDevice(device, 0);
    return 1;
}

void CloseSound() {
    if (device != 0)
        SDL_CloseAudioDevice(device); // returns once the callback has finished for good
    device = 0;
    SetPulledDeviceOpen(false);
    ReleaseStreamBuffer();
    if (audioStarted)
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    audioStarted = false;
}
