// tavlin-mov: writes a file of recorder frames (as dvr-sim --dump-frames
// makes them) as one movie through the viewer's movie writer and prints
// the reason in the closing record.
//
//   tavlin-mov FRAMES OUT.mov [--watermark N]
#include "media/Mov.h"
#include "tools/mov/MovWrite.h"
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

static int Usage()
{
    fprintf(stderr, "usage: tavlin-mov FRAMES OUT.mov [--watermark N]\n");
    return 2;
}

int main(int argc, char** argv)
{
    const char* in = nullptr;
    const char* out = nullptr;
    unsigned long watermark = 1;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--watermark") == 0 && i + 1 < argc) {
            char* end = nullptr;
            errno = 0;
            watermark = strtoul(argv[++i], &end, 0);
            if (errno || *end || watermark > 0xFFFFFFFFul) return Usage();
        } else if (!in) {
            in = argv[i];
        } else if (!out) {
            out = argv[i];
        } else {
            return Usage();
        }
    }
    if (!in || !out) return Usage();
    FILE* f = fopen(in, "rb");
    if (!f) {
        fprintf(stderr, "tavlin-mov: cannot read %s\n", in);
        return 1;
    }
    std::vector<uint8_t> frames;
    uint8_t chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) frames.insert(frames.end(), chunk, chunk + n);
    fclose(f);

    MovToolResult r;
    int rc = MovTool_Write(frames.data(), frames.size(), out, (uint32_t)watermark, &r);
    const TMovWriter& w = gMovWriter;
    printf("frames %u refused %u bad %u\n", r.frames, r.refused, r.bad);
    printf("samples video=%u sync=%u text=%u sound-chunks=%u sound-bytes=%u\n", w.samples, w.syncs, w.textSamples,
           w.soundChunks, w.soundBytes);
    printf("reason %u value %u limit %u\n", gMovClosing.reason, gMovClosing.value, gMovClosing.limit);
    if (rc != 0) {
        fprintf(stderr, "tavlin-mov: writing %s failed\n", out);
        return 1;
    }
    if (!r.complete) {
        fprintf(stderr, "tavlin-mov: no video key frame: nothing written\n");
        return 1;
    }
    return 0;
}
