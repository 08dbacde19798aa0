// The movie reader: takes a movie file that the backup wrote apart again.
// It checks the file head and the movie header, loads the video track's
// sync, size and offset tables from the "moov", and reads single samples
// back as recorder frames (the 32-byte frame header from the sample's
// trailer in front, marked as coming from a local file). Every read opens
// the file, reads into the 1 MB work buffer and closes it again. Owns the
// work buffer and gMovReadTables. Plain functions on a file name, so that
// any file can be driven through them.
#pragma once
#include <cstddef>
#include <cstdint>

enum {
    MOVFILE_WORK_SIZE = 1048576, // every read goes into this buffer
    MOVFILE_HEAD_SIZE = 48,
    MOVFILE_MOVIE_HEADER_SIZE = 116, // "moov" header and "mvhd"
    MOVFILE_TRAILER_SIZE = 64,       // behind every video sample
    MOVFILE_MIN_SAMPLE = 64,         // a shorter sample has no trailer
    MOVFILE_HEADER_BACK = 60,        // the frame header lies this far before a sample's end
    MOVFILE_SYNC_CAP = 4096,         // the writer's caps
    MOVFILE_SAMPLE_CAP = 65536,
};

// The tables of the file last loaded (host order).
struct TMovReadTables {
    uint32_t mediaLength; // the "mdat" size field: from offset 40 to the end of the closing block
    uint32_t moovSize;
    uint32_t frameRate; // the time scale / 20
    uint32_t syncCount;
    uint32_t sampleCount;
    uint32_t syncTable[MOVFILE_SYNC_CAP]; // 1-based sample numbers
    uint32_t sampleSizes[MOVFILE_SAMPLE_CAP];
    uint32_t chunkOffsets[MOVFILE_SAMPLE_CAP];
};

extern TMovReadTables gMovReadTables;

// Reads n bytes (at most 1 MB) at offset of the file into the work buffer,
// which is zero-filled first. 0 when the file opened and the seek worked,
// -1 otherwise; MovFile_ReadLength tells how many bytes arrived.
int MovFile_ReadAt(uint32_t n, uint64_t offset, const char* name);
// The bytes the last MovFile_ReadAt read, and the work buffer itself.
uint32_t MovFile_ReadLength();
const uint8_t* MovFile_Work();
// The file head: "ftyp" (size 32, brand "qt  "), "wide" and the "mdat"
// header; keeps the media-data length. 0 or -1.
int MovFile_ReadHead(const char* name);
// The "moov" and "mvhd" behind the media data; keeps the moov size and the
// frame rate (25 or 30 for our files). 0 or -1.
int MovFile_ReadMovieHeader(const char* name);
// Loads the video track's "stss", "stsz" and "stco" tables. The sample
// count, or -1 when a read failed or the tables do not hold together
// (an atom beyond what was read or beyond the moov, a count above the
// writer's caps, the size and offset tables of different lengths).
int MovFile_ReadTables(const char* name);
// The three steps above in order: the sample count, or -1 (the tables are
// empty then).
int MovFile_Load(const char* name);
// The frame header of sample i into header (32 bytes): size - 32, or 0 for
// a sample that is shorter than 64 bytes, beyond the tables, larger than
// the work buffer or cannot be read. The sample stays in the work buffer.
uint32_t MovFile_ReadSampleHeader(uint32_t i, uint8_t* header, const char* name);
// Sample i as a recorder frame into out (room bytes): its header with
// source 3 (local file) in byte 23, then the sample without its trailer,
// the last NAL length cut to the bytes present. size - 32, or 0 (as above,
// or when out has not the room).
uint32_t MovFile_ReadSample(uint32_t i, uint8_t* out, uint32_t room, const char* name);
// Cuts every 4-byte NAL length in data (n bytes) that runs past the end to
// the bytes present; the number of lengths changed.
uint32_t MovFile_FixNalLengths(uint8_t* data, uint32_t n);
// Empties the tables.
void MovFile_Clear();
