// Channel titles: the settings block, the per-connection title state, the
// four bitmap sets, the Title page's controls and handlers, the rendering
// of each title into 1-bit bitmaps (Title.cpp), the title files
// (TitleFile.cpp) and the title module "VDTT" with the upload (Vdtt.cpp).
// Owns gTitleSettings, gTitleStates and the bitmap areas.
#pragma once
#include <cstddef>
#include <cstdint>

struct TConnection;
class TObject;
class TImage;
class TFontDialog;
class TOpenDialog;
class TSaveDialog;
class TLabeledEdit;

enum {
    TITLE_CHANNELS = 16,
    TITLE_SIZES = 4,
    TITLE_TEXT_SIZE = 64,
    TITLE_LANGUAGES = 19,
    TITLE_SETTINGS_SIZE = 1160,
    TITLE_CHUNK = 1152, // most data bytes one message carries
    TITLE_UPLOAD_TOTAL = 115592,
    TITLE_FILE_LENGTH = 115648,
    TITLE_FILE_VERSION = 0x01000003,
    TITLE_BUFFER_SIZE = 131072,
};

// The settings block: the same 1,160 bytes in memory, in a title file and
// on the wire (little-endian).
struct TTitleSettings {
    uint32_t reserved0;
    char titles[TITLE_CHANNELS][TITLE_TEXT_SIZE]; // 8-bit text of the edit, NUL-terminated
    uint8_t reserved1[32];
    char fontName[64];
    uint32_t charset;    // Windows character set of the title font (low byte)
    uint32_t styleBits;  // 1 bold, 2 italic, 4 underline, 8 strike-out
    int32_t sizePercent; // text height in % of the bitmap height, 10..100
    uint32_t language;   // 0..18, item of ComboBox_Title
    uint32_t reserved2;
    uint32_t uploadChecksum; // written when an upload starts
    uint8_t reserved3[12];
};
static_assert(sizeof(TTitleSettings) == TITLE_SETTINGS_SIZE, "settings block is 1,160 bytes");
static_assert(offsetof(TTitleSettings, fontName) == 1060, "font name at 1060");
static_assert(offsetof(TTitleSettings, uploadChecksum) == 1144, "upload checksum at 1144");

// Width, height, bytes per title and per set of 16 of the four sizes.
struct TTitleSize {
    uint32_t width, height, titleBytes, setBytes;
};
extern const TTitleSize kTitleSizes[TITLE_SIZES];

// The bitmap areas: per size the set of connection 0, then connection 1.
// A title is its rows top to bottom, each row width / 32 little-endian u32
// words; bit k of a word is pixel k of its 32 (bit 0 leftmost), 1 = ink.
struct TTitleBitmaps {
    uint8_t* area[TITLE_SIZES];
    // Per size: the area may hold ink, set by everything that writes an
    // area (the rendering, a title file's load, the recorder's chunks);
    // the reset clears only these.
    bool written[TITLE_SIZES];
};
extern TTitleBitmaps gTitleBitmaps;

struct TTitleState {
    uint32_t requestFlag; // 0 none, 1 read the titles, 2 start the upload
    uint32_t previewSize; // size shown in the preview (1)
    uint32_t busy;        // 1 while an upload runs
    uint32_t uploadedBytes;
    uint32_t uploadTotal;
    uint32_t previewChannel;
    uint32_t changed[TITLE_CHANNELS];            // 1: render again
    int32_t ink[TITLE_CHANNELS][TITLE_SIZES][4]; // width, height, left, top
    TTitleSettings* settings;
    TConnection* connection;
    uint8_t* bitmap[TITLE_SIZES][TITLE_CHANNELS];
    // The running upload: its session and the stopwatch reading of the
    // last thing the recorder did for it (the time-out counts from there).
    uint32_t uploadSession;
    uint32_t uploadStamp;
};

extern TTitleSettings gTitleSettings[2];
extern TTitleState gTitleStates[2];
extern TFontDialog* gTitleFontDialog;
extern TOpenDialog* gTitleOpenDialog;
extern TSaveDialog* gTitleSaveDialog;
extern TImage* gTitleDrawImage;
extern TImage* gTitleMeasureImage;

// --- The page and the rendering (Title.cpp) ----------------------------------

void Title_InitPage();
void Title_SetText(TTitleState* state, const char* text, uint32_t channel);
// The title edit of a channel (null without the form or above 15).
TLabeledEdit* Title_Edit(uint32_t channel);
// Change and click handler of the 16 title edits (Tag = channel).
void LabeledEdit_TitleChange(TObject* Sender);
int32_t Title_SetFontSize(int32_t value);
void Title_ChooseFont();
void Title_SetLanguage(TTitleSettings* settings, uint32_t index);
uint32_t Title_CharsetForLanguage(uint32_t index);
void Title_ApplySettings(TTitleSettings* settings);
void Title_FontToDialog(TTitleSettings* settings);
void Title_FontToCanvases(TTitleSettings* settings);
void Title_SizeToScrollBar(TTitleSettings* settings);
void Title_RenderChanged(TTitleState* state);
void Title_RenderSize(TTitleState* state, uint32_t size, uint32_t channel);
void Title_MeasureInk(TTitleState* state, TImage* surface, const char* text, uint32_t size, uint32_t channel,
                      int fontSize);
void Title_OutlinePreview(TImage* image, uint32_t width, uint32_t height);
void Title_PackBitmap(TTitleState* state, TImage* surface, uint32_t channel, uint32_t size);
// One pixel into the accumulator; every 32nd pixel writes the word at *out.
void Title_PackBits(uint32_t ink, uint32_t* counter, uint32_t* accumulator, uint32_t** out);
void Title_FillEdits();
void Title_ShowEdits(uint32_t count);
void Title_EnableEdits(int on);
// All 16 channels marked for rendering.
void Title_MarkAllChanged(TTitleState* state);
// The 300 ms task: renders what changed, then shows the upload's progress.
void Title_TimerStep(uint32_t a, uint32_t b);
// The recorder's channel count (0 before its machine record), at most 16.
uint32_t Title_ChannelCount(const TTitleState* state);

// --- Title files (TitleFile.cpp) -----------------------------------------------

uint32_t Title_FileLength();
void Title_SaveFile();
void Title_LoadFile();
// The file steps behind the dialogs: 0 done, -1 nothing changed or written.
int Title_SaveTo(const char* path);
int Title_LoadFrom(const char* path);
// The same load from a title file's bytes in memory.
int Title_LoadFromBytes(const uint8_t* data, size_t size);

// --- The title module "VDTT" and the upload (Vdtt.cpp) --------------------------

// The request block handed to the module's send function.
struct TTitleRequest {
    uint32_t session, section, op, mode, length, offset;
};
extern uint8_t gTitleBuffer[TITLE_BUFFER_SIZE];

int Title_Init();
// Back to the start-up state: both connections' settings blocks as the
// start-up left them, the bitmap sets blank, no upload, no request, nothing
// to render, the module's buffer cleared. The page's controls are not
// touched (Title_ApplySettings shows the settings again).
void Title_Reset();
void Title_Receive();
void Title_Transmit(void* request);
void Title_SendRequest(uint32_t session, uint32_t mode, uint32_t op, uint32_t section, uint32_t offset,
                       uint32_t length);
// Takes the request flag of the state and resets it (the socket poll).
uint32_t Title_TakeRequestFlag(TTitleState* state);
void Title_StartUpload(uint32_t connection);
uint32_t Title_UploadChecksum();
uint32_t Title_UpdateProgress();
// Entering the Title tab: unless an upload runs, the edits are cleared and
// the titles are asked for.
void Title_TabEntered(uint32_t connection);
// Ends a running upload whose link dropped or that the recorder left
// unanswered too long; the page is enabled again.
void Title_CheckUpload(TTitleState* state);
// The block and size of a section, and the section a read chain goes on with.
uint8_t* Title_SectionBlock(TTitleState* state, uint32_t section, uint32_t* size, uint32_t* next);
// Stopwatch time (in its units) after which an unanswered upload ends.
enum : uint32_t { TITLE_UPLOAD_TIMEOUT = 1500000 }; // 15 s
