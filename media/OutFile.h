// The part file a backup writes: its name, and every write at the movie
// writer's file position. Owns the name and the open handle. The file stays
// open while it is written, so each write is a seek and a write; a write
// after OutFile_Close opens the current file again (without truncating it).
#pragma once
#include <cstdint>

enum { OUTFILE_NAME_SIZE = 1100 };

// Creates (truncates) the file and makes it the current part file. 0, or
// -1 when it cannot be created (nothing is current then).
int OutFile_Create(const char* name);
// Makes an existing file the current part file without truncating it
// (opened for reading and writing). 0 or -1.
int OutFile_Open(const char* name);
// The current part file's name ("" when none).
const char* OutFile_Name();
// Writes n bytes at the writer's file position (gMovWriter.position); the
// caller advances the position. 0 when all n bytes were written, -1 when no
// file is current, it cannot be opened, or the write failed.
int OutFile_WriteAtPos(const void* data, uint32_t n);
// Writes n bytes at an absolute offset. 0 or -1.
int OutFile_WriteAt(uint64_t offset, const void* data, uint32_t n);
// Closes the current part file; it stays current. 0, or -1 when closing failed.
int OutFile_Close();
