// The recording search's replies: each record is one "PBBA" message from
// the recorder, taken apart by Pbba_ParseReply on its own and then through
// the module's receive path (the registry's dispatch, the op table, the
// echo of a query answer, the calendar's day or slot flags and the rebuild
// of the month grid), with the calendar's own queries going out between.
//
// Input: one setup byte, a u32 LE calendar time, then records of
// [control byte][length u16 LE][bytes].
//   setup bits 0-1 view mode (2 Playback and 3 Backup ask for the
//         calendar), bit 2 raw payloads, bits 3-4 channels (4, 8, 16, 16),
//         bits 5-7 the channel played back or copied.
//   control (well-framed) bits 0-2 period index, bit 3 op (0 query
//         answer, 1 reply), bit 4 fix up the reply's checksum word,
//         bits 5-7 the channel word.
// A well-framed record's bytes are the message body behind a sub-header the
// target writes (session, index, op, channel), the message checksum fixed
// up; with bit 4 the reply's own checksum word (bytes 12..15) is made to
// fit bytes 72 .. its length word, when that word lies within the body.
// Raw records are whole payloads of module messages, each one's session
// and checksum fixed up, walking by the messages' own lengths.
#include "fuzz/FuzzRig.h"
#include "link/Bytes.h"
#include "control/View.h"
#include "link/Conn.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "media/Pbba.h"
#include "panel/Month.h"
#include "panel/SkinVars.h"
#include "panel/Yuv2.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> gMessage;

// The parser alone: a reply it takes sets every flag of its index to 0 or
// 1; one it refuses leaves the flags as they were.
void CheckParse(const uint8_t* body, uint32_t n, uint32_t index)
{
    int32_t flags[PBBA_DAY_ENTRIES + 1];
    for (int32_t& f : flags) f = 7;
    int r = Pbba_ParseReply(body, n, index, flags);
    uint32_t entries = Pbba_EntryCount(index);
    for (uint32_t i = 0; i <= PBBA_DAY_ENTRIES; ++i) {
        bool set = r == 0 && i < entries;
        if (set ? (flags[i] != 0 && flags[i] != 1) : flags[i] != 7) {
            fprintf(stderr, "Pbba_ParseReply: flag %u is %d after %d\n", i, flags[i], r);
            abort();
        }
    }
}

void Deliver(const uint8_t* bytes, uint32_t n, uint8_t control)
{
    uint32_t index = control & 7, op = (control >> 3) & 1, channel = control >> 5;
    gMessage.assign(64 + (size_t)n, 0);
    uint8_t* m = gMessage.data();
    PutU32(m, 64 + n);
    memcpy(m + 4, "PBBA", 4);
    PutU32(m + 32, RIG_SESSION);
    PutU32(m + 36, index);
    PutU32(m + 40, op);
    PutU32(m + 44, channel);
    uint8_t* body = m + 64;
    if (n) memcpy(body, bytes, n);
    if ((control & 0x10) && n >= 16) {
        uint32_t length = GetU32(body + 8);
        if (length >= PBBA_RECORD_SIZE && length <= n)
            PutU32(body + 12, Checksum_Bytes(body + PBBA_RECORD_SIZE, length - PBBA_RECORD_SIZE));
    }
    PutU32(m + 8, Checksum_Message(m + 32, 32 + n));
    CheckParse(body, n, index);
    Msg_DispatchReceived(RIG_SESSION, m, 64 + n);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Rig_Start();
    // The calendar's flags and grid are the target's; drawing the panel
    // with them is fuzz_skin's.
    Yuv2_ResetSkins();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 5) return 0;
    static const uint32_t kChannels[4] = {4, 8, 16, 16};
    uint8_t setupByte = data[0];
    TRigSetup setup;
    setup.mode = setupByte & 3;
    setup.loggedIn = true;
    setup.sockets = 1;
    setup.channels = kChannels[(setupByte >> 3) & 3];
    setup.pal = false;
    bool raw = (setupByte & 4) != 0;
    Rig_Begin(setup);
    // The calendar on a time the user could have picked.
    uint32_t time = GetU32(data + 1) % (Month_LastTime() + 1u);
    Mon_Time = (int32_t)time;
    Month_BuildGrid(time);
    TViewRecord* view = gConnections[0].view;
    if (view) view->playbackBlock.playbackChannel = view->backupBlock.backupChannel = setupByte >> 5;

    size_t at = 5;
    TRigRecord r;
    while (Rig_NextRecord(data, size, &at, &r)) {
        uint8_t control = r.control;
        uint32_t length = r.length;
        if (raw) {
            gMessage.assign(r.bytes, r.bytes + length);
            Rig_FixUpMessages(gMessage.data(), length);
            CheckParse(gMessage.data(), length, control & 7);
            Msg_DispatchReceived(RIG_SESSION, gMessage.data(), length);
        } else {
            Deliver(r.bytes, length, control);
        }
        // The calendar asks again, and what was queued goes out.
        Calendar_TimerStep();
        Rig_Tick(10);
    }
    Rig_End();
    return 0;
}
