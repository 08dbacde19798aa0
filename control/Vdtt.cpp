// The title module "VDTT": reads the recorder's titles chunk by chunk when
// the Title tab is entered and uploads the settings block and the four
// bitmap sets in chunks of at most 1,152 bytes, each chunk when the
// recorder asks for it. Owns gTitleBuffer (receive buffer and the area
// where every outgoing message is built), the request block and the op
// table, and the bitmap areas.
#include "control/Title.h"
#include "link/Hooks.h"
#include "control/TavlinImpl1.h"
#include "link/Bytes.h"
#include "link/Conn.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "link/Tavn.h"
#include "platform/vcl/Dialogs.h"
#include <cstring>

uint8_t gTitleBuffer[TITLE_BUFFER_SIZE];
TTitleBitmaps gTitleBitmaps;

static uint8_t gTitleArea0[2 * 50176];
static uint8_t gTitleArea1[2 * 30976];
static uint8_t gTitleArea2[2 * 20736];
static uint8_t gTitleArea3[2 * 12544];
static TTitleRequest gTitleRequest;
// The settings blocks as the start-up left them, for Title_Reset.
static TTitleSettings gTitleStartSettings[2];

enum { BODY_HEAD = 32 };

typedef void (*TTitleOnReceive)(uint32_t session, uint32_t mode, uint32_t section, const uint8_t* body,
                                uint32_t bodyBytes, TTitleState* state);
typedef uint32_t (*TTitleBuild)(uint32_t mode, uint32_t section, uint32_t offset, uint32_t length, uint8_t* body,
                                TTitleState* state);
struct TTitleOp {
    uint32_t op;
    TTitleOnReceive receive;
    TTitleBuild build;
};
static TTitleOp gTitleOps[2];

uint8_t* Title_SectionBlock(TTitleState* state, uint32_t section, uint32_t* size, uint32_t* next)
{
    if (section >= 1 && section <= 4) {
        *size = kTitleSizes[section - 1].setBytes;
        *next = section == 4 ? 0 : section + 1;
        return state->bitmap[section - 1][0];
    }
    *size = TITLE_SETTINGS_SIZE;
    *next = section == 16 ? 1 : 0;
    return (uint8_t*)state->settings;
}

// The bytes of a chunk that lie inside its section: none from an offset at
// or past the end, else at most what is left, and never more than a chunk.
static uint32_t ClampChunk(uint32_t offset, uint32_t length, uint32_t size)
{
    if (offset >= size) return 0;
    if (length > size - offset) length = size - offset;
    if (length > TITLE_CHUNK) length = TITLE_CHUNK;
    return length;
}

// --- Building ---------------------------------------------------------------------

static uint32_t Title_BuildChunkRequest(uint32_t, uint32_t, uint32_t offset, uint32_t length, uint8_t* body,
                                        TTitleState*)
{
    memset(body, 0, BODY_HEAD);
    PutU32(body, offset);
    PutU32(body + 4, length);
    return BODY_HEAD;
}

static uint32_t Title_BuildChunkData(uint32_t mode, uint32_t section, uint32_t offset, uint32_t length, uint8_t* body,
                                     TTitleState* state)
{
    memset(body, 0, BODY_HEAD);
    if (mode == 1) {
        memcpy(body + BODY_HEAD, state->settings, TITLE_SETTINGS_SIZE);
        PutU32(body, 0);
        PutU32(body + 4, TITLE_SETTINGS_SIZE);
        PutU32(body + 8, Checksum_Bytes(state->settings, TITLE_SETTINGS_SIZE));
        return BODY_HEAD + TITLE_SETTINGS_SIZE;
    }
    uint32_t size = 0, next = 0;
    const uint8_t* block = Title_SectionBlock(state, section, &size, &next);
    length = ClampChunk(offset, length, size);
    if (length == 0) return BODY_HEAD;
    memcpy(body + BODY_HEAD, block + offset, length);
    PutU32(body, offset);
    PutU32(body + 4, length);
    PutU32(body + 8, Checksum_Bytes(body + BODY_HEAD, length));
    state->uploadedBytes += length;
    return BODY_HEAD + length;
}

void Title_Transmit(void* request)
{
    const TTitleRequest* r = (const TTitleRequest*)request;
    if (!r) return;
    int index = Conn_FindBySession(r->session);
    if (index < 0) return;
    TConnection* c = &gConnections[index];
    TTitleState* state = c->vdtt;
    if (!state) return;
    Msg_Begin(gTitleBuffer, "VDTT",
              TModuleSubHeader{r->session,
                               {
                                   r->mode,    // mode
                                   r->op,      // op
                                   r->section, // section
                               }});
    uint32_t bodyLength = 0;
    for (const TTitleOp& op : gTitleOps)
        if (op.op == r->op && op.build) {
            bodyLength = op.build(r->mode, r->section, r->offset, r->length, gTitleBuffer + MSG_FRAME_SIZE, state);
            break;
        }
    Conn_QueueSend(c, gTitleBuffer, Msg_Finish(gTitleBuffer, bodyLength));
}

void Title_SendRequest(uint32_t session, uint32_t mode, uint32_t op, uint32_t section, uint32_t offset, uint32_t length)
{
    gTitleRequest.session = session;
    gTitleRequest.section = section;
    gTitleRequest.op = op;
    gTitleRequest.mode = mode;
    gTitleRequest.length = length;
    gTitleRequest.offset = offset;
    Msg_SendViaModule("VDTT", &gTitleRequest);
}

// --- Receiving --------------------------------------------------------------------

static void EndUpload(TTitleState* state)
{
    state->busy = 0;
    if (state->requestFlag == 2) state->requestFlag = 0;
    Title_EnableEdits(1);
}

static void Title_OnChunkRequest(uint32_t session, uint32_t mode, uint32_t section, const uint8_t* body, uint32_t,
                                 TTitleState* state)
{
    if (mode == 0) {
        Title_SendRequest(session, 1, 1, 17, 0, 0);
    } else if (mode == 1 && section != 0) {
        state->uploadStamp = Stopwatch_Now();
        Title_SendRequest(session, 0, 1, section, GetU32(body), GetU32(body + 4));
    } else if (mode == 1) {
        state->uploadedBytes = state->uploadTotal;
        EndUpload(state);
    }
}

static void Title_OnChunkData(uint32_t session, uint32_t mode, uint32_t section, const uint8_t* body,
                              uint32_t bodyBytes, TTitleState* state)
{
    uint32_t offset = GetU32(body);
    uint32_t length = GetU32(body + 4);
    uint32_t checksum = GetU32(body + 8);
    const uint8_t* data = body + BODY_HEAD;
    uint32_t received = bodyBytes - BODY_HEAD; // the caller made sure of the head
    if (mode == 0) {
        uint32_t size = 0, next = 0;
        uint8_t* target = Title_SectionBlock(state, section, &size, &next);
        bool whole = length <= received; // the message holds every byte it claims
        length = ClampChunk(offset, length, size);
        if (whole && length > 0 && Checksum_Bytes(data, length) == checksum) {
            if (section >= 1 && section <= TITLE_SIZES) gTitleBitmaps.written[section - 1] = true;
            memcpy(target + offset, data, length);
        }
        bool settings = target == (uint8_t*)state->settings;
        if (length > 0 && offset + length < size) {
            uint32_t nextOffset = offset + length;
            uint32_t left = size - nextOffset;
            Title_SendRequest(session, 1, 0, section, nextOffset, left < TITLE_CHUNK ? left : (uint32_t)TITLE_CHUNK);
        } else {
            // The section is complete: a settings block shows at once.
            if (settings) {
                Title_ApplySettings(state->settings);
                Title_MarkAllChanged(state);
            }
            Title_SendRequest(session, 1, 0, next, 0, TITLE_CHUNK);
        }
    } else if (mode == 1) {
        if (length > TITLE_SETTINGS_SIZE || length > received) return;
        if (Checksum_Bytes(data, length) != checksum) return;
        memcpy(state->settings, data, length);
        Title_ApplySettings(state->settings);
        Title_MarkAllChanged(state);
    }
}

void Title_Receive()
{
    uint32_t n = Msg_ReceivedLength();
    if (n > TITLE_BUFFER_SIZE || n < BODY_HEAD + BODY_HEAD) return; // no room for the heads: ignored
    uint32_t session = GetU32(gTitleBuffer);
    uint32_t mode = GetU32(gTitleBuffer + 4);
    uint32_t op = GetU32(gTitleBuffer + 8);
    uint32_t section = GetU32(gTitleBuffer + 12);
    int index = Conn_FindBySession(session);
    if (index < 0) return;
    TTitleState* state = gConnections[index].vdtt;
    if (!state) return;
    for (const TTitleOp& entry : gTitleOps)
        if (entry.op == op && entry.receive) {
            entry.receive(session, mode, section, gTitleBuffer + BODY_HEAD, n - BODY_HEAD, state);
            return;
        }
}

// --- Start-up, upload and the tab -------------------------------------------------------

static void Title_InitOp0()
{
    gTitleOps[0].op = 0;
    gTitleOps[0].receive = Title_OnChunkRequest;
    gTitleOps[0].build = Title_BuildChunkRequest;
}

static void Title_InitOp1()
{
    gTitleOps[1].op = 1;
    gTitleOps[1].receive = Title_OnChunkData;
    gTitleOps[1].build = Title_BuildChunkData;
}

int Title_Init()
{
    Msg_RegisterModule("VDTT", Title_Receive, Title_Transmit, gTitleBuffer, sizeof gTitleBuffer);
    Title_InitOp0();
    Title_InitOp1();
    gTitleBitmaps.area[0] = gTitleArea0;
    gTitleBitmaps.area[1] = gTitleArea1;
    gTitleBitmaps.area[2] = gTitleArea2;
    gTitleBitmaps.area[3] = gTitleArea3;
    for (bool& written : gTitleBitmaps.written) written = true; // whatever ran before
    for (uint32_t i = 0; i < 2; i++) {
        TTitleState* state = &gTitleStates[i];
        state->settings = &gTitleSettings[i];
        state->connection = &gConnections[i];
        gConnections[i].vdtt = state;
        for (uint32_t s = 0; s < TITLE_SIZES; s++)
            for (uint32_t c = 0; c < TITLE_CHANNELS; c++)
                state->bitmap[s][c] =
                    gTitleBitmaps.area[s] + i * kTitleSizes[s].setBytes + c * kTitleSizes[s].titleBytes;
    }
    Title_InitPage();
    memcpy(gTitleStartSettings, gTitleSettings, sizeof gTitleStartSettings);
    return 0;
}

void Title_Reset()
{
    memcpy(gTitleSettings, gTitleStartSettings, sizeof gTitleSettings);
    for (uint32_t s = 0; s < TITLE_SIZES; s++)
        if (gTitleBitmaps.area[s] && gTitleBitmaps.written[s]) {
            memset(gTitleBitmaps.area[s], 0, 2 * kTitleSizes[s].setBytes);
            gTitleBitmaps.written[s] = false;
        }
    for (uint32_t i = 0; i < 2; i++) {
        TTitleState* state = &gTitleStates[i];
        state->requestFlag = 0;
        state->busy = 0;
        state->uploadedBytes = 0;
        state->uploadTotal = 0;
        state->uploadSession = 0;
        state->uploadStamp = 0;
        state->previewChannel = 0;
        memset(state->changed, 0, sizeof state->changed);
        memset(state->ink, 0, sizeof state->ink);
    }
    gTitleStates[0].previewSize = 1;
    Msg_ClearBuffer(gTitleBuffer, sizeof gTitleBuffer);
    memset(&gTitleRequest, 0, sizeof gTitleRequest);
}

uint32_t Title_TakeRequestFlag(TTitleState* state)
{
    uint32_t flag = state->requestFlag;
    state->requestFlag = 0;
    return flag;
}

uint32_t Title_UploadChecksum()
{
    TTitleState* state = &gTitleStates[0];
    uint32_t sum = Checksum_Bytes(state->settings, TITLE_SETTINGS_SIZE);
    // An area nothing wrote since the reset holds only zeros, whose sum is 0.
    for (uint32_t s = 0; s < TITLE_SIZES; s++)
        if (gTitleBitmaps.written[s]) sum += Checksum_Bytes(state->bitmap[s][0], kTitleSizes[s].setBytes);
    return sum;
}

void Title_StartUpload(uint32_t connection)
{
    TTitleState* state = &gTitleStates[connection & 1];
    // Titles typed since the last render go out as they are shown.
    Title_RenderChanged(state);
    state->uploadTotal = TITLE_UPLOAD_TOTAL;
    state->requestFlag = 2;
    state->uploadedBytes = 0;
    state->busy = 1;
    state->uploadSession = state->connection ? state->connection->session : 0;
    state->uploadStamp = Stopwatch_Now();
    state->settings->uploadChecksum = 0;
    state->settings->uploadChecksum = Title_UploadChecksum();
    Title_EnableEdits(0);
}

void Title_CheckUpload(TTitleState* state)
{
    if (!state || state->busy != 1) return;
    const TConnection* c = state->connection;
    bool linkGone = !c || c->linkState != LINK_LOGGED_IN || c->session != state->uploadSession;
    bool silent = Stopwatch_Now() - state->uploadStamp > TITLE_UPLOAD_TIMEOUT;
    if (!linkGone && !silent) return;
    // The recorder may now hold part of the new titles: the bar goes back
    // to its start and the user is told.
    EndUpload(state);
    state->uploadedBytes = 0;
    state->uploadTotal = 0;
    if (gViewerForm) gViewerForm->ProgressBar_title->SetPosition(0);
    Application_MessageBox(linkGone ? "The titles were not uploaded: the link to the recorder dropped before the "
                                      "upload was complete. The recorder may hold only part of them; please "
                                      "Apply again once connected."
                                    : "The titles were not uploaded: the recorder stopped asking for them for 15 "
                                      "seconds. It may hold only part of them; please Apply again.",
                           "Setup Information", MB_OK | MB_ICONWARNING);
}

uint32_t Title_UpdateProgress()
{
    TTitleState* state = &gTitleStates[0];
    if (!gViewerForm || gViewerForm->PageControl1->ActivePageIndex() != 5 || state->uploadTotal == 0) return 0;
    uint32_t position = (uint32_t)((uint64_t)state->uploadedBytes * 100 / state->uploadTotal);
    gViewerForm->ProgressBar_title->SetPosition((int)position);
    return position;
}

void Title_ShowTab(uint32_t flag)
{
    if (gViewerForm) gViewerForm->TabSheet6->SetTabVisible(flag != 0);
}

void Title_TabEntered(uint32_t connection)
{
    TTitleState* state = &gTitleStates[connection & 1];
    if (state->busy == 1) return;
    Title_FillEdits();
    state->requestFlag = 1;
}
