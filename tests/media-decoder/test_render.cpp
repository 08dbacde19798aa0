// The display on the control's own form: Image_video's bitmap as the
// start-up prepares it, pictures drawn into it by mode (live as they are,
// playback field pictures doubled or deinterlaced), the pictures that are
// not drawn, and the time label. One control exists per process, so it is
// created once for all tests.
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

} // namespace
