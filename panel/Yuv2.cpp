// Skin loading: reads a .YUV2 file from gSkinFolder whole into
// gSkinFileBuffer, checks it, builds gSkinLayout, gSkinNames and
// gSkinElements from it and registers it in gSkins. A file that fails any
// check leaves every table as it was. Drawing and hit-testing use these.
// Also keeps which registered skin the buffer holds, and that file's stamp,
// so that a redraw reads the file again only when it changed on disk.
#include "panel/Yuv2.h"
#include "link/Bytes.h"
#include "panel/SkinVars.h"
#include "platform/win/Win.h"
#include <cstdio>
#include <cstring>

uint8_t gSkinFileBuffer[YUV2_FILE_MAX];
TSkinLayout gSkinLayout;
TSkinElement gSkinElements[SKIN_ELEMENT_ROOM];
TSkinName gSkinNames[SKIN_NAME_ROOM];
TSkinEntry gSkins[SKIN_ENTRY_ROOM];
uint32_t gSkinCount;
uint32_t gSkinElementTotal;
TSkinRefusal gSkinLastRefusal;

// Scratch name map for checking a file before anything is committed.
static TSkinName sCheckNames[SKIN_NAME_ROOM];

static const char kVout[] = "#Vout";
static const char kPresetSkin[] = "Mouse_Preset.YUV2";

// Same 16-character name, both non-empty.
static bool SameName(const char* a, const char* b) { return a[0] != 0 && strncmp(a, b, SKIN_NAME_SIZE) == 0; }

// "<gSkinFolder>\<name>"; -1 when it does not fit.
static int32_t SkinPath(const char* name, char* path, size_t size)
{
    int folderLength = (int)strnlen(gSkinFolder, SKIN_FOLDER_SIZE);
    int n = snprintf(path, size, "%.*s\\%s", folderLength, gSkinFolder, name);
    if (n < 0 || (size_t)n >= size) return -1;
    return 0;
}

// The skin file that stands in memory for one in gSkinFolder.
static const uint8_t* sMemoryData;
static uint32_t sMemorySize;
static char sMemoryName[SKIN_ENTRY_NAME_SIZE];
// gSkinFileBuffer holds the bytes in memory (read since they were set, and
// no file read since): reading them again copies nothing.
static bool sBufferHoldsMemory;

void Yuv2_SetSkinMemory(const char* name, const uint8_t* data, uint32_t size)
{
    memset(sMemoryName, 0, sizeof sMemoryName);
    sMemoryData = nullptr;
    sMemorySize = 0;
    sBufferHoldsMemory = false;
    if (!name || !data) return;
    strncpy(sMemoryName, name, sizeof sMemoryName - 1);
    sMemoryData = data;
    sMemorySize = size;
}

// The registered skin whose file gSkinFileBuffer holds as read (-1: none),
// and the stamp the file had then (disk files only).
static int32_t sHeldEntry = -1;
static bool sHeldFromDisk = false;
static TFileStamp sHeldStamp;
// Stamp of the file the last ReadWholeFile read from disk.
static bool sReadFromDisk = false;
static TFileStamp sReadStamp;
uint32_t gSkinFileReads;
uint32_t gSkinFileFills;

static bool InMemory(const char* name) { return sMemoryData && strncmp(name, sMemoryName, sizeof sMemoryName) == 0; }

// Reads the whole file into gSkinFileBuffer; its size in *size.
static TSkinRefusal ReadWholeFile(const char* name, uint32_t* size)
{
    sHeldEntry = -1; // whatever the buffer held is about to go
    sReadFromDisk = false;
    gSkinFileReads++;
    if (InMemory(name)) {
        if (sMemorySize > YUV2_FILE_MAX) return SKIN_REFUSE_FILE_SIZE;
        if (!sBufferHoldsMemory) {
            gSkinFileFills++;
            memcpy(gSkinFileBuffer, sMemoryData, sMemorySize);
        }
        sBufferHoldsMemory = true;
        *size = sMemorySize;
        return SKIN_ACCEPTED;
    }
    sBufferHoldsMemory = false;
    char path[SKIN_FOLDER_SIZE + SKIN_ENTRY_NAME_SIZE + 2];
    if (SkinPath(name, path, sizeof path) != 0) return SKIN_REFUSE_NAME;
    // Stamped before it is read: a change in between shows as a new stamp.
    bool stamped = Win_FileStamp(path, &sReadStamp) == 0;
    FILE* f = Win_fopen(path, "rb");
    if (!f) return SKIN_REFUSE_OPEN;
    TSkinRefusal result = SKIN_ACCEPTED;
    long length = -1;
    if (fseek(f, 0, SEEK_END) == 0) length = ftell(f);
    if (length < 0 || fseek(f, 0, SEEK_SET) != 0) {
        result = SKIN_REFUSE_OPEN;
    } else if (length > YUV2_FILE_MAX) {
        result = SKIN_REFUSE_FILE_SIZE;
    } else {
        gSkinFileFills++; // counted before: a short read leaves part of the bytes
        if (fread(gSkinFileBuffer, 1, (size_t)length, f) != (size_t)length) {
            result = SKIN_REFUSE_OPEN;
        } else {
            *size = (uint32_t)length;
            sReadFromDisk = stamped;
        }
    }
    fclose(f);
    return result;
}

// The buffer now holds registered skin entry as just read.
static void Hold(int32_t entry)
{
    sHeldEntry = entry;
    sHeldFromDisk = sReadFromDisk;
    sHeldStamp = sReadStamp;
}

// Picture width in pixels (2 x the pair count at byte 2) and whole rows.
static void PictureSize(const uint8_t* file, uint32_t size, int32_t* width, int32_t* rows)
{
    *width = 2 * (int32_t)GetU16(file + 2);
    uint32_t rowBytes = (uint32_t)*width * 2;
    *rows = (size < YUV2_PIXELS_OFFSET || rowBytes == 0) ? 0 : (int32_t)((size - YUV2_PIXELS_OFFSET) / rowBytes);
}

// Joins the first 1024 bytes of rows 0..21 into *layout; the caller has
// checked width and rows.
static void CopyLayoutRows(const uint8_t* file, int32_t width, TSkinLayout* layout)
{
    uint8_t* out = (uint8_t*)layout;
    for (int r = 0; r < YUV2_LAYOUT_ROWS; ++r) {
        const uint8_t* row = file + YUV2_PIXELS_OFFSET + (size_t)r * (size_t)width * 2;
        memcpy(out + r * YUV2_LAYOUT_ROW_BYTES, row, YUV2_LAYOUT_ROW_BYTES);
    }
}

void Yuv2_BuildNameMap(const TSkinLayout* layout, TSkinName* map)
{
    memset(map, 0, sizeof(TSkinName) * SKIN_NAME_ROOM);
    int32_t groups = layout->groupCount, elements = layout->elementCount;
    if (groups < 0) groups = 0;
    if (groups > SKIN_GROUP_ROOM) groups = SKIN_GROUP_ROOM;
    if (elements < 0) elements = 0;
    if (elements > SKIN_RECORD_ROOM) elements = SKIN_RECORD_ROOM;
    int32_t n = 0;
    for (int32_t g = 0; g < groups && n < SKIN_NAME_ROOM; ++g, ++n) {
        memcpy(map[n].name, layout->groups[g].name, SKIN_NAME_SIZE);
        map[n].kind = 0;
        map[n].index = (uint32_t)g;
    }
    for (int32_t e = 0; e < elements && n < SKIN_NAME_ROOM; ++e, ++n) {
        memcpy(map[n].name, layout->elements[e].name, SKIN_NAME_SIZE);
        map[n].kind = 1;
        map[n].index = (uint32_t)e;
    }
}

TSkinRefusal Yuv2_ResolveRecord(const TSkinName* map, const TSkinLayout* layout, int32_t record, int32_t* group,
                                int32_t* reference)
{
    const TSkinElementRecord* r = &layout->elements[record];
    bool vout = strncmp(r->reference, kVout, SKIN_NAME_SIZE) == 0;
    int32_t groups = 0, references = 0;
    *group = -1;
    *reference = -1;
    for (int32_t j = 0; j < SKIN_NAME_ROOM; ++j) {
        if (map[j].kind == 0 && SameName(map[j].name, r->group)) {
            ++groups;
            *group = (int32_t)map[j].index;
        }
        if (map[j].kind == 1 && SameName(map[j].name, r->reference)) {
            ++references;
            *reference = (int32_t)map[j].index;
        }
        if (vout) {
            // The picture itself; only the first map entry pairs with it.
            ++references;
            *reference = -1;
            break;
        }
    }
    if (groups != 1) return SKIN_REFUSE_GROUP_MATCH;
    if (references != 1) return SKIN_REFUSE_REFERENCE_MATCH;
    if (*reference >= record) return SKIN_REFUSE_LATER_REFERENCE;
    return SKIN_ACCEPTED;
}

TSkinRefusal Yuv2_CheckSkin(const uint8_t* file, uint32_t size, uint32_t first, TSkinLayout* layout)
{
    static TSkinLayout scratch;
    TSkinLayout* l = layout ? layout : &scratch;
    if (size > YUV2_FILE_MAX) return SKIN_REFUSE_FILE_SIZE;
    if (size < YUV2_PIXELS_OFFSET) return SKIN_REFUSE_ROWS;
    int32_t width, rows;
    PictureSize(file, size, &width, &rows);
    if (width < YUV2_MIN_WIDTH) return SKIN_REFUSE_WIDTH;
    if (rows < YUV2_LAYOUT_ROWS) return SKIN_REFUSE_ROWS;
    CopyLayoutRows(file, width, l);

    int32_t groups = l->groupCount, elements = l->elementCount;
    if (groups < 0 || groups > SKIN_GROUP_ROOM) return SKIN_REFUSE_GROUP_COUNT;
    if (elements < 0 || elements > SKIN_RECORD_ROOM) return SKIN_REFUSE_ELEMENT_COUNT;
    if (groups + elements > SKIN_NAME_ROOM) return SKIN_REFUSE_NAME_COUNT;
    if (first > SKIN_ELEMENT_ROOM || (uint32_t)elements > SKIN_ELEMENT_ROOM - first) return SKIN_REFUSE_ELEMENT_ROOM;

    // Names and variable strings may fill all 16 bytes of their fields and
    // are only ever read within them.
    Yuv2_BuildNameMap(l, sCheckNames);
    for (int32_t e = 0; e < elements; ++e) {
        int32_t group, reference;
        TSkinRefusal why = Yuv2_ResolveRecord(sCheckNames, l, e, &group, &reference);
        // A record that names no single group or reference is not built;
        // the rest of the skin is. Without its background the skin is
        // nothing.
        if (why != SKIN_ACCEPTED) {
            if (e == 0) return why;
            continue;
        }
        const TSkinGroup* g = &l->groups[group];
        if (e == 0) {
            // The background: copied whole from the picture into the
            // composed picture, pairs intact.
            if (g->itemWidth <= 0 || g->itemHeight <= 0) return SKIN_REFUSE_BACKGROUND;
            if (g->itemWidth & 1) return SKIN_REFUSE_WIDTH;
            if (g->itemWidth > width || g->stripY < 0 || g->stripY + g->itemHeight > rows)
                return SKIN_REFUSE_BACKGROUND;
            if ((int64_t)g->itemWidth * g->itemHeight * 2 > SKIN_PICTURE_SIZE) return SKIN_REFUSE_BACKGROUND;
        } else {
            if (g->itemWidth < 0 || g->itemHeight < 0) return SKIN_REFUSE_CELL;
            if (g->glyphColumns != 0 && (int64_t)g->itemWidth * g->itemHeight * 2 > SKIN_WORK_SIZE)
                return SKIN_REFUSE_CELL;
        }
    }
    return SKIN_ACCEPTED;
}

void Yuv2_SuffixLetters(const char* text, char letters[3])
{
    size_t n = strnlen(text, SKIN_NAME_SIZE);
    letters[0] = letters[1] = letters[2] = '0';
    if (n >= 3 && text[n - 3] == '#') {
        letters[0] = text[n - 2];
        letters[1] = text[n - 1];
    } else if (n >= 4 && text[n - 4] == '#') {
        letters[0] = text[n - 3];
        letters[1] = text[n - 2];
        letters[2] = text[n - 1];
    }
}

static bool IsLetter(char c, char upper) { return c == upper || c == upper + ('a' - 'A'); }

void Yuv2_BuildElement(int32_t record, int32_t group, int32_t reference, int32_t runtime)
{
    if (record < 0 || record >= SKIN_RECORD_ROOM || group < 0 || group >= SKIN_GROUP_ROOM) return;
    if (runtime < 0 || runtime >= SKIN_ELEMENT_ROOM) return;
    const TSkinElementRecord* r = &gSkinLayout.elements[record];
    const TSkinGroup* g = &gSkinLayout.groups[group];
    TSkinElement* e = &gSkinElements[runtime];
    memset(e, 0, sizeof *e);

    memcpy(e->source, r->source, SKIN_NAME_SIZE);
    memcpy(e->target, r->target, SKIN_NAME_SIZE);
    e->source[SKIN_NAME_SIZE] = 0;
    e->target[SKIN_NAME_SIZE] = 0;
    char s[3], t[3];
    Yuv2_SuffixLetters(e->source, s);
    Yuv2_SuffixLetters(e->target, t);
    e->sourceKind1 = s[0];
    e->targetKind1 = t[0];
    e->sourceKind2 = s[1];
    e->targetKind2 = t[1];
    e->sourceKind3 = s[2];
    e->targetKind3 = t[2];
    if (IsLetter(s[0], 'S') || IsLetter(s[0], 'A')) e->sourceVar = Skin_FindVariableSized(e->source, &e->sourceCount);
    if (t[0] != '0' && t[1] != '0') e->targetVar = Skin_FindVariableSized(e->target, &e->targetCount);

    e->itemWidth = g->itemWidth;
    e->itemHeight = g->itemHeight;
    e->stripX = g->stripX;
    e->stripY = g->stripY;
    e->glyphColumns = g->glyphColumns;
    e->glyphRows = g->glyphRows;
    e->glyphStep = g->glyphStep;
    e->kind = g->kind;
    e->itemId = g->itemId;
    e->minLevel = g->minLevel;
    e->group = (int16_t)group;

    int32_t first = runtime - record;
    if (reference < 0) {
        e->reference = -1;
        e->refCentreX = (int16_t)(g->itemWidth >> 1);
        e->refCentreY = (int16_t)(g->itemHeight >> 1);
        e->refOffsetX = e->refOffsetY = 0;
        e->offsetX = e->offsetY = 0;
        e->refItemCount = 1;
        e->refLit = 1;
    } else {
        const TSkinElement* ref = &gSkinElements[first + reference];
        e->reference = first + reference;
        e->refCentreX = ref->centreX;
        e->refCentreY = ref->centreY;
        e->refOffsetX = ref->offsetX;
        e->refOffsetY = ref->offsetY;
        e->refItemCount = ref->itemCount;
        e->refLit = ref->lit;
        e->offsetX = r->offsetX;
        e->offsetY = r->offsetY;
    }
    e->centreX = (int16_t)(e->refCentreX + e->offsetX);
    e->centreY = (int16_t)(e->refCentreY + e->offsetY);
    e->builtCentreX = e->centreX;
    e->builtCentreY = e->centreY;
    e->itemCount = r->itemCount;
    e->spacingX = r->spacingX;
    e->spacingY = r->spacingY;
    e->radial = r->radial;
    e->radius = r->radius;
    e->columns = r->columns;
    e->extraCells = r->extraCells;
    e->valueOffset = r->valueOffset;
    e->lit = 1;
}

int32_t Yuv2_BuildElements()
{
    Yuv2_BuildNameMap(&gSkinLayout, gSkinNames);
    int32_t elements = gSkinLayout.elementCount;
    if (elements < 0) elements = 0;
    if (elements > SKIN_RECORD_ROOM) elements = SKIN_RECORD_ROOM;
    int32_t built = 0;
    for (int32_t i = 0; i < elements; ++i) {
        int64_t slot = (int64_t)gSkinElementTotal + i;
        if (slot >= SKIN_ELEMENT_ROOM) continue;
        int32_t group, reference;
        if (Yuv2_ResolveRecord(gSkinNames, &gSkinLayout, i, &group, &reference) != SKIN_ACCEPTED) {
            // Records keep their record number as slot offset: the slot of
            // one not built stays empty (never lit, no items), and so does
            // every element that refers to it.
            memset(&gSkinElements[slot], 0, sizeof gSkinElements[slot]);
            gSkinElements[slot].reference = -1;
            continue;
        }
        Yuv2_BuildElement(i, group, reference, (int32_t)slot);
        ++built;
    }
    return built;
}

int32_t Yuv2_RegisterSkin(int32_t x, int32_t y, uint32_t kind, const char* name, uint32_t first, uint32_t count,
                          int32_t largest)
{
    for (uint32_t i = 0; i < gSkinCount && i < SKIN_ENTRY_ROOM; ++i)
        if (gSkins[i].x == x && gSkins[i].y == y) return -1;
    if (gSkinCount >= SKIN_ENTRY_ROOM) return -1;
    TSkinEntry* s = &gSkins[gSkinCount];
    memset(s, 0, sizeof *s);
    s->x = x;
    s->y = y;
    s->kind = kind;
    if (name) strncpy(s->name, name, SKIN_ENTRY_NAME_SIZE - 1);
    s->first = first;
    s->count = count;
    s->largest = largest;
    gSkinElementTotal += count;
    return (int32_t)gSkinCount++;
}

// Whether Yuv2_RegisterSkin would take an entry at x, y.
static TSkinRefusal CanRegister(int32_t x, int32_t y)
{
    for (uint32_t i = 0; i < gSkinCount && i < SKIN_ENTRY_ROOM; ++i)
        if (gSkins[i].x == x && gSkins[i].y == y) return SKIN_REFUSE_DUPLICATE;
    if (gSkinCount >= SKIN_ENTRY_ROOM) return SKIN_REFUSE_REGISTRY;
    return SKIN_ACCEPTED;
}

static TSkinRefusal LoadSkin(int32_t x, int32_t y, uint32_t kind, const char* name)
{
    if (!name || strnlen(name, SKIN_ENTRY_NAME_SIZE) >= SKIN_ENTRY_NAME_SIZE) return SKIN_REFUSE_NAME;
    if (strcmp(name, kPresetSkin) == 0) {
        x = 54;
        kind = 770;
    }
    TSkinRefusal why = CanRegister(x, y);
    if (why != SKIN_ACCEPTED) return why;
    uint32_t size = 0;
    why = ReadWholeFile(name, &size);
    if (why != SKIN_ACCEPTED) return why;
    why = Yuv2_CheckSkin(gSkinFileBuffer, size, gSkinElementTotal, nullptr);
    if (why != SKIN_ACCEPTED) return why;

    int32_t width, rows;
    PictureSize(gSkinFileBuffer, size, &width, &rows);
    CopyLayoutRows(gSkinFileBuffer, width, &gSkinLayout);
    uint32_t first = gSkinElementTotal;
    // The entry spans every record's slot, built or not.
    int32_t built = Yuv2_BuildElements();
    if (built > 0) built = gSkinLayout.elementCount;
    int32_t largest = 0;
    for (int32_t i = 0; i < gSkinLayout.elementCount; ++i)
        if (gSkinLayout.elements[i].itemCount > largest) largest = gSkinLayout.elements[i].itemCount;
    int32_t entry = Yuv2_RegisterSkin(x, y, kind, name, first, (uint32_t)built, largest);
    if (entry < 0) return SKIN_REFUSE_REGISTRY;
    gSkins[entry].fileSize = size;
    gSkins[entry].width = width;
    gSkins[entry].rows = rows;
    Hold(entry);
    return SKIN_ACCEPTED;
}

int32_t Yuv2_LoadSkin(int32_t x, int32_t y, uint32_t kind, const char* name)
{
    gSkinLastRefusal = LoadSkin(x, y, kind, name);
    return gSkinLastRefusal == SKIN_ACCEPTED ? 0 : -1;
}

int32_t Yuv2_ReadSkinFile(int32_t entry)
{
    if (entry < 0 || (uint32_t)entry >= gSkinCount || entry >= SKIN_ENTRY_ROOM) return SKIN_READ_MISSING;
    const TSkinEntry* s = &gSkins[entry];
    uint32_t size = 0;
    TSkinRefusal why = ReadWholeFile(s->name, &size);
    if (why == SKIN_REFUSE_OPEN || why == SKIN_REFUSE_NAME) return SKIN_READ_MISSING;
    if (why != SKIN_ACCEPTED || size != s->fileSize) return SKIN_READ_CHANGED;
    int32_t width, rows;
    PictureSize(gSkinFileBuffer, size, &width, &rows);
    if (width != s->width || rows != s->rows) return SKIN_READ_CHANGED;
    CopyLayoutRows(gSkinFileBuffer, width, &gSkinLayout);
    Hold(entry);
    return SKIN_READ_OK;
}

int32_t Yuv2_RefreshSkinFile(int32_t entry)
{
    if (entry < 0 || (uint32_t)entry >= gSkinCount || entry >= SKIN_ENTRY_ROOM) return SKIN_READ_MISSING;
    const TSkinEntry* s = &gSkins[entry];
    if (entry != sHeldEntry || !sHeldFromDisk || InMemory(s->name)) return Yuv2_ReadSkinFile(entry);
    char path[SKIN_FOLDER_SIZE + SKIN_ENTRY_NAME_SIZE + 2];
    TFileStamp now;
    if (SkinPath(s->name, path, sizeof path) != 0 || Win_FileStamp(path, &now) != 0) return SKIN_READ_MISSING;
    if (!Win_SameStamp(now, sHeldStamp)) return Yuv2_ReadSkinFile(entry);
    // The bytes in hand are the file's: only the layout rows again.
    CopyLayoutRows(gSkinFileBuffer, s->width, &gSkinLayout);
    return SKIN_READ_OK;
}

uint32_t Yuv2_NameNumber(int32_t element)
{
    if (element < 0 || element >= SKIN_ELEMENT_ROOM) return 0;
    const char* s = gSkinElements[element].source;
    size_t n = strnlen(s, SKIN_NAME_SIZE);
    if (n < 4) return 0;
    uint32_t value = 0;
    // Every character before the suffix counts as a decimal digit.
    for (size_t i = 0; i + 3 < n; ++i) value = value * 10u + (uint32_t)(uint8_t)s[i] - (uint32_t)'0';
    return value;
}

int32_t* Yuv2_SourceAt(const TSkinElement* e, int64_t index)
{
    return e ? Skin_VariableAt(e->sourceVar, e->sourceCount, index) : nullptr;
}

int32_t* Yuv2_TargetAt(const TSkinElement* e, int64_t index)
{
    return e ? Skin_VariableAt(e->targetVar, e->targetCount, index) : nullptr;
}

void Yuv2_ResetSkins()
{
    sHeldEntry = -1;
    memset(gSkinElements, 0, sizeof gSkinElements);
    memset(gSkinNames, 0, sizeof gSkinNames);
    memset(gSkins, 0, sizeof gSkins);
    memset(&gSkinLayout, 0, sizeof gSkinLayout);
    for (int i = 0; i < SKIN_ENTRY_ROOM; ++i) gSkins[i].x = -1;
    gSkinCount = 0;
    gSkinElementTotal = 0;
    gSkinLastRefusal = SKIN_ACCEPTED;
}
