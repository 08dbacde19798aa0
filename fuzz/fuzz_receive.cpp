// The receive path as the recorder drives it: bytes arriving on one or two
// sockets of connection 0, cut into answers (HTTP framing), checked as ULCM
// packets, dispatched to TAVN, ICMD, ICTL and VIDO, reordered, taken by the
// stream step (up to the decoder's hand-off, and the backup's) and by the
// audio thread's take.
//
// Input: one setup byte, then records of [control byte][length u16 LE][bytes].
//   setup bits 0-1 view mode, 2 logged in, 3 two sockets, 4 well-framed,
//         5-6 channels (4, 8, 16, 16), 7 25 frames per second.
//   control bit 0 socket, bits 1-2 ticks after the record (0-3),
//         bits 3-5 ULCM type (well-framed; 6 and 7 are data-and-poll),
//         bit 6 the packet names connection 1 (well-framed).
// Raw records go onto the socket as they are. Well-framed records are the
// payload of one ULCM packet in one "200 OK" answer: each module message's
// session and checksum are fixed up, the input's own lengths left alone.
#include "fuzz/FuzzRig.h"
#include "link/Bytes.h"
#include "panel/Yuv2.h"
#include "link/Ring.h"
#include "media/Stream.h"
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> gAnswer;

void FramedAnswer(const uint8_t* payload, uint32_t n, uint32_t type, uint32_t connection, uint32_t socket)
{
    char head[96];
    int h = snprintf(head, sizeof head,
                     "HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                     "Content-Length: %u\r\n\r\n",
                     64 + n);
    gAnswer.assign(head, head + h);
    size_t packet = gAnswer.size();
    gAnswer.resize(packet + 64 + n, 0);
    uint8_t* u = gAnswer.data() + packet;
    PutU32(u, 64 + n);           // total length
    memcpy(u + 4, "ULCM", 4);    // magic
    PutU32(u + 8, type);         // type
    PutU32(u + 12, RIG_SESSION); // session
    PutU32(u + 52, connection);  // connection echoed
    PutU32(u + 56, socket);      // socket echoed
    if (n) memcpy(u + 64, payload, n);
    Rig_FixUpMessages(u + 64, n);
}

volatile uint32_t gFrameSum;

// Every byte of a due frame is read, as the decoder's copy would.
int ReadFrame(const uint8_t* buffer, uint32_t length, uint32_t channel)
{
    uint32_t sum = channel;
    for (uint32_t i = 0; i < length; ++i) sum += buffer[i];
    gFrameSum = sum;
    return 1;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Rig_Start();
    // Without its skin the key panel draws nothing: the panel's redraws
    // (after a machine record or a live block) are fuzz_skin's to cover.
    Yuv2_ResetSkins();
    // Due frames stop at the hand-off to the decoder, which reads them
    // whole: decoding and showing them are fuzz_h264's, and would take most
    // of each input here.
    Stream_SetHandOffs(ReadFrame, nullptr);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    uint8_t setupByte = data[0];
    static const uint32_t kChannels[4] = {4, 8, 16, 16};
    TRigSetup setup;
    setup.mode = setupByte & 3;
    setup.loggedIn = (setupByte & 4) != 0;
    setup.sockets = (setupByte & 8) ? 2 : 1;
    setup.channels = kChannels[(setupByte >> 5) & 3];
    setup.pal = (setupByte & 0x80) != 0;
    bool framed = (setupByte & 0x10) != 0;
    Rig_Begin(setup);

    size_t at = 1;
    TRigRecord r;
    while (Rig_NextRecord(data, size, &at, &r)) {
        uint8_t control = r.control;
        uint32_t socket = setup.sockets > 1 ? (control & 1) : 0;
        if (framed) {
            uint32_t type = (control >> 3) & 7;
            if (type > 5) type = 5;
            FramedAnswer(r.bytes, r.length, type, (control >> 6) & 1, socket);
            Rig_Arrive(socket, gAnswer.data(), gAnswer.size());
        } else {
            Rig_Arrive(socket, r.bytes, r.length);
        }
        // At least one tick, so that every answer is cut when it is whole.
        uint32_t ticks = 1 + ((control >> 1) & 3);
        for (uint32_t t = 0; t < ticks; ++t) Rig_Tick(10);
    }
    // What is still held is cut, reordered, decoded and heard.
    for (uint32_t t = 0; t < 5; ++t) Rig_Tick(34);
    Rig_End();
    return 0;
}
