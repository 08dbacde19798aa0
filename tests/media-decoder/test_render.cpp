// The display on the control's own form: Image_video's bitmap as the
// start-up prepares it, pictures drawn into it by mode (live as they are,
// playback field pictures doubled or deinterlaced; which filter each size
// and mode gets, checked row by row against the filter's rules), the
// pictures that are not drawn, and the time label; decoded and odd-sized pictures, handed
// over in planes of exactly their own size, drawn into bitmaps smaller and
// larger than their image. One control exists per process, so it is
// created once for all tests.
#include "FieldFilterRule.h"
#include "control/TavlinImpl1.h"
#include "control/TavlinProj1_TLB.h"
#include "control/TavlinXImpl.h"
#include "control/View.h"
#include "link/Conn.h"
#include "media/DateText.h"
#include "media/Decoder.h"
#include "media/Display.h"
#include "media/Stream.h"
#include "platform/com/Com.h"
#include "tests/support/AvcStream.h"
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

ITavlinX* gControl = nullptr;

class ControlEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        ASSERT_EQ(TavlinX_Create(IID_ITavlinX, (void**)&gControl), S_OK);
        ASSERT_NE(gViewerForm, nullptr);
        // What the first connect registers: Image_video and Label_time on channel 0.
        TConnection* c = &gConnections[0];
        strcpy(c->host, "127.0.0.1");
        Stream_RegisterDisplays(c);
        ASSERT_NE(gDisplayTargets[0].connection, nullptr);
    }
};
::testing::Environment* const gEnv = ::testing::AddGlobalTestEnvironment(new ControlEnvironment);

TBitmap* Bitmap() { return gViewerForm->Image_video->Picture()->Bitmap(); }
uint32_t At(int x, int y) { return ((const uint32_t*)Bitmap()->ScanLine(y))[x]; }

void Clear(uint32_t value)
{
    for (int y = 0; y < Bitmap()->Height(); y++) {
        uint32_t* row = (uint32_t*)Bitmap()->ScanLine(y);
        for (int x = 0; x < Bitmap()->Width(); x++) row[x] = value;
    }
}

// Flat planes of one colour.
struct TFlat {
    uint32_t w, h;
    std::vector<uint8_t> y, u, v;
    TFlat(uint32_t width, uint32_t height, uint8_t luma, uint8_t cb, uint8_t cr)
        : w(width), h(height), y(width * height, luma), u(width / 2 * (height / 2), cb), v(u.size(), cr)
    {
    }
    void Show(uint32_t channel = 0)
    {
        gDecoderChannel = (int32_t)channel;
        Render_OnPicture(y.data(), u.data(), v.data(), w, w / 2, w, h);
    }
};

// Every pixel of the bitmap is value.
bool All(uint32_t value)
{
    for (int y = 0; y < Bitmap()->Height(); y++)
        for (int x = 0; x < Bitmap()->Width(); x++)
            if (At(x, y) != value) return false;
    return true;
}

class RenderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        gSliceStatus = 0;
        gConnections[0].view->mode = VIEW_LIVE;
        gStreamRecords[0].fieldPicture = 0;
        Clear(0x01020304u);
    }
};

TEST_F(RenderTest, TheImageIsPreparedAs32BitBitmapOfItsSize)
{
    TImage* image = gViewerForm->Image_video;
    EXPECT_EQ(Bitmap()->PixelFormat(), pf32bit);
    EXPECT_EQ(Bitmap()->Width(), image->Width());
    EXPECT_EQ(Bitmap()->Height(), image->Height());
    EXPECT_EQ(image->Width(), 640);
    EXPECT_EQ(image->Height(), 512);
    EXPECT_FALSE(image->Enabled()); // the mouse passes through to the form
    ASSERT_NE(image->Parent(), nullptr);
    EXPECT_TRUE(image->Parent()->DoubleBuffered());
}

TEST_F(RenderTest, LivePictureIsDrawnCentredWithGreyBands)
{
    TFlat p(640, 480, 100, 128, 128);
    p.Show();
    for (int x : {0, 320, 639}) {
        EXPECT_EQ(At(x, 0), 0xff3c3c3cu);
        EXPECT_EQ(At(x, 15), 0xff3c3c3cu);
        EXPECT_EQ(At(x, 16), 0x00646464u);
        EXPECT_EQ(At(x, 495), 0x00646464u);
        EXPECT_EQ(At(x, 496), 0xff3c3c3cu);
        EXPECT_EQ(At(x, 511), 0xff3c3c3cu);
    }
}

TEST_F(RenderTest, PicturesThatAreNotDrawn)
{
    TFlat p(640, 480, 100, 128, 128);
    struct {
        const char* what;
        int32_t slice;
        uint32_t mode;
        uint32_t channel;
    } rows[] = {
        {"a slice failed", -1, VIEW_LIVE, 0},
        {"setup mode shows no picture", 0, VIEW_SETUP, 0},
        {"channel 1 has no display target", 0, VIEW_LIVE, 1},
        {"no channel 2", 0, VIEW_LIVE, 2},
        {"local file without its target", 0, VIEW_LOCAL_PLAYBACK, 0},
    };
    for (auto& r : rows) {
        gSliceStatus = r.slice;
        gConnections[0].view->mode = r.mode;
        p.Show(r.channel);
        EXPECT_TRUE(All(0x01020304u)) << r.what;
    }
    gSliceStatus = 0;
    gConnections[0].view->mode = VIEW_LIVE;
    Render_OnPicture(p.y.data(), p.u.data(), p.v.data(), 640, 320, 0, 480);
    Render_OnPicture(p.y.data(), p.u.data(), p.v.data(), 640, 320, 640, 0);
    EXPECT_TRUE(All(0x01020304u)) << "a picture without size";
    TFlat big(720, 576, 50, 128, 128);
    big.Show();
    EXPECT_TRUE(All(0x01020304u)) << "wider than the decoder accepts";
}

TEST_F(RenderTest, PlaybackFieldPicturesFillTheImage)
{
    // Flat pictures stay flat through line doubling, deinterlacing and
    // scaling, and cover the whole image.
    gConnections[0].view->mode = VIEW_PLAYBACK;
    gStreamRecords[0].fieldPicture = 1;
    uint32_t flat = Render_YuvToPixel(150, 110, 140);
    for (auto size : {std::make_pair(704u, 240u), std::make_pair(704u, 576u), std::make_pair(704u, 288u),
                      std::make_pair(352u, 288u), std::make_pair(320u, 240u)}) {
        Clear(0x01020304u);
        TFlat p(size.first, size.second, 150, 110, 140);
        for (int n = 0; n < 3; n++) p.Show();
        EXPECT_TRUE(All(flat)) << size.first << "x" << size.second;
    }
}

TEST_F(RenderTest, PicturesFittedAsFieldsButDrawnAsFramesFillTheImage)
{
    // A 640-pixel picture of 257 to 274 lines fits the image at twice its
    // height, but a picture of that width is never line-doubled: it is
    // scaled to the whole image instead of leaving the rows below it to the
    // picture before.
    uint32_t flat = Render_YuvToPixel(150, 110, 140);
    for (uint32_t mode : {(uint32_t)VIEW_LIVE, (uint32_t)VIEW_PLAYBACK})
        for (uint32_t h : {258u, 270u, 274u}) {
            gConnections[0].view->mode = mode;
            gStreamRecords[0].fieldPicture = mode == VIEW_PLAYBACK ? 1 : 0;
            Clear(0x01020304u);
            TFlat p(640, h, 150, 110, 140);
            for (int n = 0; n < 2; n++) p.Show();
            EXPECT_TRUE(All(flat)) << "640x" << h << " mode " << mode;
        }
}

// Which filter a picture gets, by mode, field picture flag and size, on
// the 640 x 512 image: the work plane after a picture with moving
// diagonal edges (four still pictures before it, so the motion state is
// known) holds the rows the rules give for a deinterlaced frame, a
// deinterlaced field or a doubled field; a copied picture leaves no
// filtered row (each row is the picture's own line or was not written).
TEST_F(RenderTest, WhichPicturesAreDeinterlacedDoubledOrCopied)
{
    enum Kind { COPIED, DOUBLED, FRAME, FIELD };
    struct {
        const char* what;
        uint32_t mode, fieldPicture, w, h;
        Kind kind;
    } rows[] = {
        {"live 704 x 576", VIEW_LIVE, 1, 704, 576, COPIED},
        {"live 704 x 240: a field by its shape", VIEW_LIVE, 0, 704, 240, DOUBLED},
        {"live 320 x 240: never filtered at width 320", VIEW_LIVE, 0, 320, 240, COPIED},
        {"live 640 x 288: not doubled at width 640", VIEW_LIVE, 0, 640, 288, COPIED},
        {"live 640 x 256", VIEW_LIVE, 0, 640, 256, DOUBLED},
        {"playback field picture 704 x 576", VIEW_PLAYBACK, 1, 704, 576, FRAME},
        {"playback frame picture 704 x 576", VIEW_PLAYBACK, 0, 704, 576, COPIED},
        {"playback field picture 704 x 240: 240 lines", VIEW_PLAYBACK, 1, 704, 240, DOUBLED},
        {"playback field picture 704 x 256: 256 lines", VIEW_PLAYBACK, 1, 704, 256, DOUBLED},
        {"playback field picture 704 x 288", VIEW_PLAYBACK, 1, 704, 288, FIELD},
        {"playback field picture 640 x 288", VIEW_PLAYBACK, 1, 640, 288, FRAME},
        {"playback field picture 352 x 480", VIEW_PLAYBACK, 1, 352, 480, FRAME},
        {"playback field picture 320 x 480", VIEW_PLAYBACK, 1, 320, 480, COPIED},
        {"playback field picture 320 x 160", VIEW_PLAYBACK, 1, 320, 160, COPIED},
        {"backup field picture 704 x 576", VIEW_BACKUP, 1, 704, 576, FRAME},
        {"local file field picture 704 x 576", VIEW_LOCAL_PLAYBACK, 1, 704, 576, COPIED},
        {"local file 704 x 240", VIEW_LOCAL_PLAYBACK, 1, 704, 240, DOUBLED},
    };
    TStreamRecord* s = &gStreamRecords[0];
    for (auto& row : rows) {
        SCOPED_TRACE(row.what);
        gConnections[0].view->mode = row.mode;
        s->fieldPicture = row.fieldPicture;
        s->localTarget = row.mode == VIEW_LOCAL_PLAYBACK ? gViewerForm->Image_video : nullptr;
        const uint32_t w = row.w, h = row.h;
        fieldrule::TLumaPicture still = fieldrule::MovingEdges(w, h, 0, 0), moved = fieldrule::MovingEdges(w, h, 3, 1);
        std::vector<uint8_t> chroma((size_t)(w / 2) * (h / 2), 128);
        gDecoderChannel = 0;
        for (int n = 0; n < 4; n++) Render_OnPicture(still.y.data(), chroma.data(), chroma.data(), w, w / 2, w, h);
        for (uint32_t r = 0; r <= 2 * h; r++) memset(Render_WorkRow(w, r), 0x5A, w);
        Render_OnPicture(moved.y.data(), chroma.data(), chroma.data(), w, w / 2, w, h);

        fieldrule::TFieldRule rule;
        rule.StartStill(still);
        std::vector<std::vector<uint8_t>> expected;
        if (row.kind == DOUBLED) expected = rule.Run(moved, 1, 0, nullptr);
        if (row.kind == FRAME) expected = rule.Run(moved, 0, 1, nullptr);
        if (row.kind == FIELD) expected = rule.Run(moved, 1, 1, nullptr);
        if (row.kind != COPIED) {
            for (uint32_t r = 0; r < expected.size(); r++)
                ASSERT_EQ(memcmp(Render_WorkRow(w, r), expected[r].data(), w), 0) << "work row " << r;
            continue;
        }
        for (uint32_t r = 0; r <= 2 * h; r++) {
            const uint8_t* got = Render_WorkRow(w, r);
            bool untouched = true;
            for (uint32_t x = 0; x < w && untouched; x++) untouched = got[x] == 0x5A;
            bool ownLine = r < h && memcmp(got, &moved.y[(size_t)r * w], w) == 0;
            ASSERT_TRUE(untouched || ownLine) << "work row " << r << " was filtered";
        }
    }
    s->localTarget = nullptr;
}

TEST_F(RenderTest, TheTimeLabelShowsTheFrameTime)
{
    TStreamRecord* s = &gStreamRecords[0];
    s->heldChannel = 0;
    s->displayTime = 384246489; // a recorder time in 2012
    TFlat p(640, 480, 100, 128, 128);
    p.Show();
    char text[32];
    Text_FormatDateTime(s->displayTime, text, sizeof text);
    EXPECT_EQ(gViewerForm->Label_time->Caption(), text);
    s->displayTime += 61;
    p.Show();
    Text_FormatDateTime(s->displayTime, text, sizeof text);
    EXPECT_EQ(gViewerForm->Label_time->Caption(), text);
}

// Decoded pictures copied into planes of exactly their own size (rows of
// the picture's width, no padding), so that the address checker catches
// any read past the last row or column, then drawn through the display.
struct TExactPicture {
    std::vector<uint8_t> y, u, v;
    uint32_t w = 0, h = 0, pictures = 0;
};
TExactPicture gExact;

void DrawExact(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t ys, uint32_t cs, uint32_t w, uint32_t h)
{
    uint32_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    gExact.w = w;
    gExact.h = h;
    gExact.y.resize((size_t)w * h);
    gExact.u.resize((size_t)cw * ch);
    gExact.v.resize((size_t)cw * ch);
    for (uint32_t r = 0; r < h; r++) memcpy(&gExact.y[(size_t)r * w], y + (size_t)r * ys, w);
    for (uint32_t r = 0; r < ch; r++) {
        memcpy(&gExact.u[(size_t)r * cw], u + (size_t)r * cs, cw);
        memcpy(&gExact.v[(size_t)r * cw], v + (size_t)r * cs, cw);
    }
    gExact.pictures++;
    Render_OnPicture(gExact.y.data(), gExact.u.data(), gExact.v.data(), w, cw, w, h);
}

TEST_F(RenderTest, OddSizedPicturesStayInsideTheirPlanesAndTheBitmap)
{
    // Widths and heights that are odd (chroma of (n + 1) / 2 samples), down
    // to a single pixel, drawn at their own size and scaled, as frames and
    // as doubled fields.
    TImage* image = gViewerForm->Image_video;
    const uint32_t sizes[][2] = {{1, 1}, {3, 5}, {17, 15}, {35, 23}, {351, 289}, {641, 481}, {703, 575}, {639, 255}};
    const int targets[][2] = {{640, 512}, {37, 25}, {352, 290}};
    uint32_t seed = 5;
    for (auto& t : targets)
        for (auto& size : sizes)
            for (uint32_t mode : {(uint32_t)VIEW_LIVE, (uint32_t)VIEW_PLAYBACK}) {
                SCOPED_TRACE(testing::Message()
                             << size[0] << "x" << size[1] << " on " << t[0] << "x" << t[1] << " mode " << mode);
                image->SetWidth(t[0]);
                image->SetHeight(t[1]);
                Video_PrepareImage(image);
                Clear(0x01020304u);
                gConnections[0].view->mode = mode;
                gStreamRecords[0].fieldPicture = mode == VIEW_PLAYBACK ? 1 : 0;
                uint32_t w = size[0], h = size[1], cw = (w + 1) / 2, ch = (h + 1) / 2;
                std::vector<uint8_t> y((size_t)w * h), u((size_t)cw * ch), v((size_t)cw * ch);
                for (auto* plane : {&y, &u, &v})
                    for (auto& b : *plane) b = (uint8_t)((seed = seed * 1103515245u + 12345u) >> 16);
                for (int n = 0; n < 2; n++) DrawExact(y.data(), u.data(), v.data(), w, cw, w, h);
                uint32_t drawn = 0;
                for (int yy = 0; yy < t[1]; yy++)
                    for (int xx = 0; xx < t[0]; xx++) {
                        uint32_t p = At(xx, yy);
                        ASSERT_TRUE(p == 0x01020304u || p == 0xff3c3c3cu || (p >> 24) == 0) << xx << "," << yy;
                        if ((p >> 24) == 0) drawn++;
                    }
                EXPECT_GT(drawn, 0u);
            }
    image->SetWidth(640);
    image->SetHeight(512);
    Video_PrepareImage(image);
}

TEST_F(RenderTest, DecodedPicturesOfEverySizeStayInsideTheirPlanesAndTheBitmap)
{
    if (!avcstream::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg with libx264 is not installed";
    std::string dir = avcstream::TempDir();
    TImage* image = gViewerForm->Image_video;
    struct Size {
        uint32_t w, h;
    } streams[] = {{16, 16}, {48, 32}, {350, 290}, {702, 574}, {704, 576}, {320, 240}, {640, 288}};
    // Image sizes, and bitmaps that differ from their image.
    struct Target {
        int iw, ih, bw, bh;
    } targets[] = {{640, 512, 640, 512}, {638, 509, 638, 509},   {100, 60, 100, 60},   {17, 13, 17, 13},
                   {1, 1, 1, 1},         {1000, 800, 1000, 800}, {640, 512, 300, 200}, {640, 512, 900, 700},
                   {350, 290, 350, 290}, {702, 574, 702, 574}};
    const uint32_t marker = 0x01020304u;
    std::vector<std::vector<avcstream::Bytes>> all;
    for (const Size& size : streams) {
        std::string path = dir + "/s.h264";
        avcstream::Bytes annexB;
        ASSERT_TRUE(avcstream::MakeAnnexB(path, (int)size.w, (int)size.h, 3, "-g 2") && ReadFile(path, &annexB));
        std::vector<avcstream::Bytes> units = avcstream::AccessUnits(annexB);
        ASSERT_EQ(units.size(), 3u);
        all.push_back(units);
        for (const Target& t : targets)
            for (uint32_t mode : {(uint32_t)VIEW_LIVE, (uint32_t)VIEW_PLAYBACK}) {
                SCOPED_TRACE(testing::Message() << size.w << "x" << size.h << " on " << t.iw << "x" << t.ih
                                                << " bitmap " << t.bw << "x" << t.bh << " mode " << mode);
                image->SetWidth(t.iw);
                image->SetHeight(t.ih);
                Video_PrepareImage(image);
                Bitmap()->SetSize(t.bw, t.bh);
                Clear(marker);
                gConnections[0].view->mode = mode;
                gStreamRecords[0].fieldPicture = mode == VIEW_PLAYBACK ? 1 : 0;
                gExact = TExactPicture();
                Decoder_SetPictureSink(DrawExact);
                for (const avcstream::Bytes& u : units) {
                    gDecodeConnection = 0;
                    EXPECT_EQ(Decoder_DecodeFrame(u.data(), (uint32_t)u.size(), 0), 1);
                }
                Decoder_SetPictureSink(nullptr);
                EXPECT_EQ(gExact.pictures, 3u);
                EXPECT_EQ(gExact.w, size.w);
                EXPECT_EQ(gExact.h, size.h);
                // Every pixel is the grey around the picture, a picture pixel
                // (top byte 0) or was left alone; nothing beyond the drawn width
                // (at most 640 columns) is touched.
                uint32_t drawn = 0;
                for (int yy = 0; yy < t.bh; yy++) {
                    const uint32_t* row = (const uint32_t*)Bitmap()->ScanLine(yy);
                    for (int xx = 0; xx < t.bw; xx++) {
                        uint32_t p = row[xx];
                        if (xx >= DISPLAY_MAX_WIDTH || yy >= DISPLAY_MAX_HEIGHT) {
                            ASSERT_EQ(p, marker) << xx << "," << yy;
                            continue;
                        }
                        ASSERT_TRUE(p == marker || p == 0xff3c3c3cu || (p >> 24) == 0) << xx << "," << yy;
                        if ((p >> 24) == 0) drawn++;
                    }
                }
                EXPECT_GT(drawn, 0u);
            }
    }
    image->SetWidth(640);
    image->SetHeight(512);
    Video_PrepareImage(image);
    // A size change with every frame, through the deinterlacer (whose
    // previous picture then has another size) and the plain copy; only key
    // frames here, each of them is drawn.
    Decoder_SetPictureSink(DrawExact);
    for (uint32_t mode : {(uint32_t)VIEW_PLAYBACK, (uint32_t)VIEW_LIVE}) {
        gConnections[0].view->mode = mode;
        gStreamRecords[0].fieldPicture = mode == VIEW_PLAYBACK ? 1 : 0;
        gExact = TExactPicture();
        for (int round = 0; round < 3; round++)
            for (size_t k = 0; k < all.size(); k++) {
                gDecodeConnection = 0;
                EXPECT_EQ(Decoder_DecodeFrame(all[k][0].data(), (uint32_t)all[k][0].size(), 0), 1);
                EXPECT_EQ(gExact.w, streams[k].w);
                EXPECT_EQ(gExact.h, streams[k].h);
            }
        EXPECT_EQ(gExact.pictures, 3 * all.size());
    }
    Decoder_SetPictureSink(nullptr);
    Shell("rm -rf '" + dir + "'");
}

} // namespace
