// Skin files (.YUV2) and the layout tables built from them. Owns the file
// buffer gSkinFileBuffer, the current layout block gSkinLayout, the runtime
// elements gSkinElements, the name map gSkinNames and the registered skins
// gSkins. Skins are read from gSkinFolder, which the viewer's start-up sets.
#pragma once
#include <cstdint>

enum {
    YUV2_FILE_MAX = 2097152, // a whole skin file fits gSkinFileBuffer
    YUV2_PIXELS_OFFSET = 16, // pixel rows start here
    YUV2_LAYOUT_ROWS = 22,   // rows whose first bytes hold the layout
    YUV2_LAYOUT_ROW_BYTES = 1024,
    YUV2_LAYOUT_SIZE = 22528,  // 22 x 1024
    YUV2_MIN_WIDTH = 512,      // pixels; one layout row is 1024 bytes
    YUV2_TRANSPARENT = 0xFFFF, // 16-bit unit skipped when glyphs are laid over

    SKIN_NAME_SIZE = 16, // names and variable strings in the layout
    SKIN_ENTRY_NAME_SIZE = 40,
    SKIN_GROUP_ROOM = 64,
    SKIN_RECORD_ROOM = 97,
    SKIN_NAME_ROOM = 160,
    SKIN_ELEMENT_ROOM = 144, // runtime elements of all registered skins
    SKIN_ENTRY_ROOM = 3,
    SKIN_FOLDER_SIZE = 128,
    SKIN_PICTURE_SIZE = 2359296, // composed picture, bytes
    SKIN_WORK_SIZE = 196608,     // one glyph or region, bytes
};

// Shared look of elements; 100 bytes as stored in the layout block.
struct TSkinGroup {
    char name[SKIN_NAME_SIZE];
    int16_t itemWidth;    // w, pixels
    int16_t itemHeight;   // h
    int16_t stripX;       // left edge of the glyph strip in the file picture
    int16_t stripY;       // top edge; the background's first picture row
    int16_t glyphColumns; // cells per strip row, 0: draws no glyph
    int16_t glyphRows;    // strip rows available
    int16_t glyphStep;    // cells advanced per item
    int16_t kind;         // 0-3, 7999-8011
    int16_t itemId;       // mode, page or slider index for the panel logic
    int16_t minLevel;     // hit only while the panel level is not above it
    uint8_t unused[64];
};

// One element record (a row, grid or circle of items); 164 bytes.
struct TSkinElementRecord {
    char name[SKIN_NAME_SIZE];
    char group[SKIN_NAME_SIZE];
    char reference[SKIN_NAME_SIZE]; // element name, or "#Vout" for the picture
    int16_t offsetX;                // centre offset from the reference centre
    int16_t offsetY;
    int16_t itemCount;
    int16_t unused54;
    int16_t radial; // 1: items on a circle
    int16_t radius;
    int16_t spacingX; // between grid cells
    int16_t spacingY;
    int8_t columns;              // grid columns
    int8_t extraCells;           // empty cells before the first item
    int16_t valueOffset;         // number offset; slider step count
    char source[SKIN_NAME_SIZE]; // source variable string
    char target[SKIN_NAME_SIZE]; // target variable string
    uint8_t unused[64];
};

// The first 1024 bytes of the first 22 pixel rows, joined in row order.
struct TSkinLayout {
    uint8_t unused0[8];
    int16_t groupCount;
    int16_t elementCount;
    uint8_t unused12[88];
    TSkinGroup groups[SKIN_GROUP_ROOM];
    TSkinElementRecord elements[SKIN_RECORD_ROOM];
    uint8_t tail[120];
};

static_assert(sizeof(TSkinGroup) == 100, "group record is 100 bytes");
static_assert(sizeof(TSkinElementRecord) == 164, "element record is 164 bytes");
static_assert(sizeof(TSkinLayout) == YUV2_LAYOUT_SIZE, "layout block is 22 rows of 1024 bytes");

// A built element. Group and record fields are copies; variables are bound
// through the skin-variable table together with their element counts. The
// variable strings keep a terminator after their 16 characters (a key such
// as "IE_percentage#SD" fills its whole field).
struct TSkinElement {
    char source[SKIN_NAME_SIZE + 1];
    char target[SKIN_NAME_SIZE + 1];
    char sourceKind1, targetKind1; // first suffix letters ('0' when none)
    char sourceKind2, targetKind2;
    char sourceKind3, targetKind3;
    int32_t* sourceVar;  // null when the source binds nothing
    int32_t* targetVar;  // null when the target binds nothing
    int32_t sourceCount; // i32 elements behind sourceVar (0 unbound)
    int32_t targetCount;
    int16_t itemWidth, itemHeight; // the ten group fields
    int16_t stripX, stripY;
    int16_t glyphColumns, glyphRows, glyphStep;
    int16_t kind, itemId, minLevel;
    int32_t reference; // runtime index of the reference, -1 for "#Vout"
    int16_t refCentreX, refCentreY;
    int16_t refOffsetX, refOffsetY;
    int16_t group; // group index within its skin's layout
    int16_t offsetX, offsetY;
    int16_t centreX, centreY;
    int16_t itemCount;
    int16_t refItemCount;
    int16_t radial;
    int16_t radius;
    int16_t spacingX, spacingY;
    int8_t columns;
    int8_t extraCells;
    int16_t valueOffset;
    int16_t lit; // 1 after building: drawn
    int16_t refLit;
    int16_t builtCentreX, builtCentreY; // centre when built; kept by elements that draw no glyph
};

// Name map entry; kind 0 group, 1 element; index = group or record number.
struct TSkinName {
    char name[SKIN_NAME_SIZE];
    uint16_t flag;
    uint16_t kind;
    uint32_t index;
};

// A registered skin. fileSize, width and rows are what the file had when it
// was loaded; a redraw uses the file only while they still hold.
struct TSkinEntry {
    int32_t x, y; // x < 0: free
    uint32_t kind;
    char name[SKIN_ENTRY_NAME_SIZE];
    uint32_t first;  // first runtime element
    uint32_t count;  // elements built
    int32_t largest; // largest item count: composition passes
    uint32_t fileSize;
    int32_t width; // picture width, pixels
    int32_t rows;  // picture rows
};

// Why a skin was refused (0: accepted).
enum TSkinRefusal {
    SKIN_ACCEPTED = 0,
    SKIN_REFUSE_OPEN,            // missing or unreadable file
    SKIN_REFUSE_NAME,            // name too long for the entry or the path
    SKIN_REFUSE_FILE_SIZE,       // larger than the file buffer
    SKIN_REFUSE_WIDTH,           // picture below 512 pixels, odd background width
    SKIN_REFUSE_ROWS,            // fewer than 22 pixel rows
    SKIN_REFUSE_GROUP_COUNT,     // group count outside 0..64
    SKIN_REFUSE_ELEMENT_COUNT,   // element count outside 0..97
    SKIN_REFUSE_NAME_COUNT,      // more names than the name map holds
    SKIN_REFUSE_ELEMENT_ROOM,    // runtime element table full
    SKIN_REFUSE_GROUP_MATCH,     // group not found or found more than once
    SKIN_REFUSE_REFERENCE_MATCH, // reference not found or found more than once
    SKIN_REFUSE_LATER_REFERENCE, // reference to this or a later record
    SKIN_REFUSE_BACKGROUND,      // background outside the picture or too large
    SKIN_REFUSE_CELL,            // glyph cell of negative size or beyond the work buffer
    SKIN_REFUSE_REGISTRY,        // all skin entries taken
    SKIN_REFUSE_DUPLICATE,       // a skin is already registered at x, y
};

// Results of re-reading a registered skin's file.
enum { SKIN_READ_OK = 0, SKIN_READ_MISSING = -1, SKIN_READ_CHANGED = -2 };

extern char gSkinFolder[SKIN_FOLDER_SIZE]; // defined by the viewer's start-up
extern uint8_t gSkinFileBuffer[YUV2_FILE_MAX];
extern TSkinLayout gSkinLayout;
extern TSkinElement gSkinElements[SKIN_ELEMENT_ROOM];
extern TSkinName gSkinNames[SKIN_NAME_ROOM];
extern TSkinEntry gSkins[SKIN_ENTRY_ROOM];
extern uint32_t gSkinCount;
extern uint32_t gSkinElementTotal;
extern TSkinRefusal gSkinLastRefusal; // outcome of the last Yuv2_LoadSkin

// Loads the file name from gSkinFolder and registers it at x, y: 0, or -1
// with nothing changed when the file is missing or refused (reason in
// gSkinLastRefusal) or the entry cannot be registered.
int32_t Yuv2_LoadSkin(int32_t x, int32_t y, uint32_t kind, const char* name);
// A skin file held in memory that stands in for the file of that name in
// gSkinFolder: loads and redraws read these bytes instead of the disk. The
// caller keeps them, unchanged, while they are set (new bytes are set
// again); a null data forgets them.
void Yuv2_SetSkinMemory(const char* name, const uint8_t* data, uint32_t size);
// Checks a whole skin file held in memory as if its elements were to start
// at runtime slot first; copies the layout block into *layout when given.
TSkinRefusal Yuv2_CheckSkin(const uint8_t* file, uint32_t size, uint32_t first, TSkinLayout* layout);
// Group and reference of element record `record` of layout through the name
// map: group index, reference record (-1 for "#Vout"). Refuses anything but
// exactly one group, one reference and a reference to an earlier record.
TSkinRefusal Yuv2_ResolveRecord(const TSkinName* map, const TSkinLayout* layout, int32_t record, int32_t* group,
                                int32_t* reference);
// Name map of a layout: groups first, then elements; the rest cleared.
void Yuv2_BuildNameMap(const TSkinLayout* layout, TSkinName* map);
// Builds gSkinNames and the elements of gSkinLayout from slot
// gSkinElementTotal on; returns the number built.
int32_t Yuv2_BuildElements();
// Fills runtime slot `runtime` from record `record` of gSkinLayout.
void Yuv2_BuildElement(int32_t record, int32_t group, int32_t reference, int32_t runtime);
// Takes the next free entry unless one is registered at x, y or all are
// taken; the entry index, or -1.
int32_t Yuv2_RegisterSkin(int32_t x, int32_t y, uint32_t kind, const char* name, uint32_t first, uint32_t count,
                          int32_t largest);
// Constant of a C source: the digits of the element's source string before
// its last three characters (0 for a string shorter than four).
uint32_t Yuv2_NameNumber(int32_t element);
// The three suffix letters of a variable string of at most 16 characters
// ('0','0','0' without a suffix).
void Yuv2_SuffixLetters(const char* text, char letters[3]);
// Re-reads registered skin `entry` into gSkinFileBuffer and its layout rows
// into gSkinLayout: SKIN_READ_OK, SKIN_READ_MISSING (cannot be opened) or
// SKIN_READ_CHANGED (size or width differ from the loaded file: skip it).
int32_t Yuv2_ReadSkinFile(int32_t entry);
// The same for a redraw, reading the file only when gSkinFileBuffer does
// not hold it as it is on disk now (another skin was read since, or the
// file's stamp changed); a file no longer there is SKIN_READ_MISSING.
int32_t Yuv2_RefreshSkinFile(int32_t entry);
// Whole skin files read so far (loads and re-reads).
extern uint32_t gSkinFileReads;
// Times gSkinFileBuffer received bytes (a file read from disk, a skin in
// memory copied in): while the count stands the buffer holds the same bytes.
extern uint32_t gSkinFileFills;
// Element `index` of an element's bound source or target, or null when the
// index lies outside the bound variable. The index is wide so that an item
// number plus a skin-driven offset never wraps before it is checked.
int32_t* Yuv2_SourceAt(const TSkinElement* e, int64_t index);
int32_t* Yuv2_TargetAt(const TSkinElement* e, int64_t index);
// Empties every table and marks the skin entries free (x = -1).
void Yuv2_ResetSkins();

// --- Composition and drawing (Yuv2Draw.cpp) ---------------------------------
// The composed picture gSkinPicture (16-bit units {Y, chroma}, stride = the
// background width), the glyph work buffer gSkinWork, the hover and
// last-drawn pairs, the slider pairs gPanelPairs and gKeyFormWidth.

// {position, value} of a slider, indexed by its item id. Pair 0 holds the
// hold code and the redraw request.
struct TPanelPair {
    int32_t position;
    int32_t value;
};
enum { PANEL_PAIR_COUNT = 4 };
enum { REDRAW_NOW = 1, REDRAW_SLIDERS = 99 };

// A rectangle in pixels; right and bottom are exclusive.
struct TSkinRect {
    int32_t left, top, right, bottom;
};

extern uint8_t gSkinPicture[SKIN_PICTURE_SIZE];
extern uint8_t gSkinWork[SKIN_WORK_SIZE];
extern int32_t gHover[2];     // {element, sub-item} under the pointer
extern int32_t gLastDrawn[2]; // (-2, -2) forces the next redraw
extern TPanelPair gPanelPairs[PANEL_PAIR_COUNT];
extern int32_t& gHoldCode;      // gPanelPairs[0].position
extern int32_t& gRedrawRequest; // gPanelPairs[0].value
extern int32_t gKeyFormWidth;
extern int32_t gSkinPictureWidth, gSkinPictureHeight; // of the last composition

// The key panel is drawn again at the next redraw, whatever the pointer is
// over (gLastDrawn := -2, -2): what it shows has changed.
void Panel_Invalidate();
// Redraws every registered skin when something visible changed (force 1:
// always). A skin whose file went missing stops the redraw; one whose file
// changed size on disk is skipped.
void Yuv2_Redraw(int32_t force);
// Composes count elements from runtime slot first into gSkinPicture in
// passes passes; offset shifts array indices (A_Num for kind 770). -1 when
// the background cannot be composed (nothing written then).
int32_t Yuv2_Compose(const char* name, uint32_t first, uint32_t count, int32_t passes, int32_t offset);
// Converts gSkinPicture (height x width) into Image1 and repaints it.
void Yuv2_DrawBitmap(int32_t height, int32_t width, const char* name);
// One RGB row of the composed picture (width pixels of row r) as Image1 shows it.
void Yuv2_PictureRow(int32_t row, int32_t width, uint32_t* out);
// 0x00RRGGBB of the even (odd 0) or odd pixel of a pair word, blended
// towards target by opacity percent.
uint32_t Yuv2_YuvToRgb(uint32_t pair, int32_t odd, int32_t target, int32_t opacity);
// Centre of item p of element e where composition draws it and hit-testing
// finds it; 0, or -1 for an element outside the table.
int32_t Yuv2_ItemCentre(int32_t e, int32_t p, int32_t* x, int32_t* y);
// Centre of item p (0-based) of a radial element; -1 when there is no such item.
int32_t Yuv2_RadialCentre(int32_t e, int32_t p, int32_t* x, int32_t* y);
// Rectangle of item p of element e (left rounded down to an even pixel).
int32_t Yuv2_ItemRect(int32_t e, int32_t p, TSkinRect* rect);
// Refreshes e's reference fields and sets its centre for item p.
void Yuv2_ElementGeometry(int32_t e, int32_t p);
TSkinRect Yuv2_MakeRect(int32_t left, int32_t top, int32_t right, int32_t bottom);
// File picture (left, top) .. + width x height into gSkinWork; units outside
// the file become transparent. -1 when the block exceeds gSkinWork.
int32_t Yuv2_CopyRect(const TSkinRect* source, int32_t width, int32_t height);
// gSkinWork onto gSkinPicture at destination, skipping transparent units
// and units outside the picture.
void Yuv2_CopyRectTransparent(const TSkinRect* destination, int32_t width, int32_t height);
// A region of gSkinPicture drawn twice its size as a callout above it.
void Yuv2_CopyRectScaled(const TSkinRect* region);
// Item painters of the composition (item p of runtime element `element`).
void Yuv2_DrawNumber(int32_t p, int32_t element, int32_t first, int32_t offset);
void Yuv2_DrawRadialItem(int32_t p, int32_t element, int32_t first);
void Yuv2_DrawKind8011Item(int32_t p, int32_t element, int32_t first);
void Yuv2_DrawKind8006Item(int32_t p, int32_t element, int32_t first);
void Yuv2_DrawDateTime(int32_t p, int32_t element, int32_t first);
// Sine and cosine in 1/65536 for 256 steps of a turn.
int32_t Yuv2_Sin(int32_t index);
int32_t Yuv2_Cos(int32_t index);

// --- Hit-testing, mouse and auto-repeat (Yuv2Mouse.cpp) ----------------------

struct THitResult {
    int32_t element, subItem; // (-1, -1): no hit
    int32_t first, end;       // the searched range
};

enum { HOLD_NONE = 0, HOLD_SLOT = 3, HOLD_DAY = 4, HOLD_REPEAT = 9999 };
enum { REPEAT_IDLE = 0, REPEAT_ARMED = 1, REPEAT_COUNTING = 2, REPEAT_RUNNING = 3, REPEAT_DELAY_TICKS = 10 };
enum { PANEL_LEVEL_NORMAL = 1, PANEL_LEVEL_BUSY = 2, PANEL_LEVEL_DAY = 16 };

extern THitResult gPressed;
extern int32_t gMouseDown;
extern int32_t gPanelLevel;
extern int32_t gHoldActive;
extern int32_t gRepeatState; // also the hold-drag flag: moves press again while 1
extern int32_t gRepeatCount;
extern int32_t gRepeatPos[2];
extern int32_t gHoldPos[2];
extern char gRepeatName[64];

THitResult Yuv2_HitTest(int32_t x, int32_t y, const char* name);
void Yuv2_MouseEvent(int32_t down, int32_t x, int32_t y, const char* name);
void Yuv2_PressElement(int32_t element, int32_t subItem, int32_t first, int32_t end);
void Yuv2_SetElementState(int32_t element, int32_t subItem);
void Yuv2_RepeatTick();
void Yuv2_PressHook(const char* name);
void Yuv2_PressAction(const char* name);
void Yuv2_ReleaseAction(int32_t code, int32_t x, int32_t y, const char* name);
// What the form's mouse handlers on Image1 do.
void Yuv2_PanelMouseDown(int32_t x, int32_t y);
void Yuv2_PanelMouseMove(int32_t x, int32_t y);
void Yuv2_PanelMouseUp(int32_t x, int32_t y);
// Mouse, hold and repeat state back to start (panel start-up).
void Yuv2_ResetMouse();
