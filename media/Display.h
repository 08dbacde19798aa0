// Picture display: every decoded picture is fitted to its image (drawn at
// its own size and centred, or scaled), its luma deinterlaced, line-doubled
// or copied into the work plane, the time labels updated, and the picture
// converted into the image's 32-bit bitmap (Scale.cpp) and repainted.
// Owns the work luma plane, the previous luma picture, the block motion
// tables and the direction search tables; all static, sized for the
// largest picture the decoder channels accept.
#pragma once
#include <cstdint>

class TImage;
struct TStreamRecord;

// One picture's way through fitting, filtering and scaling.
struct TRenderJob {
    uint32_t width; // the decoded picture's size
    uint32_t height;
    uint32_t scaleWidth; // the scaler's source size, after the filter
    uint32_t scaleHeight;
    uint32_t fieldFlag;   // 1: a single field, lines doubled
    uint32_t deinterlace; // 1: the picture is deinterlaced
    uint32_t yStride;
    uint32_t chromaStride;
    const uint8_t* y;
    const uint8_t* u;
    const uint8_t* v;
    uint32_t xOffset; // where a centred picture starts
    uint32_t yOffset;
    uint32_t targetWidth; // the image size, then the size drawn
    uint32_t targetHeight;
    uint32_t scale;       // 1: scaled to the target
    uint32_t lumaInPlace; // 1: no filter ran; the luma is read from y, not the work plane
};

enum {
    // The display's largest target (the size of Image_video).
    DISPLAY_MAX_WIDTH = 640,
    DISPLAY_MAX_HEIGHT = 512,
    // Work plane rows: a margin of 8 rows above and below, 32 bytes left and right.
    WORK_MARGIN_ROWS = 8,
    WORK_MARGIN_BYTES = 32,
    // The colour of the area around a centred picture.
    DISPLAY_BORDER = (int32_t)0xff3c3c3c,
};

// The image's picture becomes a pf32bit bitmap of the image's size; the
// image lets the mouse through; its parent paints double-buffered.
void Video_PrepareImage(TImage* image);
// Draws one decoded picture of the channel in gDecoderChannel.
void Render_OnPicture(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t yStride, uint32_t chromaStride,
                      uint32_t width, uint32_t height);
// Rounds the target, sets the field flag, chooses centring or scaling.
void Display_FitSize(TRenderJob* job);
// Field filter of the luma plane into the work plane.
void Render_Deinterlace(TRenderJob* job);
// The luma plane into the work plane unchanged.
void Render_CopyPlanes(TRenderJob* job);
// The stream's current frame time into its time labels.
void Osd_UpdateTime(TStreamRecord* stream);
int32_t AbsInt(int32_t value);

// The work luma plane's row r (0 = the picture's first row) for a picture
// of width w. A job whose lumaInPlace is set is drawn from its luma plane
// instead (the plain code copies it here first).
uint8_t* Render_WorkRow(uint32_t w, uint32_t r);
// Still count of a 16 x 16 block of the deinterlacer (0 .. 2).
uint32_t Render_StillCount(uint32_t band, uint32_t group);

// --- Scaling and colour conversion (Scale.cpp) -------------------------------

// Converts the prepared picture into the image's bitmap, row by row.
void Render_ScaleToBitmap(TImage* image, TRenderJob* job);
// The same into rows of 32-bit pixels; rows[i] is row i of a bitmap of
// width x height pixels. Nothing is written outside it.
void Render_ScaleToRows(const TRenderJob* job, uint32_t* const* rows, uint32_t width, uint32_t height);
// The red, green and blue offsets of one chroma pair, each limited to
// -255 .. 255.
void Render_ChromaOffsets(uint32_t u, uint32_t v, int32_t* red, int32_t* green, int32_t* blue);
// One picture pixel (top byte 0).
uint32_t Render_YuvToPixel(uint32_t y, uint32_t u, uint32_t v);
// The ways of scaling and converting, all drawing the same pixels: the
// plain code (scalar), the plain code with its SSE2/SSSE3 steps, and the
// fused row-by-row code in SSSE3 or AVX2. The best the processor has runs.
enum {
    RENDER_PATH_PLAIN = 0,
    RENDER_PATH_SSE2 = 1,
    RENDER_PATH_SSSE3 = 2,
    RENDER_PATH_AVX2 = 3,
};
// Test seam: 0 runs the plain code (as on a processor without vector
// instructions), 1 the best path again.
void Render_UseVectorCode(int on);
// Test seam: runs the given path from now on; 0 (and no change) when this
// processor does not have it.
int Render_UsePath(int32_t path);
// Bilinear resampling of n inputs to count outputs (12-bit positions,
// 8-bit weights); outputs are written out[k * outStep]. The place after
// the last input counts as a copy of it.
void Render_Resample(const uint32_t* in, uint32_t n, uint32_t* out, uint32_t count, uint32_t outStep);
