// An atom walker of the tests' own for the movie files the writer makes:
// every container's size must match its children exactly, and the file
// must end with the watermark record and its padding behind the "moov".
#pragma once
#include "tests/support/Shell.h"
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace mov_test {

using Bytes = std::vector<uint8_t>;

inline uint32_t Be32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline uint32_t Be16(const uint8_t* p) { return (uint32_t(p[0]) << 8) | p[1]; }
inline uint32_t Le32(const uint8_t* p)
{
    return p[0] | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

struct Atom {
    std::string path; // "moov/trak/mdia/mdhd"
    size_t offset;    // of its size field in the file
    uint32_t size;
    size_t body() const { return offset + 8; }
};

// Bytes in front of the children of a container (0: not a container).
inline int ChildrenAt(const std::string& type, bool* container)
{
    static const char* plain[] = {"moov", "trak", "mdia", "minf", "stbl", "dinf", "edts", "tapt", "gmhd"};
    *container = true;
    for (const char* t : plain)
        if (type == t) return 0;
    if (type == "stsd" || type == "dref") return 8; // version, flags, entry count
    if (type == "avc1") return 78;                  // the sample description's fields
    *container = false;
    return 0;
}

struct Walk {
    std::vector<Atom> atoms;
    std::string error;  // empty when every size adds up
    size_t moovEnd = 0; // file offset just past the "moov"

    const Atom* Find(const std::string& path, int nth = 0) const
    {
        for (const Atom& a : atoms)
            if (a.path == path && nth-- == 0) return &a;
        return nullptr;
    }
};

inline void WalkRange(const Bytes& f, size_t from, size_t to, const std::string& parent, Walk* w)
{
    size_t at = from;
    while (at < to && w->error.empty()) {
        if (to - at < 8) {
            w->error = parent + ": " + std::to_string(to - at) + " stray bytes";
            return;
        }
        uint32_t size = Be32(&f[at]);
        std::string type(reinterpret_cast<const char*>(&f[at + 4]), 4);
        std::string path = parent.empty() ? type : parent + "/" + type;
        if (size < 8 || size > to - at) {
            w->error = path + ": size " + std::to_string(size) + " passes its parent";
            return;
        }
        w->atoms.push_back(Atom{path, at, size});
        bool container = false;
        int skip = ChildrenAt(type, &container);
        // "udta" holds a closing zero word, the "text" atom of "gmhd" and the
        // text sample entry (under "stsd") hold plain fields.
        if (container && size >= 8u + uint32_t(skip)) WalkRange(f, at + 8 + skip, at + size, path, w);
        else if (container) w->error = path + ": too short for its fields";
        at += size;
    }
}

// Walks ftyp, wide, mdat and moov; the rest must be the 160-byte watermark
// and zeros up to a multiple of 512.
inline Walk WalkFile(const Bytes& f)
{
    Walk w;
    size_t at = 0;
    for (const char* want : {"ftyp", "wide", "mdat", "moov"}) {
        if (f.size() - at < 8) {
            w.error = std::string("no ") + want;
            return w;
        }
        uint32_t size = Be32(&f[at]);
        std::string type(reinterpret_cast<const char*>(&f[at + 4]), 4);
        if (type != want) {
            w.error = "found " + type + " for " + want;
            return w;
        }
        if (size < 8 || size > f.size() - at) {
            w.error = type + ": size " + std::to_string(size) + " passes the file";
            return w;
        }
        if (type == "moov") {
            WalkRange(f, at, at + size, "", &w);
            w.moovEnd = at + size;
        } else {
            w.atoms.push_back(Atom{type, at, size});
        }
        if (!w.error.empty()) return w;
        at += size;
    }
    size_t rest = f.size() - w.moovEnd;
    if (f.size() % 512 != 0 || rest < 160 + 1 || rest > 160 + 512)
        w.error = "tail of " + std::to_string(rest) + " bytes";
    for (size_t i = w.moovEnd + 160; i < f.size() && w.error.empty(); ++i)
        if (f[i] != 0) w.error = "padding not zero";
    return w;
}

// A table of 32-bit entries of a full atom: count at body + 4 (+ skip), entries after.
inline std::vector<uint32_t> Table(const Bytes& f, const Atom* a, size_t countAt, size_t entryWords = 1)
{
    std::vector<uint32_t> v;
    if (!a) return v;
    uint32_t n = Be32(&f[a->body() + 4 + countAt]);
    size_t first = a->body() + 4 + countAt + 4;
    if (first + size_t(n) * 4 * entryWords > a->offset + a->size) return v;
    for (size_t i = 0; i < size_t(n) * entryWords; ++i) v.push_back(Be32(&f[first + 4 * i]));
    return v;
}

// The track whose handler is of this type ("vide", "soun", "text"): its
// index for Walk::Find(path, nth).
inline int TrackOf(const Bytes& f, const Walk& w, const char* handler)
{
    for (int n = 0;; ++n) {
        const Atom* h = w.Find("moov/trak/mdia/hdlr", n);
        if (!h) return -1;
        if (memcmp(&f[h->body() + 8], handler, 4) == 0) return n;
    }
}

// What a finished part holds: its first and last picture (from the
// trailers of its first and last video sample), its video samples and its
// sound bytes.
struct PartSpan {
    bool ok = false;
    uint32_t firstTime = 0, firstFrame = 0, lastTime = 0, lastFrame = 0;
    uint32_t frames = 0, soundBytes = 0;
    uint32_t firstSoundByte = 0; // the value of the sound's first byte
};

inline PartSpan ReadPart(const std::string& path)
{
    PartSpan p;
    Bytes f;
    if (!ReadFile(path, &f)) return p;
    Walk w = WalkFile(f);
    if (!w.error.empty()) return p;
    int video = TrackOf(f, w, "vide"), sound = TrackOf(f, w, "soun");
    if (video < 0) return p;
    std::vector<uint32_t> sizes = Table(f, w.Find("moov/trak/mdia/minf/stbl/stsz", video), 4);
    std::vector<uint32_t> offsets = Table(f, w.Find("moov/trak/mdia/minf/stbl/stco", video), 0);
    if (sizes.empty() || sizes.size() != offsets.size()) return p;
    auto trailer = [&](size_t i, uint32_t* t, uint32_t* n) {
        size_t at = (size_t)offsets[i] + sizes[i] - 64 + 4; // behind 00 00 00 02
        *t = Le32(&f[at + 4]);
        *n = f[at + 8];
    };
    size_t last = sizes.size() - 1;
    while (last > 0 && sizes[last] <= 32) --last; // fillers carry no trailer
    trailer(0, &p.firstTime, &p.firstFrame);
    trailer(last, &p.lastTime, &p.lastFrame);
    p.frames = (uint32_t)sizes.size();
    if (sound >= 0) {
        const Atom* mdhd = w.Find("moov/trak/mdia/mdhd", sound);
        p.soundBytes = Be32(&f[mdhd->body() + 16]);
        std::vector<uint32_t> chunks = Table(f, w.Find("moov/trak/mdia/minf/stbl/stco", sound), 0);
        if (!chunks.empty()) p.firstSoundByte = f[chunks[0]];
    }
    p.ok = true;
    return p;
}

} // namespace mov_test
