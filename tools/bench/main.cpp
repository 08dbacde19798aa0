// tavlin-bench: what the picture path costs a user. For real 640 x 480 and
// 704 x 576 streams (made with the ffmpeg tool at run time) it measures,
// with the control's form shown (offscreen without a display) so that the
// repaint counts, the cost per frame of decode + display + repaint through
// decoder channel 0 into Image_video, and each phase alone: decode, scale +
// colour conversion, repaint. The references, on the same streams and the
// same output size: ffmpeg decoding and converting on one thread
// (-threads 1 -filter_threads 1), and in process the bare libavcodec call,
// libyuv's I420ToARGB and libswscale's bilinear scale to BGRA. Every figure
// is CPU time of the working thread (for ffmpeg: its user + system time),
// the median of several rounds; the machine may be shared, so the ratios
// are the figures to read. It also counts the heap allocations per frame
// in steady state (this program's malloc hook, user-interface thread only),
// and the movie writer's cost per frame and throughput on a camera stream
// against ffmpeg remuxing the same stream into a movie. Before the ratio
// lines it breaks the time from creating the control to its first picture
// against dvr-sim into the control's own milestones (platform/win/Win.h),
// medians of runs in fresh processes of this program, and
// prints the goal line.
//
//   tavlin-bench [--frames N] [--rounds N] [--runs N] [--first-picture] [--no-sim]
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
#include "platform/win/Win.h"
#include "tests/support/AvcStream.h"
#include "tests/support/SimProcess.h"
#include "tools/mov/MovWrite.h"

#include <libyuv.h>
extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include <algorithm>
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
// the audio thread's own work is not the picture path's); those made while
// the decoder runs the viewer's buffer hook are counted apart as well.
__thread int tCounting = 0;
__thread int tInHook = 0;
unsigned long gAllocations = 0;
unsigned long gHookAllocations = 0;
inline void Count()
{
    if (!tCounting) return;
    gAllocations++;
    if (tInHook) gHookAllocations++;
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
__thread int tInHook = 0;
unsigned long gAllocations = 0;
unsigned long gHookAllocations = 0;
} // namespace
#endif

// --- The bench -------------------------------------------------------------------

namespace {

typedef std::chrono::steady_clock Clock;
double Ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// The last picture the display was given, for timing the phases alone.
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

// The time of each milestone's first mark, ms from the control's creation
// (-1: not reached), on the user-interface thread.
Clock::time_point gCreated;
double gMilestoneAt[MILESTONE_COUNT];

void OnMilestone(int m)
{
    if (m >= 0 && m < MILESTONE_COUNT && gMilestoneAt[m] < 0) gMilestoneAt[m] = Ms(Clock::now() - gCreated);
}

// The control's creation to its first picture in Image_video: -1 when none came.
double FirstPicture(bool withSim, SimProcess* sim)
{
    for (double& at : gMilestoneAt) at = -1;
    Win_SetMilestoneSink(OnMilestone);
    auto t0 = gCreated = Clock::now();
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

double Median(std::vector<double> v)
{
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The first picture in a process of its own (one control per process):
// dvr-sim on loopback, the control created, its properties put as a page
// puts them. Prints one line: "first-picture TOTAL" and each milestone's
// time, ms from the creation (-1: not reached).
int FirstPictureChild()
{
    SimProcess sim;
    sim.QuietErrors();
    if (!sim.Start({"--port", "0", "--gop", "1"})) {
        printf("first-picture no-sim\n");
        return 1;
    }
    double first = FirstPicture(true, &sim);
    printf("first-picture %.3f", first);
    for (double at : gMilestoneAt) printf(" %.3f", at);
    printf("\n");
    return first >= 0 ? 0 : 1;
}

struct TFirstPictureRuns {
    std::vector<double> total;
    std::vector<std::vector<double>> at; // per run, per milestone
    uint32_t failed = 0;
};

// Runs the first picture in runs fresh processes of this program, one
// after another.
TFirstPictureRuns FirstPictureRuns(uint32_t runs)
{
    TFirstPictureRuns r;
    char self[4096];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return r;
    self[n] = 0;
    for (uint32_t i = 0; i < runs; i++) {
        std::string out;
        Shell(std::string("'") + self + "' --first-picture-child 2>/dev/null", &out);
        size_t at = out.find("first-picture ");
        std::vector<double> v;
        if (at != std::string::npos) {
            const char* p = out.c_str() + at + 14;
            char* end = nullptr;
            for (double x = strtod(p, &end); end != p; x = strtod(p, &end)) {
                v.push_back(x);
                p = end;
            }
        }
        if (v.size() != 1 + MILESTONE_COUNT || v[0] < 0) {
            r.failed++;
            continue;
        }
        r.total.push_back(v[0]);
        r.at.push_back(std::vector<double>(v.begin() + 1, v.end()));
    }
    return r;
}

const char* const kMilestoneNames[MILESTONE_COUNT] = {"form and components built",
                                                      "skins and background loaded",
                                                      "fonts (first text laid out)",
                                                      "first connect",
                                                      "login granted",
                                                      "handshake done",
                                                      "first video command sent",
                                                      "first frame received",
                                                      "first picture decoded",
                                                      "first picture drawn"};

// The milestones in the order a median run reaches them, each with the
// median of its time from the creation and the median of its step from
// the milestone before it in that order.
void PrintFirstPicture(const TFirstPictureRuns& r)
{
    size_t runs = r.total.size();
    printf("first picture, dvr-sim on loopback: medians of %zu runs (a process each)%s, ms from creating the "
           "control\n",
           runs, r.failed ? "; some runs brought no picture" : "");
    if (runs == 0) {
        printf("control created: no picture from dvr-sim within 15 s\n");
        printf("goal first picture <= 150 ms median: not measured\n");
        return;
    }
    std::vector<std::pair<double, int>> order;
    for (int m = 0; m < MILESTONE_COUNT; m++) {
        std::vector<double> at;
        for (auto& run : r.at)
            if (run[m] >= 0) at.push_back(run[m]);
        if (!at.empty()) order.push_back({Median(at), m});
    }
    std::sort(order.begin(), order.end());
    printf("  %-30s %8s %8s\n", "phase", "at", "step");
    for (size_t i = 0; i < order.size(); i++) {
        int m = order[i].second;
        std::vector<double> step;
        for (auto& run : r.at) {
            if (run[m] < 0) continue;
            double before = 0;
            if (i > 0 && run[order[i - 1].second] >= 0) before = run[order[i - 1].second];
            step.push_back(run[m] - before);
        }
        printf("  %-30s %8.1f %8.1f\n", kMilestoneNames[m], order[i].first, Median(step));
    }
    for (int m = 0; m < MILESTONE_COUNT; m++) {
        bool reached = false;
        for (auto& o : order) reached = reached || o.second == m;
        if (!reached) printf("  %-30s %8s\n", kMilestoneNames[m], "-");
    }
    std::vector<double> sorted = r.total;
    std::sort(sorted.begin(), sorted.end());
    double median = Median(r.total);
    printf("control created to first picture in Image_video (dvr-sim on loopback): %.1f ms (median of %zu, %.1f to "
           "%.1f)\n",
           median, runs, sorted.front(), sorted.back());
    printf("goal first picture <= 150 ms median: %s (%.1f ms)\n", median <= 150 ? "met" : "not met", median);
}

// ffmpeg decoding and converting to BGRA of the size we draw, on one
// thread: ms of user + system time for the run.
double FfmpegCpuMs(const std::string& path, const std::string& scale, const char* frames)
{
    std::string out;
    Shell(std::string("ffmpeg -hide_banner -nostdin -benchmark -threads 1 -filter_threads 1 -i '") + path + "' " +
              scale + frames + " -pix_fmt bgra -f null - 2>&1",
          &out);
    size_t u = out.find("utime="), s = out.find("stime=");
    if (u == std::string::npos || s == std::string::npos) return -1;
    return (atof(out.c_str() + u + 6) + atof(out.c_str() + s + 6)) * 1000.0;
}

// One round: ms per frame, the process's start and its first picture taken
// out (a run of one frame).
double FfmpegPerFrame(const std::string& path, const std::string& scale, uint32_t frames)
{
    if (frames < 2) return -1;
    double all = FfmpegCpuMs(path, scale, ""), one = FfmpegCpuMs(path, scale, " -frames:v 1");
    if (all < 0 || one < 0) return -1;
    return (all - one) / (frames - 1);
}

double CpuMs()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

// The viewer's get-buffer hook on decoder channel 0, run through a wrapper
// that marks where it runs.
int (*gViewerGetBuffer)(AVCodecContext*, AVFrame*, int) = nullptr;

int MarkedGetBuffer(AVCodecContext* context, AVFrame* frame, int flags)
{
    tInHook = 1;
    int r = gViewerGetBuffer(context, frame, flags);
    tInHook = 0;
    return r;
}

void MarkTheHook()
{
    AVCodecContext* context = gDecoderChannels[0].context;
    if (!context || context->get_buffer2 == MarkedGetBuffer) return;
    gViewerGetBuffer = context->get_buffer2;
    context->get_buffer2 = MarkedGetBuffer;
}

int Decode(const avcstream::Bytes& unit)
{
    gDecodeConnection = 0;
    return Decoder_DecodeFrame(unit.data(), (uint32_t)unit.size(), 0);
}

#if defined(__x86_64__) || defined(__i386__)
__attribute__((target("avx"))) void CleanUpperState() { _mm256_zeroupper(); }
#endif

// The bare libavcodec call on the same access units, as a program of its
// own makes it: one thread, low delay, the same length-prefixed framing,
// and the vector registers' upper halves clean as in a fresh process.
struct TBareDecoder {
    AVCodecContext* context = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    std::vector<uint8_t> input;
    bool Open()
    {
        const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
        context = codec ? avcodec_alloc_context3(codec) : nullptr;
        if (!context) return false;
        context->thread_count = 1;
        context->thread_type = 0;
        context->flags |= AV_CODEC_FLAG_LOW_DELAY;
        static const uint8_t kAvcC[7] = {1, 66, 0, 30, 0xFC | 3, 0xE0 | 0, 0};
        context->extradata = (uint8_t*)av_mallocz(sizeof kAvcC + AV_INPUT_BUFFER_PADDING_SIZE);
        memcpy(context->extradata, kAvcC, sizeof kAvcC);
        context->extradata_size = sizeof kAvcC;
        packet = av_packet_alloc();
        frame = av_frame_alloc();
        return avcodec_open2(context, codec, nullptr) == 0 && packet && frame;
    }
    void Run(const std::vector<avcstream::Bytes>& units)
    {
#if defined(__x86_64__) || defined(__i386__)
        if (__builtin_cpu_supports("avx")) CleanUpperState();
#endif
        for (auto& u : units) {
            if (input.size() < u.size() + AV_INPUT_BUFFER_PADDING_SIZE)
                input.resize(u.size() + AV_INPUT_BUFFER_PADDING_SIZE);
            memcpy(input.data(), u.data(), u.size());
            memset(input.data() + u.size(), 0, AV_INPUT_BUFFER_PADDING_SIZE);
            packet->data = input.data();
            packet->size = (int)u.size();
            avcodec_send_packet(context, packet);
            while (avcodec_receive_frame(context, frame) >= 0) av_frame_unref(frame);
        }
    }
    ~TBareDecoder()
    {
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }
};

// Each figure of one stream over the rounds, ms per frame.
struct TFigures {
    std::vector<double> shown, decode, convert, repaint, bare, libyuv, swscale, ffmpeg;
    double wall = 0;
};

struct TResult {
    double shown, decode, convert, repaint, bare, libyuv, swscale, ffmpeg;
};

TResult BenchStream(const std::string& dir, int w, int h, uint32_t frames, uint32_t rounds)
{
    TResult none{-1, -1, -1, -1, -1, -1, -1, -1};
    std::string path = dir + "/bench" + std::to_string(w) + ".h264";
    avcstream::Bytes annexB;
    if (!avcstream::MakeAnnexB(path, w, h, (int)frames, "-g 50 -preset medium", "testsrc2") ||
        !ReadFile(path, &annexB)) {
        printf("%dx%d: could not make the stream with ffmpeg\n", w, h);
        return none;
    }
    std::vector<avcstream::Bytes> units = avcstream::AccessUnits(annexB);
    double n = (double)units.size();
    // One pass to warm up: the decoder's first-picture set-up, the caches.
    MarkTheHook();
    Decoder_SetPictureSink(Show);
    uint32_t pictures = 0;
    for (auto& u : units) pictures += (uint32_t)Decode(u);

    // The conversion alone: the last picture fitted to Image_video's size,
    // from the decoded planes into a pixel block, as the display draws a
    // picture no filter runs on (a luma copy into the work plane, where the
    // code makes one, counts: the references start from the decoded planes).
    TImage* image = gViewerForm->Image_video;
    uint32_t bw = (uint32_t)image->Width(), bh = (uint32_t)image->Height();
    static uint32_t pixels[DISPLAY_MAX_WIDTH * DISPLAY_MAX_HEIGHT];
    static uint32_t* rows[DISPLAY_MAX_HEIGHT];
    if (bw > DISPLAY_MAX_WIDTH) bw = DISPLAY_MAX_WIDTH;
    if (bh > DISPLAY_MAX_HEIGHT) bh = DISPLAY_MAX_HEIGHT;
    for (uint32_t r = 0; r < bh; r++) rows[r] = pixels + r * bw;
    TRenderJob fitted{};
    fitted.width = gLast.w;
    fitted.height = gLast.h;
    fitted.yStride = gLast.yStride;
    fitted.chromaStride = gLast.cStride;
    fitted.y = gLast.y;
    fitted.u = gLast.u;
    fitted.v = gLast.v;
    fitted.targetWidth = bw;
    fitted.targetHeight = bh;
    Display_FitSize(&fitted);
    fitted.fieldFlag = 0;
    if (!fitted.scale) fitted.targetHeight = fitted.targetHeight < gLast.h ? fitted.targetHeight : gLast.h;
    fitted.scaleWidth = gLast.w;
    fitted.scaleHeight = gLast.h;
    fitted.lumaInPlace = 1;
    uint32_t outW = fitted.targetWidth, outH = fitted.targetHeight;

    // The references' own set-up, outside the timing.
    TBareDecoder bare;
    bool haveBare = bare.Open();
    std::vector<uint8_t> argb((size_t)outW * outH * 4 + 64);
    SwsContext* sws = sws_getContext((int)gLast.w, (int)gLast.h, AV_PIX_FMT_YUV420P, (int)outW, (int)outH,
                                     AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
    std::string ffScale =
        fitted.scale ? "-vf scale=" + std::to_string(outW) + ":" + std::to_string(outH) + ":flags=bilinear " : "";

    TFigures f;
    unsigned long allAllocations = 0, decodeAllocations = 0, displayAllocations = 0, repaintAllocations = 0,
                  hookAllocations = 0;
    for (uint32_t round = 0; round < rounds; round++) {
        // Decode + display + repaint, as the user gets it.
        Decoder_SetPictureSink(Show);
        gSliceStatus = 0;
        gAllocations = 0;
        tCounting = 1;
        double c0 = CpuMs();
        auto t0 = Clock::now();
        for (auto& u : units) Decode(u);
        f.wall += Ms(Clock::now() - t0) / n / rounds;
        f.shown.push_back((CpuMs() - c0) / n);
        tCounting = 0;
        allAllocations += gAllocations;

        // Decode alone inside the viewer.
        Decoder_SetPictureSink(NoShow);
        gAllocations = 0;
        gHookAllocations = 0;
        tCounting = 1;
        double d0 = CpuMs();
        for (auto& u : units) Decode(u);
        f.decode.push_back((CpuMs() - d0) / n);
        tCounting = 0;
        decodeAllocations += gAllocations;
        hookAllocations += gHookAllocations;
        Decoder_SetPictureSink(Show);

        // The viewer's own display path on the last picture (fitting, copy,
        // scaling, colour, labels) with the image hidden: nothing of Qt's
        // painting counts here.
        image->SetVisible(false);
        gAllocations = 0;
        tCounting = 1;
        for (uint32_t i = 0; i < 20; i++)
            Render_OnPicture(gLast.y, gLast.u, gLast.v, gLast.yStride, gLast.cStride, gLast.w, gLast.h);
        tCounting = 0;
        displayAllocations += gAllocations;
        image->SetVisible(true);

        // Scale + colour conversion alone.
        TRenderJob job = fitted;
        double s0 = CpuMs();
        for (uint32_t i = 0; i < frames; i++) Render_ScaleToRows(&job, rows, bw, bh);
        f.convert.push_back((CpuMs() - s0) / frames);

        // The repaint alone: the bitmap marked as written, as by a picture.
        TBitmap* bitmap = image->Picture()->Bitmap();
        gAllocations = 0;
        tCounting = 1;
        double p0 = CpuMs();
        for (uint32_t i = 0; i < frames; i++) {
            bitmap->ScanLine(0);
            image->Repaint();
        }
        f.repaint.push_back((CpuMs() - p0) / frames);
        tCounting = 0;
        repaintAllocations += gAllocations;

        // The references.
        if (haveBare) {
            double b0 = CpuMs();
            bare.Run(units);
            f.bare.push_back((CpuMs() - b0) / n);
        }
        if (w <= (int)outW) { // the same size: a conversion alone
            double y0 = CpuMs();
            for (uint32_t i = 0; i < frames; i++)
                libyuv::I420ToARGB(gLast.y, (int)gLast.yStride, gLast.u, (int)gLast.cStride, gLast.v,
                                   (int)gLast.cStride, argb.data(), (int)outW * 4, (int)gLast.w, (int)gLast.h);
            f.libyuv.push_back((CpuMs() - y0) / frames);
        }
        if (sws) {
            const uint8_t* src[4] = {gLast.y, gLast.u, gLast.v, nullptr};
            int srcStride[4] = {(int)gLast.yStride, (int)gLast.cStride, (int)gLast.cStride, 0};
            uint8_t* dst[4] = {argb.data(), nullptr, nullptr, nullptr};
            int dstStride[4] = {(int)outW * 4, 0, 0, 0};
            double w0 = CpuMs();
            for (uint32_t i = 0; i < frames; i++) sws_scale(sws, src, srcStride, 0, (int)gLast.h, dst, dstStride);
            f.swscale.push_back((CpuMs() - w0) / frames);
        }
        double ff = FfmpegPerFrame(path, ffScale, (uint32_t)units.size());
        if (ff > 0) f.ffmpeg.push_back(ff);
    }
    if (sws) sws_freeContext(sws);

    TResult r{Median(f.shown), Median(f.decode), Median(f.convert), Median(f.repaint),
              Median(f.bare),  Median(f.libyuv), Median(f.swscale), Median(f.ffmpeg)};
    printf("%dx%d, %zu frames (libx264 baseline, CAVLC), %u pictures, %s %ux%u; medians of %u rounds, ms/frame of "
           "thread CPU time\n",
           w, h, units.size(), pictures, fitted.scale ? "scaled to" : "drawn at its own size", outW, outH, rounds);
    printf("  decode + display + repaint (shown) %7.3f  (%.3f wall)\n", r.shown, f.wall);
    printf("    decode                           %7.3f\n", r.decode);
    printf("    scale + convert                  %7.3f\n", r.convert);
    printf("    repaint                          %7.3f\n", r.repaint);
    printf("  references\n");
    printf("    ffmpeg -threads 1 -filter_threads 1 %s-pix_fmt bgra: %.3f (user + system)\n", ffScale.c_str(),
           r.ffmpeg);
    printf("    libavcodec decode alone          %7.3f\n", r.bare);
    if (r.libyuv > 0) printf("    libyuv I420ToARGB                %7.3f\n", r.libyuv);
    printf("    libswscale %-21s %7.3f\n", fitted.scale ? "bilinear scale to BGRA" : "conversion to BGRA", r.swscale);
#if defined(TAVLIN_BENCH_COUNTS)
    printf("  heap allocations per frame in steady state: display %.2f and decoder hook %.2f (the viewer's own path), "
           "decode %.2f (inside libavcodec, the hook's included), repaint %.2f (inside Qt), all %.2f\n",
           displayAllocations / (20.0 * rounds), hookAllocations / (n * rounds), decodeAllocations / (n * rounds),
           repaintAllocations / (double)(frames * rounds), allAllocations / (n * rounds));
#else
    (void)displayAllocations;
    (void)hookAllocations;
    (void)decodeAllocations;
    (void)allAllocations;
    (void)repaintAllocations;
    printf("  heap allocations: not counted in a sanitizer build\n");
#endif
    return r;
}

double Ratio(double ours, double reference) { return ours > 0 && reference > 0 ? ours / reference : 0; }

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
double BenchMovie(const std::string& dir, uint32_t frames)
{
    std::string camera = dir + "/movie-camera.h264", dump = dir + "/movie.frames";
    uint32_t seconds = (frames + 24) / 25;
    avcstream::Bytes d;
    if (!avcstream::MakeAnnexB(camera, 640, 480, (int)(seconds * 25), "-g 50 -preset medium", "testsrc2") ||
        Shell(std::string(DVR_SIM_PATH) + " --pal --no-audio --camera '" + camera + "' --dump-frames '" + dump +
              "' --seconds " + std::to_string(seconds) + " >/dev/null 2>&1") != 0 ||
        !ReadFile(dump, &d)) {
        printf("movie writer: could not make the frames with ffmpeg and dvr-sim\n");
        return 0;
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
        return 0;
    }
    fclose(f);

    std::string out = dir + "/movie-writer.mov";
    double best = -1;
    MovToolResult r{};
    for (int run = 0; run < 3; run++) {
        auto t0 = Clock::now();
        if (MovTool_Write(d.data(), d.size(), out.c_str(), 1, &r) != 0) {
            printf("movie writer: writing failed\n");
            return 0;
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
    printf("movie writer, 640x480 camera stream (libx264 baseline), %u frames, %.1f MB\n", video, d.size() / 1048576.0);
    printf("  tavlin movie writer        %7.4f ms/frame wall, %8.0f frames/s\n", writer, 1000.0 / writer);
    if (ffmpeg > 0)
        printf("  ffmpeg -c copy -f mov      %7.4f ms/frame wall, %8.0f frames/s; ratio writer / ffmpeg %.2f\n", ffmpeg,
               1000.0 / ffmpeg, writer / ffmpeg);
    else printf("  ffmpeg -c copy -f mov: no timing\n");
    return ffmpeg > 0 ? writer / ffmpeg : 0;
}

} // namespace

int main(int argc, char** argv)
{
    uint32_t frames = 200, rounds = 5;
    bool withSim = true, child = false, firstOnly = false;
    uint32_t runs = 7;
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc) frames = (uint32_t)atoi(argv[++i]);
        else if (a == "--rounds" && i + 1 < argc) rounds = (uint32_t)atoi(argv[++i]);
        else if (a == "--no-sim") withSim = false;
        else if (a == "--runs" && i + 1 < argc) runs = (uint32_t)atoi(argv[++i]);
        else if (a == "--first-picture") firstOnly = true;
        else if (a == "--first-picture-child") child = true;
        else {
            fprintf(stderr, "usage: tavlin-bench [--frames N] [--rounds N] [--runs N] [--first-picture] [--no-sim]\n");
            return 2;
        }
    }
    if (frames < 10) frames = 10;
    if (rounds < 1) rounds = 1;
    if (!child && !firstOnly && !avcstream::HaveFfmpeg()) {
        fprintf(stderr, "tavlin-bench: needs the ffmpeg tool with libx264\n");
        return 1;
    }
    std::string dir = avcstream::TempDir();
    setenv("TAVLIN_REGISTRY", (dir + "/registry").c_str(), 1);
    if (!getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
    if (!getenv("systemroot")) setenv("systemroot", TAVLIN_WINROOT, 1);

    if (child) {
        int r = FirstPictureChild();
        Shell("rm -rf '" + dir + "'");
        fflush(stdout);
        _exit(r);
    }
    TFirstPictureRuns firstRuns;
    if (withSim) firstRuns = FirstPictureRuns(runs);
    if (firstOnly) {
        Shell("rm -rf '" + dir + "'");
        if (withSim) PrintFirstPicture(firstRuns);
        return 0;
    }
    // This process's own control, for the picture path: no recorder.
    if (FirstPicture(false, nullptr) == -2) {
        fprintf(stderr, "tavlin-bench: the control did not start\n");
        return 1;
    }
    // The form is shown as a user sees it, so that every repaint paints.
    Vcl_ShowWindow(gViewerForm->Handle(), "tavlin-bench");
    Application_ProcessMessagesUntil([] { return false; }, 300);
    // The display draws for connection 0 in Live mode.
    if (!gDisplayTargets[0].connection) Display_Register(&gConnections[0], 0, 0);
    if (gConnections[0].view) gConnections[0].view->mode = VIEW_LIVE;

    TResult small = BenchStream(dir, 640, 480, frames, rounds);
    TResult large = BenchStream(dir, 704, 576, frames, rounds);
    double movie = BenchMovie(dir, frames < 250 ? 250 : frames);
    Shell("rm -rf '" + dir + "'");
    if (withSim) PrintFirstPicture(firstRuns);
    // the writer's ratio first: the picture path's five lines end the output
    printf("ratio movie writer/ffmpeg copy %.2f\n", movie);
    printf("ratio 640x480 shown/ffmpeg %.2f\n", Ratio(small.shown, small.ffmpeg));
    printf("ratio 704x576 shown/ffmpeg %.2f\n", Ratio(large.shown, large.ffmpeg));
    printf("ratio 640x480 convert/libyuv %.2f\n", Ratio(small.convert, small.libyuv));
    printf("ratio 704x576 scale/libswscale %.2f\n", Ratio(large.convert, large.swscale));
    printf("ratio decode/libavcodec %.2f\n", Ratio(small.decode + large.decode, small.bare + large.bare));
    fflush(stdout);
    _exit(0); // the control lives until the process ends
}
