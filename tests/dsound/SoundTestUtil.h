// Helpers shared by the sound device tests: the viewer's buffer format and
// a device with one buffer made the way the audio code makes it.
#pragma once
#include "platform/dsound/DSound.h"
#include <gtest/gtest.h>
#include <cstring>
#include <vector>

constexpr DWORD kLoopBytes = 16384;

inline WAVEFORMATEX ViewerFormat()
{
    // PCM, mono, 8000 Hz, 8 bits, block align 1, 8000 bytes per second.
    return WAVEFORMATEX{WAVE_FORMAT_PCM, 1, 8000, 8000, 1, 8, 0};
}

inline DSBUFFERDESC ViewerDesc(WAVEFORMATEX* format)
{
    return DSBUFFERDESC{sizeof(DSBUFFERDESC), 0, kLoopBytes, 0, format};
}

// Any non-null window handle will do: handles are opaque.
inline HWND SomeWindow() { return reinterpret_cast<HWND>(static_cast<intptr_t>(0x1234)); }

struct TSoundPair {
    IDirectSound* device = nullptr;
    IDirectSoundBuffer* buffer = nullptr;
    WAVEFORMATEX format = ViewerFormat();

    HRESULT Open()
    {
        HRESULT hr = DirectSoundCreate(nullptr, &device, nullptr);
        if (FAILED(hr)) return hr;
        hr = device->SetCooperativeLevel(SomeWindow(), DSSCL_NORMAL);
        if (FAILED(hr)) return hr;
        DSBUFFERDESC desc = ViewerDesc(&format);
        return device->CreateSoundBuffer(&desc, &buffer, nullptr);
    }
    void Close()
    {
        if (buffer) buffer->Release();
        if (device) device->Release();
        buffer = nullptr;
        device = nullptr;
    }
    ~TSoundPair() { Close(); }
};

// Writes bytes into the buffer from offset through one Lock/Unlock.
inline void WriteAt(IDirectSoundBuffer* b, DWORD offset, const std::vector<uint8_t>& bytes)
{
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    ASSERT_EQ(DS_OK, b->Lock(offset, (DWORD)bytes.size(), &p1, &n1, &p2, &n2, 0));
    ASSERT_EQ(bytes.size(), (size_t)n1 + n2);
    memcpy(p1, bytes.data(), n1);
    if (n2) memcpy(p2, bytes.data() + n1, n2);
    ASSERT_EQ(DS_OK, b->Unlock(p1, n1, p2, n2));
}

// A 1000 Hz square wave at 8000 Hz: four samples high, four low.
inline std::vector<uint8_t> SquareWave1000(size_t n)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = (i % 8) < 4 ? 200 : 56;
    return v;
}
