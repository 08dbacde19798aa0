// Real H.264 streams for the decoder checks: made at run time with the
// ffmpeg tool (libx264, baseline, CAVLC), cut from Annex B into access
// units and rewritten with 4-byte big-endian NAL lengths, as the recorder
// sends them; and ffmpeg's own per-picture MD5 sums of the same stream.
#pragma once
#include "tests/support/Scratch.h"
#include "tests/support/Shell.h"
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace avcstream {

typedef std::vector<uint8_t> Bytes;

inline bool HaveFfmpeg() { return ::Shell("ffmpeg -hide_banner -encoders 2>/dev/null | grep -q libx264") == 0; }

// Encodes frames of ffmpeg's test source at w x h into an Annex B file.
// extra: further ffmpeg output options.
inline bool MakeAnnexB(const std::string& path, int w, int h, int frames, const std::string& extra = "",
                       const std::string& source = "testsrc2")
{
    char cmd[1024];
    snprintf(cmd, sizeof cmd,
             "ffmpeg -hide_banner -loglevel error -y -f lavfi -i %s=size=%dx%d:rate=25 -frames:v %d "
             "-c:v libx264 -profile:v baseline -coder 0 -bf 0 -pix_fmt yuv420p %s -f h264 '%s' 2>&1",
             source.c_str(), w, h, frames, extra.c_str(), path.c_str());
    return Shell(cmd) == 0;
}

struct Nal {
    const uint8_t* data;
    size_t size;
};

inline std::vector<Nal> SplitAnnexB(const Bytes& b)
{
    std::vector<Nal> nals;
    size_t i = 0, n = b.size(), start = std::string::npos;
    while (i + 3 <= n) {
        if (b[i] == 0 && b[i + 1] == 0 && b[i + 2] == 1) {
            if (start != std::string::npos) {
                size_t end = i;
                while (end > start && b[end - 1] == 0) end--;
                nals.push_back({b.data() + start, end - start});
            }
            i += 3;
            start = i;
        } else {
            i++;
        }
    }
    if (start != std::string::npos && start < n) nals.push_back({b.data() + start, n - start});
    return nals;
}

// Access units in "avc1" framing: each NAL unit behind its 4-byte length.
inline std::vector<Bytes> AccessUnits(const Bytes& annexB)
{
    std::vector<Bytes> units;
    Bytes current;
    bool hasSlice = false;
    for (const Nal& nal : SplitAnnexB(annexB)) {
        if (nal.size == 0) continue;
        int type = nal.data[0] & 0x1F;
        bool vcl = type == 1 || type == 5;
        bool firstSlice = vcl && nal.size > 1 && (nal.data[1] & 0x80); // first_mb_in_slice = 0
        bool startsUnit = (type == 6 || type == 7 || type == 8 || type == 9 || firstSlice) && hasSlice;
        if (startsUnit) {
            units.push_back(current);
            current.clear();
            hasSlice = false;
        }
        uint32_t len = (uint32_t)nal.size;
        current.push_back((uint8_t)(len >> 24));
        current.push_back((uint8_t)(len >> 16));
        current.push_back((uint8_t)(len >> 8));
        current.push_back((uint8_t)len);
        current.insert(current.end(), nal.data, nal.data + nal.size);
        if (vcl) hasSlice = true;
    }
    if (!current.empty()) units.push_back(current);
    return units;
}

// ffmpeg's MD5 of every decoded picture (planar 4:2:0, rows without padding).
inline std::vector<std::string> FrameMd5(const std::string& path)
{
    std::string out;
    std::vector<std::string> sums;
    if (Shell("ffmpeg -hide_banner -loglevel error -threads 1 -i '" + path +
                  "' -pix_fmt yuv420p -f framemd5 - 2>/dev/null",
              &out) != 0)
        return sums;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty() || line[0] == '#') continue;
        size_t comma = line.rfind(',');
        if (comma == std::string::npos) continue;
        std::string sum = line.substr(comma + 1);
        while (!sum.empty() && sum[0] == ' ') sum.erase(0, 1);
        sums.push_back(sum);
    }
    return sums;
}

inline std::string TempDir() { return ScratchDir("tavlin-avc"); }

} // namespace avcstream
