// Channel titles from outside: a title file loaded from its bytes (the
// load behind the Title page's Load button), or "VDTT" chunks from the
// recorder through the module's receive path (the read of the recorder's
// titles chunk by chunk, the settings block, the upload's chunk requests);
// what they leave is shown on the page and, when asked, rendered into the
// four bitmap sets.
//
// Input: one setup byte, then the title file or the records.
//   setup bit 0 VDTT records (else a title file), bit 1 render the first
//         changed title at the end in one size (bits 6-7; rendering every
//         title in every size would take most of each input), bits 2-3
//         channels (4, 8, 16, 16), bit 4 the Title tab entered first, bit 5
//         an upload started first.
// A record is [control byte][length u16 LE][bytes]: one message whose body
// is the bytes, behind a sub-header the target writes (session, mode, op,
// section) and with the message checksum fixed up.
//   control bit 0 op (0 chunk request, 1 chunk data), bits 1-2 mode,
//         bits 3-5 section (0, 1, 2, 3, 4, 16, 17, 5), bit 6 fix up the
//         chunk's own checksum word (bytes 8..11) to fit the bytes its
//         offset and length words name, when they lie within the body,
//         bit 7 the clock moves on 16 s after the record (an unanswered
//         upload times out); what was queued goes out after each record
//         (the socket poll: nothing else of a tick sees these records).
#include "fuzz/FuzzRig.h"
#include "link/Bytes.h"
#include "control/Title.h"
#include "link/Conn.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "panel/Yuv2.h"
#include <cstring>

namespace {

// Room for the largest message (header, sub-header and the most a record's
// length word names). Each message is built flush against the end, so that
// a read past its end is caught as one past the array.
uint8_t gMessageRoom[64 + 65535];

void Deliver(const uint8_t* bytes, uint32_t n, uint8_t control)
{
    static const uint32_t kSections[8] = {0, 1, 2, 3, 4, 16, 17, 5};
    uint32_t op = control & 1, mode = (control >> 1) & 3, section = kSections[(control >> 3) & 7];
    uint8_t* m = gMessageRoom + sizeof gMessageRoom - (64 + (size_t)n);
    memset(m, 0, 64);
    PutU32(m, 64 + n);
    memcpy(m + 4, "VDTT", 4);
    PutU32(m + 32, RIG_SESSION);
    PutU32(m + 36, mode);
    PutU32(m + 40, op);
    PutU32(m + 44, section);
    uint8_t* body = m + 64;
    if (n) memcpy(body, bytes, n);
    if ((control & 0x40) && op == 1 && n >= 32) {
        uint32_t offset = GetU32(body), length = GetU32(body + 4);
        if (mode == 0) {
            // The part of the section the chunk names, as the receiver clamps it.
            uint32_t size = 0, next = 0;
            Title_SectionBlock(&gTitleStates[0], section, &size, &next);
            length = offset >= size ? 0 : length > size - offset ? size - offset : length;
            if (length > TITLE_CHUNK) length = TITLE_CHUNK;
        }
        if (length <= n - 32) PutU32(body + 8, Checksum_Bytes(body + 32, length));
    }
    PutU32(m + 8, Checksum_Message(m + 32, 32 + n));
    Msg_DispatchReceived(RIG_SESSION, m, 64 + n);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Rig_Start();
    Yuv2_ResetSkins();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    static const uint32_t kChannels[4] = {4, 8, 16, 16};
    uint8_t setupByte = data[0];
    TRigSetup setup;
    // Live: the Setup mode's entry fills the title edits, and the rig's
    // first tick would render all of them for every input.
    setup.mode = 0;
    setup.loggedIn = true;
    setup.sockets = 1;
    setup.channels = kChannels[(setupByte >> 2) & 3];
    setup.pal = false;
    Rig_Begin(setup);
    // The page's font as the start-up left it.
    Title_FontToDialog(&gTitleSettings[0]);
    Title_FontToCanvases(&gTitleSettings[0]);
    if (setupByte & 0x10) Title_TabEntered(0);
    if (setupByte & 0x20) Title_StartUpload(0);

    if (!(setupByte & 1)) {
        Title_LoadFromBytes(data + 1, size - 1);
    } else {
        size_t at = 1;
        TRigRecord r;
        while (Rig_NextRecord(data, size, &at, &r)) {
            Deliver(r.bytes, r.length, r.control);
            // The clock stands still in the tick: the 300 ms task would
            // render every changed title, most of each input.
            if (r.control & 0x80) Rig_Wait(16000);
            Title_CheckUpload(&gTitleStates[0]);
            Rig_Poll();
        }
    }
    TTitleState* state = &gTitleStates[0];
    if (setupByte & 2)
        for (uint32_t channel = 0; channel < Title_ChannelCount(state); channel++)
            if (state->changed[channel] == 1) {
                Title_RenderSize(state, setupByte >> 6, channel);
                break;
            }
    Title_UpdateProgress();
    Rig_End();
    return 0;
}
