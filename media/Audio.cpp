// Sound output and the audio thread. Owns the device and its looping
// buffer (gSoundDevice, gSoundBuffer), the 32 KB transfer buffer the audio
// thread reads frames into, gAudioThread, the alarm state, and the flag
// through which the audio thread and the stream step keep each other out of
// the audio ring at a change to or from Backup mode.
#include "media/Audio.h"
#include "link/Bytes.h"
#include "media/Hooks.h"
#include "link/ViewRecord.h"
#include "link/Conn.h"
#include "link/Tavn.h"
#include "platform/win/Win.h"
#include "media/Backup.h"
#include <cstring>

IDirectSound* gSoundDevice = nullptr;
IDirectSoundBuffer* gSoundBuffer = nullptr;
TAudioThread1* gAudioThread = nullptr;
std::atomic<uint32_t> gAlarmUntil{0};

static uint8_t gTransfer[AUDIO_TRANSFER_SIZE];
static uint32_t gAlarmPass;
static TAudioBackup gBackupHandOff = nullptr;
// 1 while the audio thread may be taking frames. The stream step takes
// frames in Backup mode only while it is 0, the audio thread only while the
// mode is not Backup; each side writes its own word before it reads the
// other's, so the two never read the ring at once.
static std::atomic<uint32_t> gAudioTaking{0};

void Audio_SetBackupHandOff(TAudioBackup backup) { gBackupHandOff = backup; }

TAudioView gAudioViews[2];
static_assert(sizeof(gAudioViews) / sizeof(gAudioViews[0]) == CONN_COUNT, "one copy per connection record");

void Audio_PublishViews()
{
    for (uint32_t i = 0; i < CONN_COUNT; ++i) {
        const TConnection* c = &gConnections[i];
        const TViewRecord* v = c->view;
        TAudioView& a = gAudioViews[i];
        a.liveLayout.store(v ? v->liveBlock.liveLayout : 0);
        a.liveChannel.store(v ? v->liveBlock.liveChannel : 0);
        a.playbackChannel.store(v ? v->playbackBlock.playbackChannel : 0);
        a.backupChannel.store(v ? v->backupBlock.backupChannel : 0);
        a.icmdSequence.store(v ? v->icmdSequence : 0);
        a.noSound.store(c->handshake && c->handshake->machine.audioWord == 2 ? 1 : 0);
        a.framesPerSecond.store(Stream_FramesPerSecond(c));
        a.mode.store(v ? v->mode : (uint32_t)VIEW_SETUP);
    }
}

// The published copy of the stream's connection; null for a stream that
// belongs to no connection record.
static TAudioView* AudioViewOf(const TStreamRecord* stream)
{
    if (!stream || !stream->connection || !stream->connection->view) return nullptr;
    ptrdiff_t index = stream->connection - gConnections;
    if (index < 0 || index >= (ptrdiff_t)CONN_COUNT) return nullptr;
    return &gAudioViews[index];
}

// --- The device ------------------------------------------------------------------

void Sound_Release()
{
    if (gSoundBuffer) gSoundBuffer->Release();
    gSoundBuffer = nullptr;
    if (gSoundDevice) gSoundDevice->Release();
    gSoundDevice = nullptr;
}

void Sound_Create()
{
    IDirectSound* device = nullptr;
    if (FAILED(DirectSoundCreate(nullptr, &device, nullptr)) || !device) return;
    gSoundDevice = device;
    HWND window = GetForegroundWindow();
    if (!window) window = GetDesktopWindow();
    if (FAILED(device->SetCooperativeLevel(window, DSSCL_NORMAL))) {
        Sound_Release();
        return;
    }
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.nAvgBytesPerSec = 8000;
    format.nBlockAlign = 1;
    format.wBitsPerSample = 8;
    format.cbSize = 0;
    DSBUFFERDESC desc = {};
    desc.dwSize = sizeof desc;
    desc.dwFlags = 0;
    desc.dwBufferBytes = SOUND_BUFFER_SIZE;
    desc.lpwfxFormat = &format;
    IDirectSoundBuffer* buffer = nullptr;
    if (FAILED(device->CreateSoundBuffer(&desc, &buffer, nullptr)) || !buffer) {
        Sound_Release();
        return;
    }
    gSoundBuffer = buffer;
}

void Sound_Start()
{
    if (!gSoundBuffer) Sound_Create();
    if (!gSoundBuffer) return;
    gSoundBuffer->SetCurrentPosition(0);
    gSoundBuffer->Play(0, 0, DSBPLAY_LOOPING);
}

void Sound_WriteBlock(const uint8_t* bytes, uint32_t slot)
{
    IDirectSoundBuffer* b = gSoundBuffer;
    if (!b || !bytes) return;
    void *p1 = nullptr, *p2 = nullptr;
    DWORD n1 = 0, n2 = 0;
    HRESULT hr = b->Lock(slot * SOUND_BLOCK, SOUND_BLOCK, &p1, &n1, &p2, &n2, 0);
    bool restored = false;
    if (hr == DSERR_BUFFERLOST) {
        b->Restore();
        restored = true;
        hr = b->Lock(slot * SOUND_BLOCK, SOUND_BLOCK, &p1, &n1, &p2, &n2, 0);
    }
    if (FAILED(hr)) return;
    const uint32_t block = SOUND_BLOCK;
    uint32_t first = n1 < block ? n1 : block;
    if (p1 && first) memcpy(p1, bytes, first);
    uint32_t second = n2 < block - first ? n2 : block - first;
    if (p2 && second) memcpy(p2, bytes + first, second);
    b->Unlock(p1, n1, p2, n2);
    // A restored buffer stands still until it is played again.
    if (restored) b->Play(0, 0, DSBPLAY_LOOPING);
}

void Sound_Stop()
{
    if (gSoundBuffer) gSoundBuffer->Stop();
    Sound_Release();
}

void Sound_Restart()
{
    Sound_Stop();
    TSoundRing& s = gSoundRing;
    s.lastCursor = 0;
    s.bytesHanded = 0;
    s.blockCounter = 0;
    s.wrapCount = 0;
    s.bufferSize = SOUND_BUFFER_SIZE;
    SoundRing_Reset();
    Sound_Start();
}

int Sound_Feed()
{
    TSoundRing& s = gSoundRing;
    if (!s.data || !gSoundBuffer) {
        SoundRing_Drain();
        return 1;
    }
    if (s.heardChannel.load() == SOUND_HEARD_NONE || Speaker_AudioOn() == 0) {
        SoundRing_Drain();
        Sound_Stop();
        return 1;
    }
    uint32_t queued = SoundRing_Queued();
    if (queued > AUDIO_TRIM_ABOVE) SoundRing_DropOldest(SOUND_BLOCK); // queued keeps its value for this step
    if (s.bytesHanded != 0) {
        DWORD cursor = 0;
        gSoundBuffer->GetCurrentPosition(&cursor, nullptr);
        if (cursor < s.lastCursor) s.wrapCount += 1;
        s.lastCursor = cursor;
        uint32_t played = cursor + s.wrapCount * SOUND_BUFFER_SIZE;
        int32_t ahead = (int32_t)(s.bytesHanded - played);
        if (ahead > AUDIO_AHEAD_MAX) return 1;
        if (ahead < 0) {
            // The device has run past everything it was handed: writing on
            // from there would land behind the cursor and be heard a whole
            // loop late. Go on from the slot just ahead of the cursor.
            uint32_t slot = (played + SOUND_BLOCK - 1) / SOUND_BLOCK;
            s.bytesHanded = slot * SOUND_BLOCK;
            s.blockCounter = slot;
            ahead = (int32_t)(s.bytesHanded - played);
        }
        if (ahead < AUDIO_NEAR_DRY && queued < SOUND_BLOCK) {
            // Nearly dry: what is queued goes now, made up to a whole block
            // with silence at the last level (a whole block of it when
            // nothing is queued).
            SoundRing_PutSilence(SOUND_BLOCK - queued);
            queued = SOUND_BLOCK;
        }
    }
    if (queued < SOUND_BLOCK) return 1;
    if (s.bytesHanded == 0) {
        // The first block goes into the slot just ahead of the play cursor,
        // and the count of bytes handed starts where that slot starts, so
        // that the lead computed above is the lead the device really has.
        DWORD cursor = 0;
        gSoundBuffer->GetCurrentPosition(&cursor, nullptr);
        uint32_t slot = (cursor + SOUND_BLOCK - 1) / SOUND_BLOCK;
        s.bytesHanded = slot * SOUND_BLOCK;
        s.blockCounter = slot;
        s.lastCursor = cursor;
    }
    uint8_t block[SOUND_BLOCK];
    if (SoundRing_TakeBlock(block) != 0) return 1;
    s.bytesHanded += SOUND_BLOCK;
    Sound_WriteBlock(block, s.blockCounter & (SOUND_BLOCK_SLOTS - 1));
    s.blockCounter += 1;
    return 0;
}

void Sound_SetHeardChannel(int32_t channel) { gSoundRing.heardChannel.store(channel); }

// --- Taking frames ---------------------------------------------------------------

// Where a frame's acceptance leaves it: the channel whose video paces it.
static bool Accepted(const TAudioView* v, uint32_t mode, uint32_t headerChannel, uint32_t source, uint32_t* paced)
{
    switch (mode) {
    case VIEW_LIVE: {
        uint32_t channel = v->liveChannel.load();
        *paced = channel;
        return v->liveLayout.load() == LAYOUT_SINGLE && headerChannel == channel && channel <= 1 &&
               source == SOURCE_LIVE;
    }
    case VIEW_PLAYBACK: {
        uint32_t channel = v->playbackChannel.load();
        *paced = channel;
        return channel <= 1 && source == SOURCE_RECORDED;
    }
    case VIEW_BACKUP: *paced = v->backupChannel.load(); return *paced <= 1 && source == SOURCE_RECORDED;
    case VIEW_LOCAL_PLAYBACK:
        // The file's own channel paces its sound.
        *paced = headerChannel;
        return headerChannel <= 1 && source == SOURCE_LOCAL_FILE;
    default: return false;
    }
}

// One frame, by the mode read once by the caller. The local read index is
// handed back to the producer whenever a frame is consumed; a frame that
// must wait is left where it is.
static int TakeFrame(TStreamRecord* stream, uint32_t mode)
{
    TAudioView* view = AudioViewOf(stream);
    if (!view) return 1;
    TAudioPeek peek;
    if (AudioPeek_Begin(&peek, &stream->audioRing) != 0 || AudioPeek_Available(&peek) == 0) return 1;
    uint8_t block[AUDIO_BLOCK_SIZE];
    if (AudioPeek_Read(&peek, block, AUDIO_BLOCK_SIZE) != 0) return 1;
    uint32_t total = GetU32(block + 0);
    uint32_t blockChannel = GetU32(block + 20);
    if (total >= AUDIO_MAX_TOTAL || blockChannel >= 2 || total < AUDIO_BLOCK_SIZE) {
        AudioPeek_Drain(&peek);
        return 1;
    }
    uint32_t remaining = total - AUDIO_BLOCK_SIZE;
    const bool backup = mode == VIEW_BACKUP;
    // In Backup mode the frame is built in the held-frame buffer, which must
    // not hold a video frame the backup writer has not taken yet.
    uint8_t* dest = backup ? stream->heldBuffer : gTransfer;
    if (!dest) {
        AudioPeek_Skip(&peek, remaining);
        AudioPeek_Commit(&peek);
        return 1;
    }
    if (backup && stream->heldLength != 0) return 1;

    auto skip = [&]() {
        AudioPeek_Skip(&peek, remaining);
        AudioPeek_Commit(&peek);
        return 0;
    };
    uint32_t request = GetU32(block + 52);
    if (request != 0 && request != view->icmdSequence.load()) return skip();
    if (remaining < FRAME_HEADER_SIZE) return skip();
    TDvrFrameHeader header;
    if (AudioPeek_Read(&peek, (uint8_t*)&header, FRAME_HEADER_SIZE) != 0) return skip();
    remaining -= FRAME_HEADER_SIZE;
    if (FrameHeader_Check(&header) != 0) return skip();
    uint32_t payloadRead = remaining;
    if (backup) memcpy(dest, &header, FRAME_HEADER_SIZE);
    uint8_t* payload = backup ? dest + FRAME_HEADER_SIZE : dest;
    if (payloadRead > (backup ? STREAM_RING_SIZE - FRAME_HEADER_SIZE : (uint32_t)AUDIO_TRANSFER_SIZE)) return skip();
    if (AudioPeek_Read(&peek, payload, payloadRead) != 0) return skip();
    // The frame is consumed on every path below but one: audio ahead of its
    // video is left in the ring.
    auto consumed = [&](int result) {
        AudioPeek_Commit(&peek);
        return result;
    };

    // The unit the header announces must be there in full.
    uint32_t unitBytes = 64u * header.unitLength;
    if (unitBytes > FRAME_HEADER_SIZE + payloadRead) return consumed(0);

    uint32_t headerChannel = FrameHeader_Channel(&header);
    uint32_t source = FrameHeader_Source(&header);
    uint32_t paced = 0;
    if (!Accepted(view, mode, headerChannel, source, &paced)) return consumed(0);
    if (backup) {
        // Sound ahead of the part's last picture waits in the ring for its
        // pictures, so the part that ends at a key frame before it leaves
        // it to the next part; never once the ring is half full.
        if (Backup_SoundWaits(&header) && StreamAudio_Used(&stream->audioRing) < stream->audioRing.size / 2) return 1;
        AudioPeek_Commit(&peek);
        stream->heldLength = unitBytes;
        return gBackupHandOff ? gBackupHandOff(stream) : Backup_OnFrame(stream);
    }
    if (view->noSound.load() != 0) return consumed(0);

    uint32_t fps = view->framesPerSecond.load();
    const TChannelState& cs = stream->channels[paced];
    uint32_t startSecond = cs.startSecond.load();
    if (startSecond > header.time || (startSecond == header.time && cs.startFrame.load() > header.frameNumber))
        return consumed(0); // from before the video's start
    TSoundRing& s = gSoundRing;
    int32_t heard = s.heardChannel.load();
    if (heard != SOUND_HEARD_NONE && (uint32_t)heard != headerChannel) return consumed(0);

    uint32_t audioTime = header.frameNumber + (header.time & 0xFFFFFF) * fps;
    uint32_t videoTime = cs.videoTime.load();
    if (videoTime != 0 && videoTime < audioTime) {
        // Audio waits for its video to catch up, but not for video a minute
        // or more behind it (a seek back, a recorder clock set back, a bad
        // stamp): that frame would hold every frame behind it in the ring
        // for as long, or for ever. It is dropped instead.
        uint32_t maxLead = AUDIO_MAX_LEAD_SECONDS * (fps ? fps : 30);
        if (audioTime - videoTime < maxLead) return 1;
        return consumed(0);
    }
    AudioPeek_Commit(&peek);
    if (heard == SOUND_HEARD_NONE) {
        // The channel becomes the heard one only while no key action has
        // set it since it was read, and only while the view still paces it:
        // a key action publishes its view before it clears the channel, so
        // a frame judged by the view just replaced is let go here.
        int32_t expected = SOUND_HEARD_NONE;
        if (!s.heardChannel.compare_exchange_strong(expected, (int32_t)paced)) return 0;
        uint32_t pacedNow = 0;
        if (view->mode.load() != mode || !Accepted(view, mode, headerChannel, source, &pacedNow) || pacedNow != paced) {
            expected = (int32_t)paced;
            s.heardChannel.compare_exchange_strong(expected, SOUND_HEARD_NONE);
            return 0;
        }
        s.started.store(1);
        AudioPeek_Drain(&peek);
        Sound_Restart();
    }
    if (Speaker_AudioOn() == 0) {
        s.started.store(0);
        return 1;
    }
    if (s.started.load() == 0) Sound_Restart();
    s.started.store(1);

    uint32_t n = (unitBytes - 64) / 2;
    if (n > payloadRead / 2) n = payloadRead / 2; // never beyond the bytes read
    SoundRing_StoreOddBytes(payload, n);
    return 0;
}

// Backup mode: the sound frames still in the ring, oldest first, offered
// to take in a buffer of their own (a video frame may be held meanwhile).
static uint8_t gBackupSound[AUDIO_MAX_TOTAL];

void Audio_DrainBackupSound(TStreamRecord* stream, TAudioDrainTake take)
{
    TAudioView* view = AudioViewOf(stream);
    if (!view || !take) return;
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (gAudioTaking.load(std::memory_order_seq_cst) != 0) return; // the audio thread is in the ring
    for (uint32_t n = 0; n < AUDIO_DRAIN_MAX; ++n) {
        TAudioPeek peek;
        if (AudioPeek_Begin(&peek, &stream->audioRing) != 0 || AudioPeek_Available(&peek) == 0) return;
        uint8_t block[AUDIO_BLOCK_SIZE];
        if (AudioPeek_Read(&peek, block, AUDIO_BLOCK_SIZE) != 0) return;
        uint32_t total = GetU32(block + 0);
        if (total >= AUDIO_MAX_TOTAL || GetU32(block + 20) >= 2 || total < AUDIO_BLOCK_SIZE) {
            AudioPeek_Drain(&peek);
            return;
        }
        uint32_t remaining = total - AUDIO_BLOCK_SIZE;
        uint32_t request = GetU32(block + 52);
        TDvrFrameHeader header;
        bool good = remaining >= FRAME_HEADER_SIZE && (request == 0 || request == view->icmdSequence.load()) &&
                    AudioPeek_Read(&peek, gBackupSound, remaining) == 0;
        if (good) memcpy(&header, gBackupSound, sizeof header);
        uint32_t unitBytes = good ? 64u * header.unitLength : 0;
        uint32_t paced = 0;
        good = good && FrameHeader_Check(&header) == 0 && FrameHeader_Kind(&header) == FRAME_KIND_AUDIO &&
               unitBytes <= remaining &&
               Accepted(view, VIEW_BACKUP, FrameHeader_Channel(&header), FrameHeader_Source(&header), &paced);
        if (!good) {
            // Not the backup's sound: dropped, as the stream step drops it.
            AudioPeek_Begin(&peek, &stream->audioRing);
            AudioPeek_Skip(&peek, total);
            AudioPeek_Commit(&peek);
            continue;
        }
        if (take(gBackupSound, unitBytes) == 0) return; // left where it is
        AudioPeek_Commit(&peek);
    }
}

int Stream_TakeAudioFrame(TStreamRecord* stream)
{
    TAudioView* view = AudioViewOf(stream);
    if (!view) return 1;
    // Backup mode only, and never while the audio thread may still be in
    // the ring from before the change.
    std::atomic_thread_fence(std::memory_order_seq_cst);
    if (gAudioTaking.load(std::memory_order_seq_cst) != 0) return 1;
    uint32_t mode = view->mode.load(std::memory_order_seq_cst);
    if (mode != VIEW_BACKUP) return 1;
    return TakeFrame(stream, mode);
}

int Audio_TakeFrame(TStreamRecord* stream)
{
    TAudioView* view = AudioViewOf(stream);
    if (!view) return 1;
    gAudioTaking.store(1, std::memory_order_seq_cst);
    std::atomic_thread_fence(std::memory_order_seq_cst);
    uint32_t mode = view->mode.load(std::memory_order_seq_cst);
    int result = mode == VIEW_BACKUP ? 1 : TakeFrame(stream, mode);
    gAudioTaking.store(0, std::memory_order_seq_cst);
    return result;
}

// --- The alarm beeper --------------------------------------------------------------

void AudioThread_AlarmBeep()
{
    uint32_t until = gAlarmUntil.load();
    uint32_t now = until ? Clock_NowNumber() : 0;
    if (until == 0 || now >= until) {
        gAlarmPass = 0;
        return;
    }
    if (gAlarmPass == 0 || gAlarmPass == 150 || gAlarmPass == 300) Beep(2000, 100);
    gAlarmPass += 1;
    if (gAlarmPass >= 600) gAlarmPass = 0;
}

// --- The thread ------------------------------------------------------------------

TAudioThread1::TAudioThread1(bool CreateSuspended) : TThread(CreateSuspended) { FreeOnTerminate = true; }

TAudioThread1::~TAudioThread1() { EndThread(); }

void TAudioThread1::Execute()
{
    NameThreadForDebugging("TAudioThread1");
    TStreamRecord* stream = gConnections[0].stream;
    TViewRecord* view = gConnections[0].view;
    while (!Terminated()) {
        ParkIfSuspended(); // the one place the thread stops: no device call is under way
        if (Terminated()) break;
        if (view && stream)
            for (uint32_t i = 0; i < AUDIO_TAKE_PER_PASS; ++i)
                if (Audio_TakeFrame(stream) == 1) break;
        Sound_Feed();
        AudioThread_AlarmBeep();
        Sleep(1);
    }
}

void Audio_StartThread()
{
    gAudioThread = new TAudioThread1(true);
    gAudioThread->Resume();
}

void Audio_StopForUnload()
{
    if (gAudioThread) {
        gAudioThread->Suspend(); // returns once the thread has parked
        gAudioThread->Terminate();
    }
    Sound_Stop();
}
