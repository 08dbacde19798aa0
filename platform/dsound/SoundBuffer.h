// Inside the sound device: the buffer all three devices share (the loop the
// device plays from, the memory Lock hands out, the cursors) and the hooks
// each device fills in. Not for use outside platform/dsound.
#pragma once
#include "platform/dsound/DSound.h"
#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace dsound_detail {

// Checks a buffer description; DS_OK or the code to answer.
HRESULT CheckBufferDesc(const DSBUFFERDESC* desc);

// A looping buffer. Two copies of its bytes: FMemory is what Lock hands
// out (touched only by the writing thread between Lock and Unlock), FLoop
// what the device plays; Unlock copies the locked regions across. FLock
// guards FLoop and every change of the cursors and flags; the flags and
// cursor are atomics so they can be read without it.
class TSoundBuffer : public IDirectSoundBuffer {
public:
    TSoundBuffer(const DSBUFFERDESC& desc);

    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT GetCurrentPosition(DWORD* play, DWORD* write) override;
    HRESULT GetStatus(DWORD* status) override;
    HRESULT Lock(DWORD offset, DWORD bytes, LPVOID* ptr1, DWORD* len1, LPVOID* ptr2, DWORD* len2, DWORD flags) override;
    HRESULT Play(DWORD reserved1, DWORD priority, DWORD flags) override;
    HRESULT SetCurrentPosition(DWORD position) override;
    HRESULT Stop() override;
    HRESULT Unlock(LPVOID ptr1, DWORD len1, LPVOID ptr2, DWORD len2) override;
    HRESULT Restore() override;

    const DSBUFFERDESC& Desc() const { return FDesc; }
    const WAVEFORMATEX& Format() const { return FFormat; }
    DWORD Size() const { return FDesc.dwBufferBytes; }
    bool Playing() const { return FPlaying.load(); }
    bool Looping() const { return FLooping.load(); }
    bool Lost() const { return FLost.load(); }
    bool Locked() const { return FLocked.load(); }
    DWORD PlayCursor() const { return FPlay.load(); }

    // Marks the buffer lost and stops it.
    void Lose();
    // The device takes n bytes from the play cursor on (silence when
    // stopped), into out when it is not null, and mixes the Beep tone into
    // the bytes that came from the loop (into all n when idleTone); returns
    // the bytes that came from the loop.
    uint32_t Pull(uint8_t* out, uint32_t n, bool idleTone);
    // What the device plays from: the loop's bytes as the last Unlock left them.
    std::vector<uint8_t> Loop();
    // The silence byte of the format.
    uint8_t SilenceByte() const { return FFormat.wBitsPerSample == 8 ? 0x80 : 0x00; }

protected:
    ~TSoundBuffer() override;
    // Brings the cursor up to date (clock-driven devices); FLock is held.
    virtual void Sync() {}
    // Called with FLock held after playing starts or stops.
    virtual void PlayStateChanged() {}
    // Called once when the last reference goes, before deletion, FLock not
    // held: a device closes its output here.
    virtual void Closing() {}
    // Moves the cursor by n bytes with FLock held, copying into out when
    // not null; a non-looping buffer stops at its end (cursor 0).
    uint32_t AdvanceLocked(uint8_t* out, uint32_t n);

    std::mutex FLock;

private:
    DSBUFFERDESC FDesc;
    WAVEFORMATEX FFormat;
    std::vector<uint8_t> FMemory;
    std::vector<uint8_t> FLoop;
    std::atomic<ULONG> FRefs{1};
    std::atomic<DWORD> FPlay{0};
    std::atomic<bool> FPlaying{false};
    std::atomic<bool> FLooping{false};
    std::atomic<bool> FLost{false};
    std::atomic<bool> FLocked{false};
    // The outstanding lock (valid while FLocked).
    DWORD FLockOffset1 = 0, FLockLen1 = 0, FLockLen2 = 0;
};

// Mixes the pending Beep tone into n bytes of 8-bit mono at rate samples
// per second (nothing for other formats).
void MixTone(uint8_t* out, uint32_t n, const WAVEFORMATEX& format);

// The three devices' buffer and device makers.
HRESULT FakeCreateDevice(IDirectSound** out);
HRESULT NullCreateDevice(IDirectSound** out);
HRESULT SdlCreateDevice(IDirectSound** out);
// True when the real device can open an output now.
bool SdlProbe();

// A device whose buffers come from make(desc, out). It keeps the
// cooperative level and checks descriptions.
class TSoundDevice : public IDirectSound {
public:
    ULONG AddRef() override;
    ULONG Release() override;
    HRESULT SetCooperativeLevel(HWND hwnd, DWORD level) override;
    HRESULT CreateSoundBuffer(const DSBUFFERDESC* desc, IDirectSoundBuffer** out, void* outer) override;

protected:
    ~TSoundDevice() override {}
    // Makes a buffer for a checked description.
    virtual HRESULT MakeBuffer(const DSBUFFERDESC& desc, IDirectSoundBuffer** out) = 0;
    // Hooks for the fake: a result to answer instead, and notes.
    virtual HRESULT CooperativeResult(HWND hwnd, DWORD level) { return DS_OK; }
    virtual HRESULT CreateBufferResult() { return DS_OK; }
    virtual void Closing() {}

private:
    std::atomic<ULONG> FRefs{1};
    std::atomic<DWORD> FLevel{0};
};

} // namespace dsound_detail
