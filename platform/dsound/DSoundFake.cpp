// The test fake: a device whose play cursor the test moves by hand. Owns
// the list of live fake buffers, the record of played bytes, the failures
// asked for and the counters of live objects, all under gFakeLock.
#include "platform/dsound/SoundBuffer.h"

namespace dsound_detail {

static std::mutex gFakeLock;
class TFakeBuffer;
static std::vector<TFakeBuffer*> gFakeBuffers; // newest last
static std::vector<uint8_t> gPlayed;
static HRESULT gFailures[FAKE_SOUND_STEPS] = {DS_OK, DS_OK, DS_OK};
static int gFakeDevices = 0;
static HWND gCoopWindow = nullptr;
static DWORD gCoopLevel = 0;

class TFakeBuffer : public TSoundBuffer {
public:
    explicit TFakeBuffer(const DSBUFFERDESC& desc) : TSoundBuffer(desc)
    {
        std::lock_guard<std::mutex> g(gFakeLock);
        gFakeBuffers.push_back(this);
    }

protected:
    void Closing() override
    {
        std::lock_guard<std::mutex> g(gFakeLock);
        for (size_t i = 0; i < gFakeBuffers.size(); i++)
            if (gFakeBuffers[i] == this) {
                gFakeBuffers.erase(gFakeBuffers.begin() + i);
                break;
            }
    }
};

class TFakeDevice : public TSoundDevice {
public:
    TFakeDevice()
    {
        std::lock_guard<std::mutex> g(gFakeLock);
        gFakeDevices++;
    }

protected:
    HRESULT MakeBuffer(const DSBUFFERDESC& desc, IDirectSoundBuffer** out) override
    {
        *out = new TFakeBuffer(desc);
        return DS_OK;
    }
    HRESULT CooperativeResult(HWND hwnd, DWORD level) override
    {
        std::lock_guard<std::mutex> g(gFakeLock);
        gCoopWindow = hwnd;
        gCoopLevel = level;
        return gFailures[FAKE_SOUND_COOPERATIVE];
    }
    HRESULT CreateBufferResult() override
    {
        std::lock_guard<std::mutex> g(gFakeLock);
        return gFailures[FAKE_SOUND_CREATE_BUFFER];
    }
    void Closing() override
    {
        std::lock_guard<std::mutex> g(gFakeLock);
        gFakeDevices--;
    }
};

HRESULT FakeCreateDevice(IDirectSound** out)
{
    {
        std::lock_guard<std::mutex> g(gFakeLock);
        if (FAILED(gFailures[FAKE_SOUND_CREATE])) return gFailures[FAKE_SOUND_CREATE];
    }
    *out = new TFakeDevice();
    return DS_OK;
}

static TFakeBuffer* NewestBuffer() { return gFakeBuffers.empty() ? nullptr : gFakeBuffers.back(); }

} // namespace dsound_detail

using namespace dsound_detail;

void FakeSound_Reset()
{
    std::lock_guard<std::mutex> g(gFakeLock);
    for (HRESULT& hr : gFailures) hr = DS_OK;
    gPlayed.clear();
    gCoopWindow = nullptr;
    gCoopLevel = 0;
}

void FakeSound_SetFailure(TFakeSoundStep step, HRESULT hr)
{
    if (step < 0 || step >= FAKE_SOUND_STEPS) return;
    std::lock_guard<std::mutex> g(gFakeLock);
    gFailures[step] = hr;
}

bool FakeSound_LoseBuffer()
{
    std::lock_guard<std::mutex> g(gFakeLock);
    TFakeBuffer* b = NewestBuffer();
    if (!b) return false;
    b->Lose();
    return true;
}

uint32_t FakeSound_Advance(uint32_t bytes)
{
    std::lock_guard<std::mutex> g(gFakeLock);
    TFakeBuffer* b = NewestBuffer();
    if (!b || bytes == 0) return 0;
    std::vector<uint8_t> out(bytes);
    uint32_t got = b->Pull(out.data(), bytes, false);
    gPlayed.insert(gPlayed.end(), out.begin(), out.begin() + got);
    return got;
}

std::vector<uint8_t> FakeSound_Played()
{
    std::lock_guard<std::mutex> g(gFakeLock);
    return gPlayed;
}

void FakeSound_ClearPlayed()
{
    std::lock_guard<std::mutex> g(gFakeLock);
    gPlayed.clear();
}

std::vector<uint8_t> FakeSound_Loop()
{
    std::lock_guard<std::mutex> g(gFakeLock);
    TFakeBuffer* b = NewestBuffer();
    return b ? b->Loop() : std::vector<uint8_t>();
}

TFakeSoundState FakeSound_State()
{
    std::lock_guard<std::mutex> g(gFakeLock);
    TFakeSoundState s{};
    s.devices = gFakeDevices;
    s.buffers = (int)gFakeBuffers.size();
    s.cooperativeWindow = gCoopWindow;
    s.cooperativeLevel = gCoopLevel;
    TFakeBuffer* b = NewestBuffer();
    s.hasBuffer = b != nullptr;
    if (b) {
        s.format = b->Format();
        s.desc = b->Desc();
        s.desc.lpwfxFormat = nullptr;
        s.playing = b->Playing();
        s.looping = b->Looping();
        s.lost = b->Lost();
        s.locked = b->Locked();
        s.playCursor = b->PlayCursor();
    }
    return s;
}
