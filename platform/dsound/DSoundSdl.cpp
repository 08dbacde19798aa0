// The real device: each buffer opens one SDL audio output in its own format
// whose callback (on SDL's thread) pulls bytes from the loop at the play
// cursor. Owns gSdlLock, which serialises SDL's init, open and close calls.
#include "platform/dsound/SoundBuffer.h"
#include <SDL.h>

namespace dsound_detail {

static std::mutex gSdlLock;

static SDL_AudioSpec WantedSpec(const WAVEFORMATEX& f, SDL_AudioCallback callback, void* user)
{
    SDL_AudioSpec want;
    SDL_zero(want);
    want.freq = (int)f.nSamplesPerSec;
    want.format = f.wBitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
    want.channels = (Uint8)f.nChannels;
    // About 32 ms per callback at 8000 Hz: the play cursor moves in steps
    // of this size.
    want.samples = 256;
    want.callback = callback;
    want.userdata = user;
    return want;
}

// SDL's audio subsystem, counted by SDL itself; false when it cannot start.
static bool AudioUp()
{
    std::lock_guard<std::mutex> g(gSdlLock);
    return SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

static void AudioDown()
{
    std::lock_guard<std::mutex> g(gSdlLock);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

static void SilentCallback(void* user, Uint8* stream, int len) { SDL_memset(stream, 0x80, len); }

bool SdlProbe()
{
    if (!AudioUp()) return false;
    bool ok;
    {
        std::lock_guard<std::mutex> g(gSdlLock);
        WAVEFORMATEX f = {WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
        SDL_AudioSpec want = WantedSpec(f, SilentCallback, nullptr);
        SDL_AudioDeviceID dev = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
        ok = dev != 0;
        if (ok) SDL_CloseAudioDevice(dev);
    }
    AudioDown();
    return ok;
}

class TSdlBuffer : public TSoundBuffer {
public:
    explicit TSdlBuffer(const DSBUFFERDESC& desc) : TSoundBuffer(desc) {}

    // Opens the output; false when it cannot be had.
    bool Open()
    {
        if (!AudioUp()) return false;
        std::lock_guard<std::mutex> g(gSdlLock);
        SDL_AudioSpec want = WantedSpec(Format(), Callback, this);
        // No allowed changes: SDL converts to whatever the driver takes.
        FDevice = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
        if (FDevice == 0) {
            SDL_QuitSubSystem(SDL_INIT_AUDIO);
            return false;
        }
        SDL_PauseAudioDevice(FDevice, 0);
        return true;
    }

protected:
    void Closing() override
    {
        if (FDevice == 0) return;
        {
            // Waits for a running callback; it takes only FLock.
            std::lock_guard<std::mutex> g(gSdlLock);
            SDL_CloseAudioDevice(FDevice);
            FDevice = 0;
        }
        AudioDown();
    }

private:
    static void Callback(void* user, Uint8* stream, int len)
    {
        static_cast<TSdlBuffer*>(user)->Pull(stream, (uint32_t)len, true);
    }

    SDL_AudioDeviceID FDevice = 0;
};

class TSdlDevice : public TSoundDevice {
protected:
    HRESULT MakeBuffer(const DSBUFFERDESC& desc, IDirectSoundBuffer** out) override
    {
        TSdlBuffer* b = new TSdlBuffer(desc);
        if (!b->Open()) {
            b->Release();
            return DSERR_ALLOCATED;
        }
        *out = b;
        return DS_OK;
    }
    void Closing() override { AudioDown(); }
};

HRESULT SdlCreateDevice(IDirectSound** out)
{
    if (!AudioUp()) return DSERR_NODRIVER;
    *out = new TSdlDevice();
    return DS_OK;
}

} // namespace dsound_detail
