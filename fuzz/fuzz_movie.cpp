// Movie files read back, as local playback reads a backup's movie: the
// file head, the movie header, the video track's tables, then samples as
// recorder frames (the frame header from each sample's trailer, the NAL
// lengths cut to the bytes present).
//
// Input: the movie file. The reader works on file names, so each input is
// written to a file of its own in the temporary folder first.
#include "media/MovFile.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string gPath;
std::vector<uint8_t> gFrame(MOVFILE_WORK_SIZE);

[[noreturn]] void Fail(const char* what, uint32_t i, uint32_t n)
{
    fprintf(stderr, "movie reader: %s (sample %u, %u bytes)\n", what, i, n);
    abort();
}

void ReadSample(uint32_t i, uint32_t count)
{
    uint8_t header[32];
    uint32_t n = MovFile_ReadSampleHeader(i, header, gPath.c_str());
    if (i >= count && n != 0) Fail("a sample beyond the tables was read", i, n);
    if (n + 32 > MOVFILE_WORK_SIZE) Fail("a sample larger than the work buffer", i, n);
    // As playback takes it: into a frame buffer just the frame's size (the
    // header and the sample without its trailer), in memory of its own.
    std::vector<uint8_t> frame(n > 0 ? n : 1);
    uint32_t got = MovFile_ReadSample(i, frame.data(), (uint32_t)frame.size(), gPath.c_str());
    if (got > frame.size()) Fail("more than the room", i, got);
    if (got != 0 && (frame[23] & 0x60) != 0x60) Fail("not marked as from a local file", i, got);
    if (got != 0 && MovFile_FixNalLengths(frame.data() + 32, got - 32) != 0)
        Fail("NAL lengths left running past the end", i, got);
    // Too little room: nothing.
    if (got != 0 && MovFile_ReadSample(i, gFrame.data(), got - 1, gPath.c_str()) != 0)
        Fail("a sample taken without the room", i, got);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    const char* dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : (getenv("TMPDIR") ? getenv("TMPDIR") : "/tmp");
    gPath = std::string(dir) + "/tavlin-fuzz-movie-" + std::to_string(getpid()) + ".mov";
    atexit([] { unlink(gPath.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* f = fopen(gPath.c_str(), "wb");
    if (!f) return 0;
    if (size && fwrite(data, 1, size, f) != size) {
        fclose(f);
        return 0;
    }
    fclose(f);
    MovFile_Clear();
    int count = MovFile_Load(gPath.c_str());
    if (count < 0) {
        if (gMovReadTables.sampleCount != 0 || gMovReadTables.syncCount != 0)
            Fail("tables kept after a failed load", 0, 0);
        return 0;
    }
    if ((uint32_t)count != gMovReadTables.sampleCount || gMovReadTables.sampleCount > MOVFILE_SAMPLE_CAP ||
        gMovReadTables.syncCount > MOVFILE_SYNC_CAP)
        Fail("tables beyond their caps", 0, (uint32_t)count);
    uint32_t n = (uint32_t)count;
    // The first samples, the last ones, a sync sample and one past the end.
    for (uint32_t i = 0; i < n && i < 8; ++i) ReadSample(i, n);
    for (uint32_t i = n > 8 ? (n > 12 ? n - 4 : 8) : n; i < n; ++i) ReadSample(i, n);
    if (gMovReadTables.syncCount > 0) ReadSample(gMovReadTables.syncTable[gMovReadTables.syncCount - 1] - 1, n);
    ReadSample(n, n);
    return 0;
}
