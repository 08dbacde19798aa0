// The current part file: its name and its open handle. The handle is
// unbuffered, so every write reaches the file at once and its failure is
// seen by the write that caused it.
#include "media/OutFile.h"
#include "media/Mov.h"
#include <cstdio>
#include <cstring>

static char gName[OUTFILE_NAME_SIZE];
static FILE* gFile = nullptr;

static int Take(const char* name, const char* mode)
{
    OutFile_Close();
    gName[0] = 0;
    if (!name || strlen(name) >= sizeof gName) return -1;
    FILE* f = fopen(name, mode);
    if (!f) return -1;
    setvbuf(f, nullptr, _IONBF, 0);
    gFile = f;
    memcpy(gName, name, strlen(name) + 1);
    return 0;
}

int OutFile_Create(const char* name) { return Take(name, "wb"); }

int OutFile_Open(const char* name) { return Take(name, "r+b"); }

const char* OutFile_Name() { return gName; }

int OutFile_WriteAt(uint64_t offset, const void* data, uint32_t n)
{
    // A part file closed after it was created is opened again for the write.
    if (!gFile && gName[0]) {
        gFile = fopen(gName, "r+b");
        if (gFile) setvbuf(gFile, nullptr, _IONBF, 0);
    }
    if (!gFile || (n && !data)) return -1;
    if (offset > (uint64_t)INT64_MAX) return -1;
    if (fseeko(gFile, (off_t)offset, SEEK_SET) != 0) return -1;
    if (n == 0) return 0;
    return fwrite(data, 1, n, gFile) == n ? 0 : -1;
}

int OutFile_WriteAtPos(const void* data, uint32_t n) { return OutFile_WriteAt(gMovWriter.position, data, n); }

int OutFile_Close()
{
    if (!gFile) return 0; // the name stays: a later write opens the file again
    int r = fclose(gFile) == 0 ? 0 : -1;
    gFile = nullptr;
    return r;
}
