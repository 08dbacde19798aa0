// The null device: buffers play silently, their play cursor running at the
// format's byte rate on the process clock (GetTickCount). Each buffer owns
// its clock base; nothing is shared between buffers.
#include "platform/dsound/SoundBuffer.h"
#include "platform/win/Win.h"

namespace dsound_detail {

class TNullBuffer : public TSoundBuffer {
public:
    explicit TNullBuffer(const DSBUFFERDESC& desc) : TSoundBuffer(desc) {}

protected:
    // Bytes due since the base tick, less what was already moved, move
    // the cursor now. Whole seconds are folded into the base so the
    // products stay small and no fraction of a byte is lost.
    void Sync() override
    {
        if (!Playing()) return;
        const uint64_t rate = Format().nAvgBytesPerSec;
        uint32_t elapsed = GetTickCount() - FBaseTick;
        uint64_t due = (uint64_t)elapsed * rate / 1000;
        if (due > FMoved) {
            uint64_t step = due - FMoved;
            FMoved = due;
            while (step && Playing()) {
                uint32_t part = step > 0x40000000u ? 0x40000000u : (uint32_t)step;
                AdvanceLocked(nullptr, part);
                step -= part;
            }
        }
        if (Playing() && elapsed >= 1000) {
            uint32_t seconds = elapsed / 1000;
            FBaseTick += seconds * 1000;
            FMoved -= (uint64_t)seconds * rate;
        }
    }
    void PlayStateChanged() override
    {
        FBaseTick = GetTickCount();
        FMoved = 0;
    }

private:
    uint32_t FBaseTick = 0; // tick at which FMoved was 0
    uint64_t FMoved = 0;    // bytes moved since FBaseTick
};

class TNullDevice : public TSoundDevice {
protected:
    HRESULT MakeBuffer(const DSBUFFERDESC& desc, IDirectSoundBuffer** out) override
    {
        *out = new TNullBuffer(desc);
        return DS_OK;
    }
};

HRESULT NullCreateDevice(IDirectSound** out)
{
    *out = new TNullDevice();
    return DS_OK;
}

} // namespace dsound_detail
