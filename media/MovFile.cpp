// The movie reader. Owns the 1 MB work buffer, the count of bytes the last
// read brought and gMovReadTables. Nothing read from a file is trusted:
// every size, count and offset is checked against what was read, the
// atom sizes and the writer's caps before it is used.
#include "media/MovFile.h"
#include "link/Bytes.h"
#include <cstdio>
#include <cstring>

TMovReadTables gMovReadTables;
static uint8_t gWork[MOVFILE_WORK_SIZE];
static uint32_t gReadLength;

static bool TagAt(const uint8_t* p, const char* tag) { return memcmp(p, tag, 4) == 0; }

uint32_t MovFile_ReadLength() { return gReadLength; }
const uint8_t* MovFile_Work() { return gWork; }

void MovFile_Clear()
{
    TMovReadTables* t = &gMovReadTables;
    t->mediaLength = t->moovSize = t->frameRate = 0;
    t->syncCount = t->sampleCount = 0;
}

int MovFile_ReadAt(uint32_t n, uint64_t offset, const char* name)
{
    gReadLength = 0;
    if (n > MOVFILE_WORK_SIZE) n = MOVFILE_WORK_SIZE;
    memset(gWork, 0, n);
    if (!name || !name[0]) return -1;
    FILE* f = fopen(name, "rb");
    if (!f) return -1;
    int rc = -1;
    if (offset <= (uint64_t)INT64_MAX && fseeko(f, (off_t)offset, SEEK_SET) == 0) {
        gReadLength = (uint32_t)fread(gWork, 1, n, f);
        rc = 0;
    }
    fclose(f);
    return rc;
}

// Reads exactly n bytes at offset: 0, or -1 when fewer arrived.
static int ReadWhole(uint32_t n, uint64_t offset, const char* name)
{
    if (n > MOVFILE_WORK_SIZE) return -1;
    if (MovFile_ReadAt(n, offset, name) != 0) return -1;
    return gReadLength == n ? 0 : -1;
}

int MovFile_ReadHead(const char* name)
{
    gMovReadTables.mediaLength = 0;
    if (ReadWhole(MOVFILE_HEAD_SIZE, 0, name) != 0) return -1;
    const uint8_t* w = gWork;
    // Our head is exactly "ftyp" of 32 bytes with the brand "qt  ", "wide"
    // of 8 and the "mdat" header; anything else was written elsewhere.
    if (GetBe32(w) != 32 || !TagAt(w + 4, "ftyp") || !TagAt(w + 8, "qt  ")) return -1;
    if (GetBe32(w + 32) != 8 || !TagAt(w + 36, "wide") || !TagAt(w + 44, "mdat")) return -1;
    uint32_t length = GetBe32(w + 40);
    // The media data holds at least its header and the closing block.
    if (length < 8 + 4096 || length > 0xFFFFFFFFu - 40) return -1;
    gMovReadTables.mediaLength = length;
    return 0;
}

int MovFile_ReadMovieHeader(const char* name)
{
    TMovReadTables* t = &gMovReadTables;
    t->moovSize = t->frameRate = 0;
    if (t->mediaLength == 0) return -1;
    if (ReadWhole(MOVFILE_MOVIE_HEADER_SIZE, (uint64_t)t->mediaLength + 40, name) != 0) return -1;
    const uint8_t* w = gWork;
    if (!TagAt(w + 4, "moov") || !TagAt(w + 12, "mvhd")) return -1;
    uint32_t moov = GetBe32(w);
    if (moov < MOVFILE_MOVIE_HEADER_SIZE || GetBe32(w + 8) != MOVFILE_MOVIE_HEADER_SIZE - 8) return -1;
    uint32_t scale = GetBe32(w + 28);
    uint32_t rate = scale / 20;
    if (scale % 20 != 0 || rate == 0 || rate > 60) return -1;
    t->moovSize = moov;
    t->frameRate = rate;
    return 0;
}

// The atom at offset a within limit bytes: its size when it carries tag,
// is at least min bytes long and lies wholly within the limit, else 0.
static uint32_t AtomAt(uint32_t a, uint32_t limit, const char* tag, uint32_t min)
{
    if (a > limit || limit - a < 8) return 0;
    uint32_t size = GetBe32(gWork + a);
    if (!TagAt(gWork + a + 4, tag) || size < min || size > limit - a) return 0;
    return size;
}

int MovFile_ReadTables(const char* name)
{
    TMovReadTables* t = &gMovReadTables;
    t->syncCount = t->sampleCount = 0;
    if (t->mediaLength == 0 || t->moovSize == 0) return -1;
    if (MovFile_ReadAt(MOVFILE_WORK_SIZE, (uint64_t)t->mediaLength + 40, name) != 0) return -1;
    // Only what was read, and only the moov, is searched.
    uint32_t limit = gReadLength < t->moovSize ? gReadLength : t->moovSize;
    uint32_t a = 0;
    bool found = false;
    for (uint32_t p = 4; p + 4 <= limit; ++p)
        if (TagAt(gWork + p, "stss")) {
            a = p - 4;
            found = true;
            break;
        }
    if (!found) return -1;
    uint32_t stss = AtomAt(a, limit, "stss", 16);
    if (stss == 0) return -1;
    uint32_t syncs = GetBe32(gWork + a + 12);
    if (syncs > MOVFILE_SYNC_CAP || syncs > (stss - 16) / 4) return -1;
    uint32_t b = a + stss;
    uint32_t stsc = AtomAt(b, limit, "stsc", 16);
    if (stsc == 0) return -1;
    uint32_t z = b + stsc;
    uint32_t stsz = AtomAt(z, limit, "stsz", 20);
    if (stsz == 0) return -1;
    uint32_t count = GetBe32(gWork + z + 16);
    // Every video sample has its own size (the sample-size field is 0).
    if (GetBe32(gWork + z + 12) != 0 || count > MOVFILE_SAMPLE_CAP || count > (stsz - 20) / 4) return -1;
    uint32_t o = z + stsz;
    uint32_t stco = AtomAt(o, limit, "stco", 16);
    if (stco == 0) return -1;
    if (GetBe32(gWork + o + 12) != count || count > (stco - 16) / 4) return -1;

    for (uint32_t i = 0; i < syncs; ++i) t->syncTable[i] = GetBe32(gWork + a + 16 + 4 * i);
    for (uint32_t i = 0; i < count; ++i) {
        t->sampleSizes[i] = GetBe32(gWork + z + 20 + 4 * i);
        t->chunkOffsets[i] = GetBe32(gWork + o + 16 + 4 * i);
    }
    t->syncCount = syncs;
    t->sampleCount = count;
    return (int)count;
}

int MovFile_Load(const char* name)
{
    int n = -1;
    if (MovFile_ReadHead(name) == 0 && MovFile_ReadMovieHeader(name) == 0) n = MovFile_ReadTables(name);
    if (n < 0) MovFile_Clear();
    return n;
}

// Reads sample i whole into the work buffer: its size, or 0.
static uint32_t ReadSampleBytes(uint32_t i, const char* name)
{
    const TMovReadTables* t = &gMovReadTables;
    if (i >= t->sampleCount) return 0;
    uint32_t size = t->sampleSizes[i];
    if (size < MOVFILE_MIN_SAMPLE || size > MOVFILE_WORK_SIZE) return 0;
    uint32_t offset = t->chunkOffsets[i];
    // A sample lies inside the media data.
    if (offset < MOVFILE_HEAD_SIZE || (uint64_t)offset + size > (uint64_t)t->mediaLength + 40) return 0;
    if (ReadWhole(size, offset, name) != 0) return 0;
    return size;
}

uint32_t MovFile_ReadSampleHeader(uint32_t i, uint8_t* header, const char* name)
{
    uint32_t size = ReadSampleBytes(i, name);
    if (size == 0) return 0;
    if (header) memcpy(header, gWork + size - MOVFILE_HEADER_BACK, 32);
    return size - 32;
}

uint32_t MovFile_FixNalLengths(uint8_t* data, uint32_t n)
{
    if (!data) return 0;
    uint32_t changed = 0;
    uint32_t at = 0;
    while (n - at >= 4) {
        uint32_t length = GetBe32(data + at);
        uint32_t present = n - at - 4;
        if (length > present) {
            PutBe32(data + at, present);
            changed += 1;
            break;
        }
        at += 4 + length;
    }
    return changed;
}

uint32_t MovFile_ReadSample(uint32_t i, uint8_t* out, uint32_t room, const char* name)
{
    if (!out) return 0;
    if (i >= gMovReadTables.sampleCount) return 0;
    uint32_t size = gMovReadTables.sampleSizes[i];
    if (size < MOVFILE_MIN_SAMPLE || size - 32 > room) return 0;
    if (ReadSampleBytes(i, name) != size) return 0;
    uint8_t* header = gWork + size - MOVFILE_HEADER_BACK;
    header[23] = (uint8_t)(header[23] | 0x60); // source 3: a local file
    memcpy(out, header, 32);
    uint32_t payload = size - MOVFILE_TRAILER_SIZE;
    memcpy(out + 32, gWork, payload);
    // The writer let the last NAL unit run on through the trailer, which is
    // gone here: its length must not promise bytes that are not there.
    MovFile_FixNalLengths(out + 32, payload);
    return size - 32;
}
