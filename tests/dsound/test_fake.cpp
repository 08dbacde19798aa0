// The test fake: lock regions, the played record, a lost buffer, creation
// failures and the checks on what is asked for.
#include "SoundTestUtil.h"
#include <atomic>
#include <thread>

namespace {

class FakeSound : public ::testing::Test {
protected:
    void SetUp() override
    {
        DSound_ForceDevice(SOUND_DEVICE_FAKE);
        FakeSound_Reset();
        DSound_ClearBeeps();
    }
    void TearDown() override { FakeSound_Reset(); }
};

std::vector<uint8_t> Pattern(size_t n, unsigned seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = (uint8_t)(i * 7 + seed + (i >> 8));
    return v;
}

TEST_F(FakeSound, OpensTheViewerBufferStoppedAndSilent)
{
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    TFakeSoundState st = FakeSound_State();
    EXPECT_EQ(1, st.devices);
    EXPECT_EQ(1, st.buffers);
    EXPECT_EQ(SomeWindow(), st.cooperativeWindow);
    EXPECT_EQ(DSSCL_NORMAL, st.cooperativeLevel);
    EXPECT_EQ(kLoopBytes, st.desc.dwBufferBytes);
    EXPECT_EQ(8000u, st.format.nSamplesPerSec);
    EXPECT_FALSE(st.playing);
    EXPECT_EQ(0u, st.playCursor);

    void *p1, *p2;
    DWORD n1, n2;
    ASSERT_EQ(DS_OK, s.buffer->Lock(0, 0, &p1, &n1, &p2, &n2, DSBLOCK_ENTIREBUFFER));
    ASSERT_EQ(kLoopBytes, n1);
    std::vector<uint8_t> content((uint8_t*)p1, (uint8_t*)p1 + n1);
    EXPECT_EQ(std::vector<uint8_t>(kLoopBytes, 0x80), content);
    EXPECT_EQ(DS_OK, s.buffer->Unlock(p1, n1, p2, n2));

    s.Close();
    st = FakeSound_State();
    EXPECT_EQ(0, st.devices);
    EXPECT_EQ(0, st.buffers);
}

TEST_F(FakeSound, LockGivesOneOrTwoRegions)
{
    struct Case {
        DWORD offset, bytes, flags;
        bool wantSecond; // ptr2 passed
        DWORD cursor;    // play cursor before the lock
        DWORD off1, len1, len2;
    } cases[] = {
        {0, 512, 0, true, 0, 0, 512, 0},
        {15872, 512, 0, true, 0, 15872, 512, 0},    // last block, ends at the end
        {16000, 1000, 0, true, 0, 16000, 384, 616}, // wraps
        {16383, 2, 0, true, 0, 16383, 1, 1},
        {100, 16384, 0, true, 0, 100, 16284, 100}, // whole loop from 100
        {16000, 1000, 0, false, 0, 16000, 384, 0}, // no second pointer: first part only
        {0, 0, DSBLOCK_ENTIREBUFFER, true, 0, 0, 16384, 0},
        {5, 512, DSBLOCK_FROMWRITECURSOR, true, 16200, 16200, 184, 328},
    };
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    void *base, *unused;
    DWORD n, m;
    ASSERT_EQ(DS_OK, s.buffer->Lock(0, 1, &base, &n, &unused, &m, 0));
    ASSERT_EQ(DS_OK, s.buffer->Unlock(base, n, nullptr, 0));
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "offset " << c.offset << " bytes " << c.bytes);
        ASSERT_EQ(DS_OK, s.buffer->SetCurrentPosition(c.cursor));
        void *p1 = nullptr, *p2 = (void*)1;
        DWORD n1 = 0, n2 = 99;
        ASSERT_EQ(DS_OK, s.buffer->Lock(c.offset, c.bytes, &p1, &n1, c.wantSecond ? &p2 : nullptr,
                                        c.wantSecond ? &n2 : nullptr, c.flags));
        EXPECT_EQ((uint8_t*)base + c.off1, p1);
        EXPECT_EQ(c.len1, n1);
        if (c.wantSecond) {
            EXPECT_EQ(c.len2, n2);
            EXPECT_EQ(c.len2 ? base : nullptr, p2);
        }
        EXPECT_EQ(DS_OK, s.buffer->Unlock(p1, n1, c.wantSecond ? p2 : nullptr, c.wantSecond ? n2 : 0));
    }
}

TEST_F(FakeSound, LockAndUnlockRefuseWhatIsWrong)
{
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    void *p1, *p2;
    DWORD n1, n2;
    struct Case {
        DWORD offset, bytes;
        HRESULT want;
    } locks[] = {
        {16384, 1, DSERR_INVALIDPARAM},
        {0, 0, DSERR_INVALIDPARAM},
        {0, 16385, DSERR_INVALIDPARAM},
    };
    for (const Case& c : locks) EXPECT_EQ(c.want, s.buffer->Lock(c.offset, c.bytes, &p1, &n1, &p2, &n2, 0));
    EXPECT_EQ(DSERR_INVALIDPARAM, s.buffer->Lock(0, 1, nullptr, &n1, &p2, &n2, 0));
    EXPECT_EQ(DSERR_INVALIDCALL, s.buffer->Unlock(nullptr, 0, nullptr, 0));

    ASSERT_EQ(DS_OK, s.buffer->Lock(16000, 1000, &p1, &n1, &p2, &n2, 0));
    EXPECT_EQ(DSERR_INVALIDCALL, s.buffer->Lock(0, 1, &p1, &n1, &p2, &n2, 0)); // one lock at a time
    EXPECT_EQ(DSERR_INVALIDPARAM, s.buffer->Unlock((uint8_t*)p1 + 1, n1, p2, n2));
    EXPECT_EQ(DSERR_INVALIDPARAM, s.buffer->Unlock(p1, n1 + 1, p2, n2));
    EXPECT_EQ(DSERR_INVALIDPARAM, s.buffer->Unlock(p1, n1, p2, n2 + 1));
    EXPECT_EQ(DSERR_INVALIDPARAM, s.buffer->Unlock(p1, n1, nullptr, n2));
    EXPECT_EQ(DS_OK, s.buffer->Unlock(p1, n1, p2, n2));
    EXPECT_FALSE(FakeSound_State().locked);
    EXPECT_EQ(DSERR_INVALIDPARAM, s.buffer->SetCurrentPosition(16384));
    EXPECT_EQ(DSERR_INVALIDPARAM, s.buffer->Play(1, 0, DSBPLAY_LOOPING));
    EXPECT_EQ(DSERR_INVALIDPARAM, s.buffer->Play(0, 1, DSBPLAY_LOOPING));
}

TEST_F(FakeSound, PlayedRecordFollowsTheCursorAcrossTheWrap)
{
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    std::vector<uint8_t> loop = Pattern(kLoopBytes, 3);
    // Written in two halves, the second lock wrapping past the end.
    WriteAt(s.buffer, 8192, std::vector<uint8_t>(loop.begin() + 8192, loop.end()));
    WriteAt(s.buffer, 0, std::vector<uint8_t>(loop.begin(), loop.begin() + 8192));
    std::vector<uint8_t> across(1000);
    for (size_t i = 0; i < across.size(); i++) across[i] = (uint8_t)(255 - i);
    WriteAt(s.buffer, 16000, across);
    for (size_t i = 0; i < across.size(); i++) loop[(16000 + i) % kLoopBytes] = across[i];

    EXPECT_EQ(0u, FakeSound_Advance(100)); // stopped: nothing moves
    ASSERT_EQ(DS_OK, s.buffer->SetCurrentPosition(15000));
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));

    // Steps of the cursor and where it stands after each.
    struct Step {
        uint32_t advance;
        DWORD cursor;
    } steps[] = {
        {1000, 16000}, {384, 0}, {616, 616}, {0, 616}, {16384, 616}, {40000, (616 + 40000) % 16384},
    };
    size_t total = 0;
    for (const Step& st : steps) {
        EXPECT_EQ(st.advance, FakeSound_Advance(st.advance));
        total += st.advance;
        DWORD play = 1, write = 1;
        ASSERT_EQ(DS_OK, s.buffer->GetCurrentPosition(&play, &write));
        EXPECT_EQ(st.cursor, play);
        EXPECT_EQ(play, write);
    }
    std::vector<uint8_t> played = FakeSound_Played();
    ASSERT_EQ(total, played.size());
    for (size_t i = 0; i < played.size(); i++) ASSERT_EQ(loop[(15000 + i) % kLoopBytes], played[i]) << "byte " << i;

    // Stop keeps the cursor; Play goes on from it.
    ASSERT_EQ(DS_OK, s.buffer->Stop());
    DWORD stopped;
    s.buffer->GetCurrentPosition(&stopped, nullptr);
    EXPECT_EQ(0u, FakeSound_Advance(10));
    FakeSound_ClearPlayed();
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
    EXPECT_EQ(2u, FakeSound_Advance(2));
    EXPECT_EQ((std::vector<uint8_t>{loop[stopped], loop[stopped + 1]}), FakeSound_Played());
}

TEST_F(FakeSound, WritingWhileTheDevicePlays)
{
    // A writer thread feeds 512-byte blocks, each of one value, while the
    // device takes bytes; every byte played is one the writer wrote whole.
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    WriteAt(s.buffer, 0, std::vector<uint8_t>(kLoopBytes, 1));
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
    std::atomic<bool> stop{false};
    std::atomic<int> failures{0};
    std::thread writer([&] {
        for (uint32_t n = 0; !stop; n++) {
            void *p1, *p2;
            DWORD n1, n2;
            if (s.buffer->Lock((n % 32) * 512, 512, &p1, &n1, &p2, &n2, 0) != DS_OK) {
                failures++;
                continue;
            }
            memset(p1, 1 + n % 200, n1);
            if (s.buffer->Unlock(p1, n1, p2, n2) != DS_OK) failures++;
        }
    });
    uint32_t moved = 0;
    for (int i = 0; i < 3000; i++) {
        moved += FakeSound_Advance(37);
        DWORD play;
        s.buffer->GetCurrentPosition(&play, nullptr);
    }
    stop = true;
    writer.join();
    EXPECT_EQ(0, failures.load());
    EXPECT_EQ(3000u * 37, moved);
    for (uint8_t v : FakeSound_Played()) ASSERT_TRUE(v >= 1 && v <= 200) << (int)v;
}

TEST_F(FakeSound, PlayWithoutLoopingStopsAtTheEnd)
{
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    ASSERT_EQ(DS_OK, s.buffer->SetCurrentPosition(16000));
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, 0));
    EXPECT_EQ(384u, FakeSound_Advance(1000));
    DWORD status = 0;
    ASSERT_EQ(DS_OK, s.buffer->GetStatus(&status));
    EXPECT_EQ(0u, status & DSBSTATUS_PLAYING);
}

TEST_F(FakeSound, LostBufferRefusesLockAndPlayUntilRestored)
{
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
    DWORD status = 0;
    ASSERT_EQ(DS_OK, s.buffer->GetStatus(&status));
    EXPECT_EQ(DSBSTATUS_PLAYING | DSBSTATUS_LOOPING, status);

    ASSERT_TRUE(FakeSound_LoseBuffer());
    void *p1, *p2;
    DWORD n1, n2;
    for (int i = 0; i < 2; i++) { // stays lost until Restore
        EXPECT_EQ(DSERR_BUFFERLOST, s.buffer->Lock(0, 512, &p1, &n1, &p2, &n2, 0));
        EXPECT_EQ(DSERR_BUFFERLOST, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
    }
    ASSERT_EQ(DS_OK, s.buffer->GetStatus(&status));
    EXPECT_EQ(DSBSTATUS_BUFFERLOST, status);
    EXPECT_EQ(0u, FakeSound_Advance(512));

    // What the audio code does: Restore, then Lock once more.
    ASSERT_EQ(DS_OK, s.buffer->Restore());
    ASSERT_EQ(DS_OK, s.buffer->Lock(0, 512, &p1, &n1, &p2, &n2, 0));
    memset(p1, 0x42, n1);
    ASSERT_EQ(DS_OK, s.buffer->Unlock(p1, n1, p2, n2));
    ASSERT_EQ(DS_OK, s.buffer->SetCurrentPosition(0));
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
    EXPECT_EQ(4u, FakeSound_Advance(4));
    EXPECT_EQ(std::vector<uint8_t>(4, 0x42), FakeSound_Played());
}

TEST_F(FakeSound, CreationFailsOnDemand)
{
    struct Case {
        TFakeSoundStep step;
        HRESULT hr;
    } cases[] = {
        {FAKE_SOUND_CREATE, DSERR_NODRIVER},
        {FAKE_SOUND_COOPERATIVE, DSERR_GENERIC},
        {FAKE_SOUND_CREATE_BUFFER, DSERR_OUTOFMEMORY},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.step);
        FakeSound_Reset();
        FakeSound_SetFailure(c.step, c.hr);
        IDirectSound* ds = (IDirectSound*)1;
        HRESULT hr = DirectSoundCreate(nullptr, &ds, nullptr);
        if (c.step == FAKE_SOUND_CREATE) {
            EXPECT_EQ(c.hr, hr);
            EXPECT_EQ(nullptr, ds);
            EXPECT_EQ(0, FakeSound_State().devices);
            continue;
        }
        ASSERT_EQ(DS_OK, hr);
        hr = ds->SetCooperativeLevel(SomeWindow(), DSSCL_NORMAL);
        EXPECT_EQ(c.step == FAKE_SOUND_COOPERATIVE ? c.hr : DS_OK, hr);
        if (c.step == FAKE_SOUND_CREATE_BUFFER) {
            WAVEFORMATEX f = ViewerFormat();
            DSBUFFERDESC d = ViewerDesc(&f);
            IDirectSoundBuffer* b = (IDirectSoundBuffer*)1;
            EXPECT_EQ(c.hr, ds->CreateSoundBuffer(&d, &b, nullptr));
            EXPECT_EQ(nullptr, b);
            EXPECT_EQ(0, FakeSound_State().buffers);
        }
        ds->Release();
        EXPECT_EQ(0, FakeSound_State().devices);
    }
    // Back to succeeding once the failures are cleared.
    FakeSound_SetFailure(FAKE_SOUND_CREATE_BUFFER, DS_OK);
    TSoundPair s;
    EXPECT_EQ(DS_OK, s.Open());
}

TEST_F(FakeSound, ChecksTheBufferDescription)
{
    struct Case {
        const char* what;
        void (*change)(DSBUFFERDESC&, WAVEFORMATEX&);
        HRESULT want;
    } cases[] = {
        {"the viewer's buffer", [](DSBUFFERDESC&, WAVEFORMATEX&) {}, DS_OK},
        {"16-bit stereo",
         [](DSBUFFERDESC&, WAVEFORMATEX& f) {
             f.nChannels = 2;
             f.wBitsPerSample = 16;
             f.nBlockAlign = 4;
             f.nAvgBytesPerSec = 32000;
         },
         DS_OK},
        {"wrong record size", [](DSBUFFERDESC& d, WAVEFORMATEX&) { d.dwSize = 16; }, DSERR_INVALIDPARAM},
        {"no format", [](DSBUFFERDESC& d, WAVEFORMATEX&) { d.lpwfxFormat = nullptr; }, DSERR_INVALIDPARAM},
        {"not PCM", [](DSBUFFERDESC&, WAVEFORMATEX& f) { f.wFormatTag = 3; }, DSERR_BADFORMAT},
        {"block align", [](DSBUFFERDESC&, WAVEFORMATEX& f) { f.nBlockAlign = 2; }, DSERR_BADFORMAT},
        {"byte rate", [](DSBUFFERDESC&, WAVEFORMATEX& f) { f.nAvgBytesPerSec = 16000; }, DSERR_BADFORMAT},
        {"24 bits", [](DSBUFFERDESC&, WAVEFORMATEX& f) { f.wBitsPerSample = 24; }, DSERR_BADFORMAT},
        {"empty", [](DSBUFFERDESC& d, WAVEFORMATEX&) { d.dwBufferBytes = 0; }, DSERR_INVALIDPARAM},
        {"too big", [](DSBUFFERDESC& d, WAVEFORMATEX&) { d.dwBufferBytes = 0x10000000; }, DSERR_INVALIDPARAM},
        {"primary", [](DSBUFFERDESC& d, WAVEFORMATEX&) { d.dwFlags = DSBCAPS_PRIMARYBUFFER; }, DSERR_UNSUPPORTED},
    };
    IDirectSound* ds = nullptr;
    ASSERT_EQ(DS_OK, DirectSoundCreate(nullptr, &ds, nullptr));
    WAVEFORMATEX f = ViewerFormat();
    DSBUFFERDESC d = ViewerDesc(&f);
    IDirectSoundBuffer* b = nullptr;
    EXPECT_EQ(DSERR_PRIOLEVELNEEDED, ds->CreateSoundBuffer(&d, &b, nullptr));
    EXPECT_EQ(DSERR_INVALIDPARAM, ds->SetCooperativeLevel(nullptr, DSSCL_NORMAL));
    EXPECT_EQ(DSERR_INVALIDPARAM, ds->SetCooperativeLevel(SomeWindow(), 0));
    ASSERT_EQ(DS_OK, ds->SetCooperativeLevel(SomeWindow(), DSSCL_NORMAL));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        f = ViewerFormat();
        d = ViewerDesc(&f);
        c.change(d, f);
        b = nullptr;
        EXPECT_EQ(c.want, ds->CreateSoundBuffer(&d, &b, nullptr));
        EXPECT_EQ(c.want == DS_OK, b != nullptr);
        if (b) b->Release();
    }
    ds->Release();
    EXPECT_EQ(0, FakeSound_State().buffers);
}

TEST_F(FakeSound, BufferOutlivesItsDevice)
{
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    s.device->Release();
    s.device = nullptr;
    WriteAt(s.buffer, 0, {1, 2, 3});
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
    EXPECT_EQ(3u, FakeSound_Advance(3));
    EXPECT_EQ((std::vector<uint8_t>{1, 2, 3}), FakeSound_Played());
    EXPECT_EQ(2u, s.buffer->AddRef());
    EXPECT_EQ(1u, s.buffer->Release());
}

TEST_F(FakeSound, BeepIsRecordedAndMixedIntoWhatPlays)
{
    TSoundPair s;
    ASSERT_EQ(DS_OK, s.Open());
    ASSERT_EQ(DS_OK, s.buffer->Play(0, 0, DSBPLAY_LOOPING));
    EXPECT_FALSE(Beep(20, 100)); // below the lowest frequency
    EXPECT_TRUE(Beep(1000, 50));
    std::vector<TBeepCall> calls = DSound_Beeps();
    ASSERT_EQ(2u, calls.size());
    EXPECT_EQ(20u, calls[0].freq);
    EXPECT_EQ(1000u, calls[1].freq);
    EXPECT_EQ(50u, calls[1].ms);

    // 50 ms at 8000 Hz: 400 samples of a 1000 Hz square over the silence.
    ASSERT_EQ(800u, FakeSound_Advance(800));
    std::vector<uint8_t> played = FakeSound_Played();
    for (size_t i = 0; i < 400; i++) ASSERT_EQ((i % 8) < 4 ? 0x80 + 48 : 0x80 - 48, played[i]) << i;
    for (size_t i = 400; i < 800; i++) ASSERT_EQ(0x80, played[i]) << i;
}

} // namespace
