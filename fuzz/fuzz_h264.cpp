// H.264 access units from the recorder through the decoder channels into
// Image_video: decoding on libavcodec with the viewer's picture pool, then
// fitting, deinterlacing or line doubling, scaling and colour conversion.
//
// Input: one setup byte, then records of [flags][length u24 LE][access unit
// in 4-byte NAL length framing]; the first 12 records are decoded.
//   setup bits 0-1 view mode (0 Live .. 3 Setup), bit 2 decoder channel 1
//         (whose pictures have no display), bit 3 the pictures are fields,
//         bits 4-5 the size of the image the pictures are fitted to:
//         640 x 512 (Image_video's own), 352 x 288, 176 x 144 or 90 x 61
//         (the display fits any image; the small ones keep the scaling to
//         the image from taking most of each input).
//   flags bit 0: parameter sets were put in front of this key frame (the
//         stream step's word that makes the decoder take a new size).
#include "fuzz/FuzzRig.h"
#include "control/TavlinImpl1.h"
#include "panel/Yuv2.h"
#include "link/Bytes.h"
#include "link/Conn.h"
#include "media/Decoder.h"
#include "media/Display.h"
#include "media/Stream.h"

namespace {

// Image_video at each size an input may ask for, prepared once: the form's
// own (640 x 512) and three beside it on the same parent. Preparing one
// image again for every input that asks for another size would make its
// bitmap anew each time, most of such an input's time.
TImage* gImages[4];

void PrepareImages()
{
    static const int kSizes[4][2] = {{640, 512}, {352, 288}, {176, 144}, {90, 61}};
    for (uint32_t i = 0; i < 4; ++i) {
        TImage* image = gViewerForm->Image_video;
        if (i > 0) {
            image = new TImage(gViewerForm);
            image->SetParent(gViewerForm->Image_video->Parent());
        }
        image->SetWidth(kSizes[i][0]);
        image->SetHeight(kSizes[i][1]);
        Video_PrepareImage(image);
        gImages[i] = image;
    }
}

void UseImageSize(uint32_t choice) { gViewerForm->Image_video = gImages[choice & 3]; }

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Rig_Start();
    PrepareImages();
    // Without its skin the key panel draws nothing: the panel's redraws
    // (after a machine record or a live block) are fuzz_skin's to cover.
    Yuv2_ResetSkins();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    uint8_t setupByte = data[0];
    TRigSetup setup = {true, (uint32_t)(setupByte & 3), 1, 16, false};
    Rig_Begin(setup);
    uint32_t channel = (setupByte >> 2) & 1;
    TStreamRecord* stream = &gStreamRecords[0];
    stream->fieldPicture = (setupByte >> 3) & 1;
    UseImageSize(setupByte >> 4);

    size_t at = 1;
    for (uint32_t units = 0; units < 12 && at + 4 <= size; units++) {
        uint8_t flags = data[at];
        uint32_t length = GetU32(data + at) >> 8; // the three bytes after the flags
        at += 4;
        if (length > size - at) length = (uint32_t)(size - at);
        if (flags & 1) stream->keyFrameWord = 1;
        // As the stream step hands a due frame on.
        gDecodeConnection = 0;
        gSliceStatus = 0;
        Decoder_DecodeFrame(data + at, length, channel);
        at += length;
    }
    Rig_End();
    return 0;
}
