// tavlin-bench: what the picture path costs. For real 640 x 480 and
// 704 x 576 streams (made with the ffmpeg tool at run time) it prints the
// cost per frame of decoding plus display through decoder channel 0 into
// the control's Image_video, of the scaling and colour conversion alone,
// ffmpeg's own single-threaded decode to BGRA for comparison, and the heap
// allocations per frame in steady state (counted by this program's malloc
// hook, on the user-interface thread only). It also times the control's
// creation to the first picture drawn in Image_video against dvr-sim on
// loopback, and the movie writer's cost per frame and throughput on a
// camera stream against ffmpeg remuxing the same stream into a movie.
//
//   tavlin-bench [--frames N] [--no-sim]
#include "control/Properties.h"
#include "control/TavlinImpl1.h"
#include "control/TavlinXImpl.h"
#include "control/TavlinProj1_TLB.h"
#include "control/View.h"
#include "link/Conn.h"
#include "media/Decoder.h"
#include "media/Display.h"
#include "media/Stream.h"
#include "platform/com/Com.h"
#include "platform/vcl/Vcl.h"
#include "tests/support/AvcStream.h"
#include "tests/support/SimProcess.h"
#include "tools/mov/MovWrite.h"

#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// --- Allocation counter ---------------------------------------------------------

#if !defined(__SANITIZE_ADDRESS__)
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void* __libc_memalign(size_t, size_t);
void __libc_free(void*);
}

namespace {
// Counted only on the thread that set tCounting (the user-interface thread;
// the audio thread's own work is not the picture path's).
__thread int tCounting = 0;
unsigned long gAllocations = 0;
inline void Count()
{
    if (tCounting) gAllocations++;
}
} // namespace

extern "C" {
void* malloc(size_t n)
{
    Count();
    return __libc_malloc(n);
}
void* calloc(size_t a, size_t b)
{
    Count();
    return __libc_calloc(a, b);
}
void* realloc(void* p, size_t n)
{
    Count();
    return __libc_realloc(p, n);
}
void free(void* p) { __libc_free(p); }
int posix_memalign(void** out, size_t align, size_t n)
{
    Count();
    void* p = __libc_memalign(align, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}
void* aligned_alloc(size_t align, size_t n)
{
    Count();
    return __libc_memalign(align, n);
}
void* memalign(size_t align, size_t n)
{
    Count();
    return __libc_memalign(align, n);
}
}
#define TAVLIN_BENCH_COUNTS 1
#else
// The address sanitizer owns the allocator: nothing is counted.
namespace {
__thread int tCounting = 0;
unsigned long gAllocations = 0;
} // namespace
#endif

// --- The bench -------------------------------------------------------------------

namespace {

typedef std::chrono::steady_clock Clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The last picture the display was given, for timing the conversion alone.
struct TLastPicture {
    const uint8_t *y = nullptr, *u = nullptr, *v = nullptr;
    uint32_t yStride = 0, cStride = 0, w = 0, h = 0;
} gLast;

bool gDrawn = false;
uint32_t gCentre0 = 0;

uint32_t CentrePixel()
{
    TBitmap* b = gViewerForm->Image_video->Picture()->Bitmap();
    if (b->Width() < 2 || b->Height() < 2) return 0;
    return ((const uint32_t*)b->ScanLine(b->Height() / 2))[b->Width() / 2];
}

void Show(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t ys, uint32_t cs, uint32_t w, uint32_t h)
{
    Render_OnPicture(y, u, v, ys, cs, w, h);
    gLast = {y, u, v, ys, cs, w, h};
    if (!gDrawn && CentrePixel() != gCentre0) gDrawn = true;
}

void NoShow(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint32_t ys, uint32_t cs, uint32_t w, uint32_t h)
{
    gLast = {y, u, v, ys, cs, w, h};
}

VARIANT Text(const char* s)
{
    VARIANT v;
    VariantInit(&v);
    Variant_SetText(&v, s);
    return v;
}

// The control's creation to its first picture in Image_video: -1 when none came.
double FirstPicture(bool withSim, SimProcess* sim)
{
    auto t0 = Clock::now();
    ITavlinX* control = nullptr;
    if (TavlinX_Create(IID_ITavlinX, (void**)&control) != S_OK || !gViewerForm) return -2;
    gCentre0 = CentrePixel();
    Decoder_SetPictureSink(Show);
    if (!withSim) return -1;
    char port[16];
    snprintf(port, sizeof port, "%u", (unsigned)sim->port());
    const std::pair<int, const char*> puts[] = {
        {PROP_DVRIP, "127.0.0.1"}, {PROP_HTTP_PORT, port}, {PROP_DVR_UK, "5F3A1B2C.1234.5678"}};
    for (auto& p : puts) {
        VARIANT v = Text(p.second);
        Property_Put(p.first, v);
        VariantClear(&v);
    }
    bool ok = Application_ProcessMessagesUntil([] { return gDrawn; }, 15000);
    return ok ? Ms(Clock::now() - t0) : -1;
}

// ffmpeg's own decode to BGRA, one thread: ms per frame of user time, the
// process's start and its first picture taken out (a run of one frame).
double FfmpegUserMs(const std::string& path, const char* frames)
{
    std::string out;
    Shell(std::string("ffmpeg -hide_banner -nostdin -benchmark -threads 1 -i '") + path + "' " + frames +
                       " -pix_fmt bgra -f null - 2>&1",
                   &out);
    size_t at = out.find("utime=");
    return at == std::string::npos ? -1 : atof(out.c_str() + at + 6) * 1000.0;
}

double FfmpegPerFrame(const std::string& path, uint32_t frames)
{
    if (frames < 2) return -1;
    double best = -1;
    for (int run = 0; run < 3; run++) {
        double all = FfmpegUserMs(path, ""), one = FfmpegUserMs(path, "-frames:v 1");
        if (all < 0 || one < 0) return -1;
        double perFrame = (all - one) / (frames - 1);
        if (best < 0 || perFrame < best) best = perFrame;
    }
    return best;
}

double CpuMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

int Decode(const avcstream::Bytes& unit)
{
    gDecodeConnection = 0;
    return Decoder_DecodeFrame(unit.data(), (uint32_t)unit.size(), 0);
}

void BenchStream(const std::string& dir, int w, int h, uint32_t frames)
{
    std::string path = dir + "/bench" + std::to_string(w) + ".h264";
    avcstream::Bytes annexB;
    if (!avcstream::MakeAnnexB(path, w, h, (int)frames, "-g 50 -preset medium", "testsrc2") ||
        !ReadFile(path, &annexB)) {
        printf("%dx%d: could not make the stream with ffmpeg\n", w, h);
        return;
    }
    std::vector<avcstream::Bytes> units = avcstream::AccessUnits(annexB);
    // One pass to warm up: the decoder's first-picture set-up, the caches.
    Decoder_SetPictureSink(Show);
    uint32_t pictures = 0;
    for (auto& u : units) pictures += (uint32_t)Decode(u);

    // Decode plus display, wall time and CPU time of this thread.
    gSliceStatus = 0;
    gAllocations = 0;
    tCounting = 1;
    double c0 = CpuMs();
    auto t0 = Clock::now();
    for (auto& u : units) Decode(u);
    double wall = Ms(Clock::now() - t0), cpu = CpuMs() - c0;
    tCounting = 0;
    unsigned long allAllocations = gAllocations;

    // Decode alone, to split the allocations between decoder and display.
    Decoder_SetPictureSink(NoShow);
    gAllocations = 0;
    tCounting = 1;
    double d0 = CpuMs();
    for (auto& u : units) Decode(u);
    double decodeCpu = CpuMs() - d0;
    tCounting = 0;
    unsigned long decodeAllocations = gAllocations;
    Decoder_SetPictureSink(Show);

    // Display alone on the last picture: fitting, copy, scaling, colour
    // conversion, labels and the repaint.
    gAllocations = 0;
    tCounting = 1;
    double r0 = CpuMs();
    for (uint32_t i = 0; i < frames; i++)
        Render_OnPicture(gLast.y, gLast.u, gLast.v, gLast.yStride, gLast.cStride, gLast.w, gLast.h);
    double displayCpu = CpuMs() - r0;
    tCounting = 0;
    unsigned long displayAllocations = gAllocations;

    // Scaling and colour conversion alone into a 640 x 512 pixel block.
    static uint32_t pixels[640 * 512];
    static uint32_t* rows[512];
    for (int r = 0; r < 512; r++) rows[r] = pixels + r * 640;
    TRenderJob job{};
    job.width = gLast.w;
    job.height = gLast.h;
    job.yStride = gLast.yStride;
    job.chromaStride = gLast.cStride;
    job.y = gLast.y;
    job.u = gLast.u;
    job.v = gLast.v;
    job.targetWidth = 640;
    job.targetHeight = 512;
    Display_FitSize(&job);
    job.fieldFlag = 0;
    Render_CopyPlanes(&job);
    job.scaleWidth = gLast.w;
    job.scaleHeight = gLast.h;
    double s0 = CpuMs();
    for (uint32_t i = 0; i < frames; i++) Render_ScaleToRows(&job, rows, 640, 512);
    double convertCpu = CpuMs() - s0;

    double ffmpeg = FfmpegPerFrame(path, (uint32_t)units.size());
    double n = (double)units.size();
    printf("%dx%d, %zu frames (libx264 baseline, CAVLC), %u pictures, %s\n", w, h, units.size(), pictures,
           job.scale ? "scaled to 640x512" : "drawn at its own size");
    printf("  decode + display          %7.3f ms/frame CPU  (%.3f wall)\n", cpu / n, wall / n);
    printf("    of which decode         %7.3f ms/frame CPU\n", decodeCpu / n);
    printf("    of which display        %7.3f ms/frame CPU  (fit, copy, scale, colour, repaint)\n",
           displayCpu / frames);
    printf("  scale + colour conversion %7.3f ms/frame CPU\n", convertCpu / frames);
    if (ffmpeg > 0)
        printf("  ffmpeg -threads 1 -i X -pix_fmt bgra -f null -: %.3f ms/frame user; ratio decode+display / ffmpeg %.2f\n",
               ffmpeg, (cpu / n) / ffmpeg);
#if defined(TAVLIN_BENCH_COUNTS)
    printf("  heap allocations per frame in steady state: display %.2f, decode %.2f (inside libavcodec), all %.2f\n",
           displayAllocations / (double)frames, decodeAllocations / n, allAllocations / n);
#else
    (void)displayAllocations;
    (void)decodeAllocations;
    (void)allAllocations;
    printf("  heap allocations: not counted in a sanitizer build\n");
#endif
}

// rtime of an ffmpeg run, ms (its own -benchmark line); -1 when it failed.
double FfmpegRealMs(const std::string& args)
{
    std::string out;
    Shell("ffmpeg -hide_banner -nostdin -benchmark -y " + args + " 2>&1", &out);
    size_t at = out.find("rtime=");
    return at == std::string::npos ? -1 : atof(out.c_str() + at + 6) * 1000.0;
}

// The movie writer on a camera stream as a backup brings it (dvr-sim's
// frames), against ffmpeg remuxing the same H.264 stream into a movie.
void BenchMovie(const std::string& dir, uint32_t frames)
{
    std::string camera = dir + "/movie-camera.h264", dump = dir + "/movie.frames";
    uint32_t seconds = (frames + 24) / 25;
    avcstream::Bytes d;
    if (!avcstream::MakeAnnexB(camera, 640, 480, (int)(seconds * 25), "-g 50 -preset medium", "testsrc2") ||
        Shell(std::string(DVR_SIM_PATH) + " --pal --no-audio --camera '" + camera + "' --dump-frames '" + dump +
              "' --seconds " + std::to_string(seconds) + " >/dev/null 2>&1") != 0 ||
        !ReadFile(dump, &d)) {
        printf("movie writer: could not make the frames with ffmpeg and dvr-sim\n");
        return;
    }
    // The same video as an H.264 stream for ffmpeg: every NAL unit of every
    // video unit behind a start code.
    avcstream::Bytes annexB;
    uint32_t video = 0;
    for (size_t at = 0; at + 32 <= d.size();) {
        uint32_t unit = 64u * (d[at + 18] | (d[at + 19] << 8));
        if (unit < 32 || unit > d.size() - at) break;
        if ((d[at + 11] >> 6) == 1) {
            ++video;
            for (size_t p = at + 32; p + 4 <= at + unit;) {
                uint32_t n = ((uint32_t)d[p] << 24) | (d[p + 1] << 16) | (d[p + 2] << 8) | d[p + 3];
                if (n == 0 || n > at + unit - p - 4) break;
                static const uint8_t start[4] = {0, 0, 0, 1};
                annexB.insert(annexB.end(), start, start + 4);
                annexB.insert(annexB.end(), d.begin() + (long)p + 4, d.begin() + (long)(p + 4 + n));
                p += 4 + n;
            }
        }
        at += unit;
    }
    std::string same = dir + "/movie-same.h264";
    FILE* f = fopen(same.c_str(), "wb");
    if (!f || fwrite(annexB.data(), 1, annexB.size(), f) != annexB.size()) {
        if (f) fclose(f);
        printf("movie writer: could not write the stream\n");
        return;
    }
    fclose(f);

    std::string out = dir + "/movie-writer.mov";
    double best = -1;
    MovToolResult r{};
    for (int run = 0; run < 3; run++) {
        auto t0 = Clock::now();
        if (MovTool_Write(d.data(), d.size(), out.c_str(), 1, &r) != 0) {
            printf("movie writer: writing failed\n");
            return;
        }
        double ms = Ms(Clock::now() - t0);
        if (best < 0 || ms < best) best = ms;
    }
    double ffmpeg = -1;
    for (int run = 0; run < 3; run++) {
        std::string in = "-f h264 -framerate 25 -i '" + same + "' -c copy -f mov ";
        double all = FfmpegRealMs(in + "'" + dir + "/movie-ffmpeg.mov'");
        double one = FfmpegRealMs(in + "-frames:v 1 '" + dir + "/movie-ffmpeg1.mov'");
        if (all < 0 || one < 0) break;
        double perFrame = (all - one) / (video - 1);
        if (ffmpeg < 0 || perFrame < ffmpeg) ffmpeg = perFrame;
    }
    double writer = best / video;
    printf("movie writer, 640x480 camera stream (libx264 baseline), %u frames, %.1f MB\n", video,
           d.size() / 1048576.0);
    printf("  tavlin movie writer        %7.4f ms/frame wall, %8.0f frames/s\n", writer, 1000.0 / writer);
    if (ffmpeg > 0)
        printf("  ffmpeg -c copy -f mov      %7.4f ms/frame wall, %8.0f frames/s; ratio writer / ffmpeg %.2f\n",
               ffmpeg, 1000.0 / ffmpeg, writer / ffmpeg);
    else
        printf("  ffmpeg -c copy -f mov: no timing\n");
}

} // namespace

int main(int argc, char** argv)
{
    uint32_t frames = 200;
    bool withSim = true;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc) frames = (uint32_t)atoi(argv[++i]);
        else if (a == "--no-sim") withSim = false;
        else {
            fprintf(stderr, "usage: tavlin-bench [--frames N] [--no-sim]\n");
            return 2;
        }
    }
    if (frames < 10) frames = 10;
    if (!avcstream::HaveFfmpeg()) {
        fprintf(stderr, "tavlin-bench: needs the ffmpeg tool with libx264\n");
        return 1;
    }
    std::string dir = avcstream::TempDir();
    setenv("TAVLIN_REGISTRY", (dir + "/registry").c_str(), 1);
    if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!getenv("systemroot")) setenv("systemroot", TAVLIN_WINROOT, 1);

    SimProcess* sim = new SimProcess;
    if (withSim && !sim->Start({"--port", "0", "--gop", "1"})) withSim = false;
    double first = FirstPicture(withSim, sim);
    if (first == -2) {
        fprintf(stderr, "tavlin-bench: the control did not start\n");
        return 1;
    }
    if (withSim && first >= 0)
        printf("control created to first picture in Image_video (dvr-sim on loopback): %.1f ms\n", first);
    else if (withSim)
        printf("control created: no picture from dvr-sim within 15 s\n");
    delete sim; // the recorder goes away; the control is not run again
    // The display draws for connection 0 in Live mode.
    if (!gDisplayTargets[0].connection) Display_Register(&gConnections[0], 0, 0);
    if (gConnections[0].view) gConnections[0].view->mode = VIEW_LIVE;

    BenchStream(dir, 640, 480, frames);
    BenchStream(dir, 704, 576, frames);
    BenchMovie(dir, frames < 250 ? 250 : frames);
    Shell("rm -rf '" + dir + "'");
    fflush(stdout);
    _exit(0); // the control lives until the process ends
}
