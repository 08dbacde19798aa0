// The sound device the viewer plays through: a DirectSound-shaped device and
// its looping secondary buffers, plus Beep. One of three devices stands
// behind it, chosen once per process: a test fake, a clock-driven null
// device and real output through the host's audio system.
#pragma once
#include <cstdint>
#include <vector>

// Windows base types, the same definitions the COM layer uses.
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef LONG HRESULT;
typedef void* HWND;
typedef void* LPVOID;
#ifndef SUCCEEDED
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#endif
#ifndef FAILED
#define FAILED(hr) (((HRESULT)(hr)) < 0)
#endif

// --- Result codes ---------------------------------------------------------

constexpr HRESULT DS_OK = 0;
constexpr HRESULT DSERR_GENERIC = static_cast<HRESULT>(0x80004005u);         // E_FAIL
constexpr HRESULT DSERR_UNSUPPORTED = static_cast<HRESULT>(0x80004001u);     // E_NOTIMPL
constexpr HRESULT DSERR_OUTOFMEMORY = static_cast<HRESULT>(0x8007000Eu);     // E_OUTOFMEMORY
constexpr HRESULT DSERR_INVALIDPARAM = static_cast<HRESULT>(0x80070057u);    // E_INVALIDARG
constexpr HRESULT DSERR_ALLOCATED = static_cast<HRESULT>(0x8878000Au);       // device in use
constexpr HRESULT DSERR_INVALIDCALL = static_cast<HRESULT>(0x88780032u);     // wrong state
constexpr HRESULT DSERR_PRIOLEVELNEEDED = static_cast<HRESULT>(0x88780046u); // no cooperative level
constexpr HRESULT DSERR_BADFORMAT = static_cast<HRESULT>(0x88780064u);
constexpr HRESULT DSERR_NODRIVER = static_cast<HRESULT>(0x88780078u);
constexpr HRESULT DSERR_BUFFERLOST = static_cast<HRESULT>(0x88780096u);

// --- Formats and flags ----------------------------------------------------

constexpr WORD WAVE_FORMAT_PCM = 1;

// The sample format of a buffer. Accepted: PCM, 1 or 2 channels, 8 or 16
// bits, 1,000 to 96,000 samples per second, nBlockAlign = channels x bytes
// per sample and nAvgBytesPerSec = rate x nBlockAlign.
struct WAVEFORMATEX {
    WORD wFormatTag;       // WAVE_FORMAT_PCM
    WORD nChannels;        // 1 = mono
    DWORD nSamplesPerSec;  // 8000
    DWORD nAvgBytesPerSec; // nSamplesPerSec x nBlockAlign
    WORD nBlockAlign;      // bytes per sample frame
    WORD wBitsPerSample;   // 8 (unsigned, silence 0x80) or 16 (signed)
    WORD cbSize;           // extra bytes after the record: 0
};

// A buffer to create. dwSize must be sizeof(DSBUFFERDESC); dwBufferBytes
// 4 to 0x0FFFFFFF and a whole number of sample frames.
struct DSBUFFERDESC {
    DWORD dwSize;
    DWORD dwFlags; // DSBCAPS_*; control flags are accepted and ignored
    DWORD dwBufferBytes;
    DWORD dwReserved; // 0
    WAVEFORMATEX* lpwfxFormat;
};

// Cooperative levels (SetCooperativeLevel).
constexpr DWORD DSSCL_NORMAL = 1;
constexpr DWORD DSSCL_PRIORITY = 2;
constexpr DWORD DSSCL_EXCLUSIVE = 3;
constexpr DWORD DSSCL_WRITEPRIMARY = 4;

// Buffer description flags. Primary buffers are not offered here.
constexpr DWORD DSBCAPS_PRIMARYBUFFER = 0x00000001;
constexpr DWORD DSBCAPS_CTRLVOLUME = 0x00000080;
constexpr DWORD DSBCAPS_GETCURRENTPOSITION2 = 0x00010000;
constexpr DWORD DSBCAPS_GLOBALFOCUS = 0x00008000;

// Play flags.
constexpr DWORD DSBPLAY_LOOPING = 0x00000001;

// Lock flags: start at the write cursor (offset ignored); lock the whole
// buffer from the offset (byte count ignored).
constexpr DWORD DSBLOCK_FROMWRITECURSOR = 0x00000001;
constexpr DWORD DSBLOCK_ENTIREBUFFER = 0x00000002;

// GetStatus bits.
constexpr DWORD DSBSTATUS_PLAYING = 0x00000001;
constexpr DWORD DSBSTATUS_BUFFERLOST = 0x00000002;
constexpr DWORD DSBSTATUS_LOOPING = 0x00000004;

// --- Interfaces -----------------------------------------------------------

// A secondary buffer: a loop of dwBufferBytes that the device plays from
// the play cursor on. Writing goes through Lock/Unlock: Lock hands out one
// or two regions (two when the range wraps past the end), and what is
// written there reaches the device at Unlock. One lock may be outstanding
// at a time. Every method may be called from any thread; the device's own
// thread never waits for the caller beyond the copy inside Unlock.
class IDirectSoundBuffer {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    // Play and write cursors, byte offsets in the loop; either may be null.
    // The write cursor is where writing is safe from; here it equals the
    // play cursor (bytes behind it have already gone to the device).
    virtual HRESULT GetCurrentPosition(DWORD* pdwCurrentPlayCursor, DWORD* pdwCurrentWriteCursor) = 0;
    virtual HRESULT GetStatus(DWORD* pdwStatus) = 0;
    // Locks dwBytes from dwOffset. ptr1/len1 get the part up to the end of
    // the loop, ptr2/len2 the part from its start (null/0 when it does not
    // wrap, or when ppvAudioPtr2 is null: then only the first part is
    // locked). DSERR_BUFFERLOST while the buffer is lost.
    virtual HRESULT Lock(DWORD dwOffset, DWORD dwBytes, LPVOID* ppvAudioPtr1, DWORD* pdwAudioBytes1,
                         LPVOID* ppvAudioPtr2, DWORD* pdwAudioBytes2, DWORD dwFlags) = 0;
    // dwReserved1 and dwPriority must be 0. DSERR_BUFFERLOST while lost.
    virtual HRESULT Play(DWORD dwReserved1, DWORD dwPriority, DWORD dwFlags) = 0;
    virtual HRESULT SetCurrentPosition(DWORD dwNewPosition) = 0;
    // Stops; the play cursor stays where it is.
    virtual HRESULT Stop() = 0;
    // Ends the outstanding lock. The pointers must be the ones Lock gave,
    // the lengths at most the locked ones; the whole locked regions are
    // committed (the pointers are the buffer's memory).
    virtual HRESULT Unlock(LPVOID pvAudioPtr1, DWORD dwAudioBytes1, LPVOID pvAudioPtr2, DWORD dwAudioBytes2) = 0;
    // Gives a lost buffer back its memory; it is stopped and must be
    // refilled and played again. DS_OK also when it was not lost.
    virtual HRESULT Restore() = 0;

protected:
    virtual ~IDirectSoundBuffer() {}
};

// The device. Buffers outlive it: releasing the device first leaves its
// buffers working until they are released.
class IDirectSound {
public:
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;
    // A window handle (opaque, not null) and a DSSCL_* level; required
    // before CreateSoundBuffer (else DSERR_PRIOLEVELNEEDED).
    virtual HRESULT SetCooperativeLevel(HWND hwnd, DWORD dwLevel) = 0;
    // pUnkOuter must be null. The new buffer is stopped, cursor 0, silent.
    virtual HRESULT CreateSoundBuffer(const DSBUFFERDESC* pcDSBufferDesc, IDirectSoundBuffer** ppDSBuffer,
                                      void* pUnkOuter) = 0;

protected:
    virtual ~IDirectSound() {}
};

// Opens the default device (pcGuidDevice null; any other device GUID gives
// DSERR_NODRIVER). DSERR_NODRIVER when the chosen device cannot be had.
HRESULT DirectSoundCreate(const void* pcGuidDevice, IDirectSound** ppDS, void* pUnkOuter);

// Sounds a tone of freq Hz (37 to 32,767) for ms milliseconds and returns
// when it is over: mixed into what the device plays of 8-bit mono buffers
// (on the real device also while no buffer plays), recorded for tests.
// false for a frequency out of range. On the test fake it returns at once.
bool Beep(uint32_t freq, uint32_t ms);

// --- Device choice --------------------------------------------------------

enum TSoundDeviceKind {
    SOUND_DEVICE_AUTO = 0, // not chosen yet / choose again
    SOUND_DEVICE_FAKE = 1, // the test fake below
    SOUND_DEVICE_NULL = 2, // cursor runs on GetTickCount(), nothing is heard
    SOUND_DEVICE_SDL = 3,  // the host's audio system
};

// The device of this process. Chosen on first use from the environment
// variable TAVLIN_SOUND ("fake", "null" or "sdl"); otherwise the real
// device when an audio output can be opened, else the null device. The
// real device's own environment variables (SDL_AUDIODRIVER, ...) pick its
// driver.
TSoundDeviceKind DSound_DeviceKind();
// Test seam: uses this device for objects created from now on;
// SOUND_DEVICE_AUTO makes the next use choose again.
void DSound_ForceDevice(TSoundDeviceKind kind);

// --- Beep record ----------------------------------------------------------

struct TBeepCall {
    uint32_t freq;
    uint32_t ms;
};
std::vector<TBeepCall> DSound_Beeps();
void DSound_ClearBeeps();

// --- Test fake --------------------------------------------------------------

// The creation steps the fake can be made to fail.
enum TFakeSoundStep {
    FAKE_SOUND_CREATE = 0,        // DirectSoundCreate
    FAKE_SOUND_COOPERATIVE = 1,   // SetCooperativeLevel
    FAKE_SOUND_CREATE_BUFFER = 2, // CreateSoundBuffer
    FAKE_SOUND_STEPS = 3,
};

// What the fake has seen; "the buffer" is the newest live fake buffer.
struct TFakeSoundState {
    int devices;            // live IDirectSound objects
    int buffers;            // live IDirectSoundBuffer objects
    HWND cooperativeWindow; // last SetCooperativeLevel
    DWORD cooperativeLevel;
    bool hasBuffer;
    DSBUFFERDESC desc; // of the buffer; lpwfxFormat null, see format
    WAVEFORMATEX format;
    bool playing, looping, lost, locked;
    DWORD playCursor;
};

// Clears failures, the played record and the counters of calls; live
// objects stay.
void FakeSound_Reset();
// From now on the step answers hr (DS_OK = succeed again).
void FakeSound_SetFailure(TFakeSoundStep step, HRESULT hr);
// Marks the buffer lost: Lock and Play answer DSERR_BUFFERLOST and it
// stops, until Restore. false when there is no buffer.
bool FakeSound_LoseBuffer();
// Moves the buffer's play cursor by bytes when it plays, recording the
// bytes passed over (with the Beep tone mixed in). Returns bytes moved.
uint32_t FakeSound_Advance(uint32_t bytes);
// Everything played so far, in order.
std::vector<uint8_t> FakeSound_Played();
void FakeSound_ClearPlayed();
// The bytes the buffer's loop holds now (what Advance would play from);
// empty when there is no buffer.
std::vector<uint8_t> FakeSound_Loop();
TFakeSoundState FakeSound_State();
