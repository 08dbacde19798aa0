// The sound buffer all devices share, the device choice and Beep. Owns the
// process's device choice, the Beep record and the pending Beep tone.
#include "platform/dsound/SoundBuffer.h"
#include "platform/win/Win.h"
#include <cstdlib>
#include <cstring>
#include <string>

namespace dsound_detail {

// --- Descriptions ---------------------------------------------------------

HRESULT CheckBufferDesc(const DSBUFFERDESC* desc)
{
    if (!desc || desc->dwSize != sizeof(DSBUFFERDESC) || desc->dwReserved != 0) return DSERR_INVALIDPARAM;
    if (desc->dwFlags & DSBCAPS_PRIMARYBUFFER) return DSERR_UNSUPPORTED;
    const WAVEFORMATEX* f = desc->lpwfxFormat;
    if (!f) return DSERR_INVALIDPARAM;
    if (f->wFormatTag != WAVE_FORMAT_PCM || f->cbSize != 0) return DSERR_BADFORMAT;
    if (f->nChannels != 1 && f->nChannels != 2) return DSERR_BADFORMAT;
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return DSERR_BADFORMAT;
    if (f->nSamplesPerSec < 1000 || f->nSamplesPerSec > 96000) return DSERR_BADFORMAT;
    if (f->nBlockAlign != f->nChannels * (f->wBitsPerSample / 8)) return DSERR_BADFORMAT;
    if (f->nAvgBytesPerSec != f->nSamplesPerSec * f->nBlockAlign) return DSERR_BADFORMAT;
    if (desc->dwBufferBytes < 4 || desc->dwBufferBytes > 0x0FFFFFFF) return DSERR_INVALIDPARAM;
    if (desc->dwBufferBytes % f->nBlockAlign != 0) return DSERR_INVALIDPARAM;
    return DS_OK;
}

// --- Buffer ---------------------------------------------------------------

TSoundBuffer::TSoundBuffer(const DSBUFFERDESC& desc) : FDesc(desc), FFormat(*desc.lpwfxFormat)
{
    FDesc.lpwfxFormat = &FFormat;
    FMemory.assign(FDesc.dwBufferBytes, SilenceByte());
    FLoop.assign(FDesc.dwBufferBytes, SilenceByte());
}

TSoundBuffer::~TSoundBuffer() {}

ULONG TSoundBuffer::AddRef() { return ++FRefs; }

ULONG TSoundBuffer::Release()
{
    ULONG left = --FRefs;
    if (left == 0) {
        Closing();
        delete this;
    }
    return left;
}

HRESULT TSoundBuffer::GetCurrentPosition(DWORD* play, DWORD* write)
{
    {
        std::lock_guard<std::mutex> g(FLock);
        Sync();
    }
    DWORD p = FPlay.load();
    if (play) *play = p;
    if (write) *write = p;
    return DS_OK;
}

HRESULT TSoundBuffer::GetStatus(DWORD* status)
{
    if (!status) return DSERR_INVALIDPARAM;
    {
        std::lock_guard<std::mutex> g(FLock);
        Sync();
    }
    DWORD s = 0;
    if (FPlaying.load()) s |= DSBSTATUS_PLAYING | (FLooping.load() ? DSBSTATUS_LOOPING : 0);
    if (FLost.load()) s |= DSBSTATUS_BUFFERLOST;
    *status = s;
    return DS_OK;
}

HRESULT TSoundBuffer::Lock(DWORD offset, DWORD bytes, LPVOID* ptr1, DWORD* len1, LPVOID* ptr2, DWORD* len2, DWORD flags)
{
    if (!ptr1 || !len1 || (ptr2 && !len2)) return DSERR_INVALIDPARAM;
    const DWORD size = Size();
    std::lock_guard<std::mutex> g(FLock);
    Sync();
    if (flags & DSBLOCK_FROMWRITECURSOR) offset = FPlay.load();
    if (flags & DSBLOCK_ENTIREBUFFER) bytes = size;
    if (offset >= size || bytes == 0 || bytes > size) return DSERR_INVALIDPARAM;
    if (FLost.load()) return DSERR_BUFFERLOST;
    if (FLocked.load()) return DSERR_INVALIDCALL;
    DWORD first = size - offset < bytes ? size - offset : bytes;
    DWORD second = ptr2 ? bytes - first : 0;
    *ptr1 = FMemory.data() + offset;
    *len1 = first;
    if (ptr2) {
        *ptr2 = second ? FMemory.data() : nullptr;
        *len2 = second;
    }
    FLockOffset1 = offset;
    FLockLen1 = first;
    FLockLen2 = second;
    FLocked.store(true);
    return DS_OK;
}

HRESULT TSoundBuffer::Unlock(LPVOID ptr1, DWORD len1, LPVOID ptr2, DWORD len2)
{
    std::lock_guard<std::mutex> g(FLock);
    if (!FLocked.load()) return DSERR_INVALIDCALL;
    if (ptr1 != FMemory.data() + FLockOffset1 || len1 > FLockLen1) return DSERR_INVALIDPARAM;
    if (FLockLen2 ? (ptr2 != FMemory.data() || len2 > FLockLen2) : (ptr2 != nullptr || len2 != 0))
        return DSERR_INVALIDPARAM;
    std::memcpy(FLoop.data() + FLockOffset1, FMemory.data() + FLockOffset1, FLockLen1);
    if (FLockLen2) std::memcpy(FLoop.data(), FMemory.data(), FLockLen2);
    FLocked.store(false);
    return DS_OK;
}

HRESULT TSoundBuffer::Play(DWORD reserved1, DWORD priority, DWORD flags)
{
    if (reserved1 != 0 || priority != 0) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> g(FLock);
    Sync();
    if (FLost.load()) return DSERR_BUFFERLOST;
    bool was = FPlaying.load();
    FLooping.store((flags & DSBPLAY_LOOPING) != 0);
    FPlaying.store(true);
    if (!was) PlayStateChanged();
    return DS_OK;
}

HRESULT TSoundBuffer::SetCurrentPosition(DWORD position)
{
    if (position >= Size()) return DSERR_INVALIDPARAM;
    std::lock_guard<std::mutex> g(FLock);
    Sync();
    FPlay.store(position);
    if (FPlaying.load()) PlayStateChanged();
    return DS_OK;
}

HRESULT TSoundBuffer::Stop()
{
    std::lock_guard<std::mutex> g(FLock);
    Sync();
    bool was = FPlaying.load();
    FPlaying.store(false);
    if (was) PlayStateChanged();
    return DS_OK;
}

HRESULT TSoundBuffer::Restore()
{
    std::lock_guard<std::mutex> g(FLock);
    FLost.store(false);
    return DS_OK;
}

void TSoundBuffer::Lose()
{
    std::lock_guard<std::mutex> g(FLock);
    Sync();
    bool was = FPlaying.load();
    FLost.store(true);
    FPlaying.store(false);
    if (was) PlayStateChanged();
}

uint32_t TSoundBuffer::AdvanceLocked(uint8_t* out, uint32_t n)
{
    const DWORD size = Size();
    uint32_t done = 0;
    while (done < n && FPlaying.load()) {
        DWORD pos = FPlay.load();
        DWORD run = size - pos;
        if (run > n - done) run = n - done;
        if (out) std::memcpy(out + done, FLoop.data() + pos, run);
        done += run;
        pos += run;
        if (pos == size) {
            pos = 0;
            if (!FLooping.load()) {
                FPlaying.store(false);
                PlayStateChanged();
            }
        }
        FPlay.store(pos);
        // Without a copy a long jump only needs the remainder of the loop.
        if (!out && FLooping.load() && n - done >= size) done += ((n - done) / size) * size;
    }
    return done;
}

uint32_t TSoundBuffer::Pull(uint8_t* out, uint32_t n, bool idleTone)
{
    uint32_t got;
    {
        std::lock_guard<std::mutex> g(FLock);
        got = AdvanceLocked(out, n);
    }
    if (out) {
        if (got < n) std::memset(out + got, SilenceByte(), n - got);
        MixTone(out, idleTone ? n : got, FFormat);
    }
    return got;
}

std::vector<uint8_t> TSoundBuffer::Loop()
{
    std::lock_guard<std::mutex> g(FLock);
    return FLoop;
}

// --- Device ---------------------------------------------------------------

ULONG TSoundDevice::AddRef() { return ++FRefs; }

ULONG TSoundDevice::Release()
{
    ULONG left = --FRefs;
    if (left == 0) {
        Closing();
        delete this;
    }
    return left;
}

HRESULT TSoundDevice::SetCooperativeLevel(HWND hwnd, DWORD level)
{
    if (!hwnd || level < DSSCL_NORMAL || level > DSSCL_WRITEPRIMARY) return DSERR_INVALIDPARAM;
    HRESULT hr = CooperativeResult(hwnd, level);
    if (FAILED(hr)) return hr;
    FLevel.store(level);
    return DS_OK;
}

HRESULT TSoundDevice::CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** out, void* outer)
{
    if (!out) return DSERR_INVALIDPARAM;
    *out = nullptr;
    if (outer) return DSERR_INVALIDPARAM; // no aggregation
    HRESULT hr = CheckBufferDesc(desc);
    if (FAILED(hr)) return hr;
    if (FLevel.load() == 0) return DSERR_PRIOLEVELNEEDED;
    hr = CreateBufferResult();
    if (FAILED(hr)) return hr;
    return MakeBuffer(*desc, out);
}

// --- Beep tone --------------------------------------------------------------

static std::mutex gToneLock;
static uint32_t gToneFreq = 0;
static uint32_t gToneMs = 0;      // duration not yet turned into samples
static uint64_t gToneSamples = 0; // samples still to sound
static uint64_t gTonePhase = 0;   // samples sounded so far

static void ArmTone(uint32_t freq, uint32_t ms)
{
    std::lock_guard<std::mutex> g(gToneLock);
    gToneFreq = freq;
    gToneMs = ms;
    gToneSamples = 0;
    gTonePhase = 0;
}

void MixTone(uint8_t* out, uint32_t n, const WAVEFORMATEX& format)
{
    if (format.wBitsPerSample != 8 || format.nChannels != 1) return;
    std::lock_guard<std::mutex> g(gToneLock);
    if (gToneMs) {
        gToneSamples = (uint64_t)gToneMs * format.nSamplesPerSec / 1000;
        gToneMs = 0;
    }
    const uint64_t rate = format.nSamplesPerSec;
    for (uint32_t i = 0; i < n && gToneSamples; i++, gToneSamples--, gTonePhase++) {
        // Square wave: high for the first half of each period.
        bool high = (gTonePhase * gToneFreq * 2 / rate) % 2 == 0;
        int v = out[i] + (high ? 48 : -48);
        out[i] = (uint8_t)(v < 0 ? 0 : v > 255 ? 255 : v);
    }
}

} // namespace dsound_detail

using namespace dsound_detail;

// --- Device choice ----------------------------------------------------------

static std::mutex gChoiceLock;
static std::atomic<int> gKind{SOUND_DEVICE_AUTO};

static TSoundDeviceKind ChooseDevice()
{
    const char* env = std::getenv("TAVLIN_SOUND");
    std::string want = env ? env : "";
    if (want == "fake") return SOUND_DEVICE_FAKE;
    if (want == "null") return SOUND_DEVICE_NULL;
    if (want == "sdl") return SOUND_DEVICE_SDL;
    return SdlProbe() ? SOUND_DEVICE_SDL : SOUND_DEVICE_NULL;
}

TSoundDeviceKind DSound_DeviceKind()
{
    int kind = gKind.load();
    if (kind != SOUND_DEVICE_AUTO) return (TSoundDeviceKind)kind;
    std::lock_guard<std::mutex> g(gChoiceLock);
    kind = gKind.load();
    if (kind == SOUND_DEVICE_AUTO) {
        kind = ChooseDevice();
        gKind.store(kind);
    }
    return (TSoundDeviceKind)kind;
}

void DSound_ForceDevice(TSoundDeviceKind kind)
{
    std::lock_guard<std::mutex> g(gChoiceLock);
    gKind.store(kind);
}

HRESULT DirectSoundCreate(const void* pcGuidDevice, IDirectSound** ppDS, void* pUnkOuter)
{
    if (!ppDS) return DSERR_INVALIDPARAM;
    *ppDS = nullptr;
    if (pUnkOuter) return DSERR_INVALIDPARAM;
    if (pcGuidDevice) return DSERR_NODRIVER;
    switch (DSound_DeviceKind()) {
    case SOUND_DEVICE_FAKE: return FakeCreateDevice(ppDS);
    case SOUND_DEVICE_SDL: return SdlCreateDevice(ppDS);
    default: return NullCreateDevice(ppDS);
    }
}

// --- Beep -------------------------------------------------------------------

static std::mutex gBeepLock;
static std::vector<TBeepCall> gBeeps;

bool Beep(uint32_t freq, uint32_t ms)
{
    {
        std::lock_guard<std::mutex> g(gBeepLock);
        gBeeps.push_back({freq, ms});
    }
    if (freq < 37 || freq > 32767) return false;
    ArmTone(freq, ms);
    if (DSound_DeviceKind() != SOUND_DEVICE_FAKE) Sleep(ms);
    return true;
}

std::vector<TBeepCall> DSound_Beeps()
{
    std::lock_guard<std::mutex> g(gBeepLock);
    return gBeeps;
}

void DSound_ClearBeeps()
{
    std::lock_guard<std::mutex> g(gBeepLock);
    gBeeps.clear();
}
