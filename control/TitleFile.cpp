// Title files: a 16-byte head {total length, "VDTT", version, section
// count} and five sections {length + 8, id, data}: the settings block (16)
// and the bitmap sets of sizes 0 to 3 (ids 1 to 4), all of connection 0.
#include "control/Title.h"
#include "control/TavlinImpl1.h"
#include "link/Bytes.h"
#include "platform/vcl/Dialogs.h"
#include "platform/win/Win.h"
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

static const uint32_t kSectionIds[5] = {16, 1, 2, 3, 4};

uint32_t Title_FileLength() { return 16 + 5 * 8 + 1160 + 50176 + 30976 + 20736 + 12544; }

// The block of connection 0 a section id names, and its size.
static uint8_t* SectionData(uint32_t id, uint32_t* size)
{
    TTitleState* state = &gTitleStates[0];
    if (id == 16) {
        *size = TITLE_SETTINGS_SIZE;
        return (uint8_t*)&gTitleSettings[0];
    }
    if (id >= 1 && id <= 4) {
        *size = kTitleSizes[id - 1].setBytes;
        return state->bitmap[id - 1][0];
    }
    *size = 0;
    return nullptr;
}

int Title_SaveTo(const char* path)
{
    // The whole file is put together first and then written beside the old
    // one, which it replaces only once complete.
    static uint8_t file[TITLE_FILE_LENGTH];
    uint8_t* at = file;
    PutU32(at, Title_FileLength());
    memcpy(at + 4, "VDTT", 4);
    PutU32(at + 8, TITLE_FILE_VERSION);
    PutU32(at + 12, 5);
    at += 16;
    for (uint32_t id : kSectionIds) {
        uint32_t size = 0;
        const uint8_t* data = SectionData(id, &size);
        if (!data) {
            errno = EINVAL; // the bitmap sets are not there before start-up
            return -1;
        }
        PutU32(at, size + 8);
        PutU32(at + 4, id);
        memcpy(at + 8, data, size);
        at += 8 + size;
    }
    return Win_WriteFileWhole(path, file, (size_t)(at - file));
}

// Reads a title file from f (closed here).
static int LoadStream(FILE* f)
{
    uint8_t head[16];
    if (fread(head, 1, sizeof head, f) != sizeof head ||
        (memcmp(head + 4, "VDTT", 4) != 0 && memcmp(head + 4, "vdtt", 4) != 0) ||
        GetU32(head + 8) != TITLE_FILE_VERSION) {
        fclose(f);
        return -1;
    }
    uint32_t total = GetU32(head);
    uint32_t count = GetU32(head + 12);
    // Each section is read whole into scratch and only then taken, so a
    // file that ends early leaves the block it cuts unchanged.
    static uint8_t scratch[50176];
    uint64_t sum = 0;
    for (uint32_t handled = 0; handled < count && sum < total; handled++) {
        uint8_t section[8];
        if (fread(section, 1, 8, f) != 8) break;
        uint32_t length = GetU32(section);
        uint32_t id = GetU32(section + 4);
        if (length < 8) break;
        uint32_t dataLength = length - 8;
        uint32_t size = 0;
        uint8_t* target = SectionData(id, &size);
        if (!target) {
            // A section of no known id is passed over.
            if (fseek(f, (long)dataLength, SEEK_CUR) != 0) break;
            sum += length;
            continue;
        }
        if (dataLength != size) break;
        if (fread(scratch, 1, size, f) != size) break;
        if (id >= 1 && id <= TITLE_SIZES) gTitleBitmaps.written[id - 1] = true;
        memcpy(target, scratch, size);
        sum += length;
    }
    fclose(f);
    Title_ApplySettings(&gTitleSettings[0]);
    Title_MarkAllChanged(&gTitleStates[0]);
    return 0;
}

int Title_LoadFrom(const char* path)
{
    FILE* f = Win_fopen(path, "rb");
    if (!f) return -1;
    return LoadStream(f);
}

int Title_LoadFromBytes(const uint8_t* data, size_t size)
{
    // Too short for the head: nothing to read (and a stream over no bytes
    // cannot be opened).
    if (!data || size < 16) return -1;
    FILE* f = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (!f) return -1;
    return LoadStream(f);
}

void Title_SaveFile()
{
    if (!gTitleSaveDialog || !gTitleSaveDialog->Execute()) return;
    const AnsiString name = gTitleSaveDialog->FileName();
    const bool existed = Win_PathExists(name.c_str()) != 0;
    if (Title_SaveTo(name.c_str()) == 0) return;
    char text[1024];
    snprintf(text, sizeof text, "The titles could not be saved to %s (%s).%s", name.c_str(), strerror(errno),
             existed ? " The file that was there is kept as it was." : "");
    Application_MessageBox(text, "Save File", MB_OK | MB_ICONERROR);
}

void Title_LoadFile()
{
    if (!gTitleOpenDialog || !gTitleOpenDialog->Execute()) return;
    Title_LoadFrom(gTitleOpenDialog->FileName().c_str());
}

void TTavlinX::Button_TLoadClick(TObject*) { Title_LoadFile(); }
void TTavlinX::Button_TSaveClick(TObject*) { Title_SaveFile(); }
