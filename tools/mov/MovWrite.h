// Writes a file of recorder frames (each a frame buffer as the stream step
// hands it to the backup controller: TDvrFrameHeader and payload, unit after
// unit) as one movie through the real movie writer, the way a backup part
// is driven: start and end from the frames, each frame accounted and then
// written, the closing block, the "moov", the watermark and the "mdat" size.
#pragma once
#include <cstddef>
#include <cstdint>

struct MovToolResult {
    uint32_t frames;   // frame buffers handed to the writer
    uint32_t refused;  // of those, refused by the accounting (the part ended there)
    uint32_t bad;      // ended by a bad header
    uint32_t complete; // 1 when the file got its closing block, "moov" and "mdat" size
};

// watermark: the recorder's watermark value the backup got. 0 on success,
// -1 when the output cannot be created or a write failed.
int MovTool_Write(const uint8_t* frames, size_t length, const char* out, uint32_t watermark, MovToolResult* result);
