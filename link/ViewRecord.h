// The view record: one per connection record (gViewRecords, owned by the
// ICMD module, which links each with its connection). It holds the view
// mode, the ICMD sequence, the three request blocks that travel whole in
// ICMD messages, and the setup items with their bookkeeping; the view modes
// (control/View.cpp) switch and fill it, the media and the key panel read it.
#pragma once
#include "link/Conn.h"
#include <cstdint>

// The mode word; each mode is sent as its own ICMD type.
enum TViewMode : uint32_t {
    VIEW_LIVE = 0,           // ICMD type 256
    VIEW_PLAYBACK = 1,       // 512
    VIEW_BACKUP = 2,         // 1024
    VIEW_SETUP = 3,          // 4096
    VIEW_LOCAL_PLAYBACK = 4, // 2048
    VIEW_MODE_COUNT = 5,
};

// Live request block (ICMD type 256), 64 bytes on the wire.
struct TLiveRequest {
    uint32_t liveLayout;       // 0 single, 1 four-way, 2 nine-way, 3 sixteen-way split
    uint32_t liveFirstChannel; // first channel of the split
    uint32_t liveChannel;      // the single channel, 0-based
    uint32_t liveChannelMask;  // (1 << channel) | bit 31 after a single-channel choice in Live
    uint32_t liveWidth;        // 640
    uint32_t liveHeight;       // 512
    uint8_t liveRest[40];      // zero unless the recorder filled them
};

// Playback request block (ICMD type 512), 64 bytes.
struct TPlaybackRequest {
    uint32_t playbackWord0; // as the recorder last sent them
    uint32_t playbackWord1;
    uint32_t playbackChannel;  // channel played back
    uint32_t playbackRun;      // 0 stopped, 1 playing, 2 fast
    int32_t playbackDirection; // -1 backwards, 0 still, 1 forwards
    uint32_t playbackTime;     // recorder time where playback starts
    uint8_t playbackRest[40];
};

// Backup request block (ICMD type 1024), 64 bytes.
struct TBackupRequest {
    uint32_t backupWord0; // as the recorder last sent them
    uint32_t backupWord1;
    uint32_t backupChannel; // channel copied, 0-based
    uint32_t backupArmed;   // 0 off, 1 running, 2 set by the key panel's backup step
    uint32_t backupStart;   // start mark, recorder time
    uint32_t backupEnd;     // end mark, recorder time
    uint8_t backupRest[40];
};

// Setup item 2: the PPPoE settings the recorder keeps (68 bytes).
struct TPppoeRecord {
    int16_t onOff;   // 0 off, 1 on
    uint8_t kept[2]; // sent back as last received
    char user[32];   // NUL-terminated
    char password[32];
};

// Setup item 4: dynamic DNS (116 bytes).
struct TDdnsRecord {
    uint8_t kept[2];  // sent back as last received
    uint16_t service; // 0 none, 1 DynDNS, 2 the maker's own, 3 No-IP
    char user[32];
    char password[32];
    char host[48];
};

// Setup item 8: e-mail notification (256 bytes).
struct TMailRecord {
    uint8_t marker;      // 20
    uint8_t form;        // 9 apply, 16 test mail
    char texts[252];     // twelve NUL-terminated texts one after another
    uint8_t testCounter; // test mails requested, modulo 256
    uint8_t zero;
};

// Setup item 16: the mail interval (256 bytes).
struct TMailIntervalRecord {
    int16_t minutes;   // 0 to 60
    uint8_t kept[254]; // sent back as last received
};

static_assert(sizeof(TLiveRequest) == 64, "live block is 64 bytes");
static_assert(sizeof(TPlaybackRequest) == 64, "playback block is 64 bytes");
static_assert(sizeof(TBackupRequest) == 64, "backup block is 64 bytes");
static_assert(sizeof(TPppoeRecord) == 68, "PPPoE item is 68 bytes");
static_assert(sizeof(TDdnsRecord) == 116, "DDNS item is 116 bytes");
static_assert(sizeof(TMailRecord) == 256, "mail item is 256 bytes");
static_assert(sizeof(TMailIntervalRecord) == 256, "mail interval item is 256 bytes");

// Setup item masks, also the bits of dirtyMask.
enum {
    SETUP_BITRATE = 1,
    SETUP_PPPOE = 2,
    SETUP_DDNS = 4,
    SETUP_MAIL = 8,
    SETUP_MAIL_INTERVAL = 16,
    SETUP_ITEM_COUNT = 5,
};

// Setup pages with a wait counter, the index into pageWait.
enum { PAGE_WAIT_BITRATE, PAGE_WAIT_PPPOE, PAGE_WAIT_DDNS, PAGE_WAIT_MAIL, PAGE_WAIT_COUNT };

struct TViewRecord {
    uint32_t mode; // TViewMode; a received ICMD answer whose op is not 4 overwrites it
    uint32_t reserved;
    uint32_t icmdSequence; // incremented before each ICMD message; never reset
    TLiveRequest liveBlock;
    TPlaybackRequest playbackBlock;
    TBackupRequest backupBlock;
    uint32_t pageWait[PAGE_WAIT_COUNT];
    uint32_t dirtyMask;               // items applied and not yet answered, SETUP_* bits
    int32_t ddnsRows[8];              // DDNS service shown in each list row, -1 free
    uint32_t bitrateItem;             // item 1, default 9
    TPppoeRecord pppoeItem;           // item 2
    TDdnsRecord ddnsItem;             // item 4
    TMailRecord mailItem;             // item 8
    TMailIntervalRecord mailInterval; // item 16
    TConnection* connection;          // the owning record, linked by Icmd_Init
};

// One row of the setup-item table: where the item lies in the view record
// and the page functions that show it and grey or release its page.
struct TSetupItem {
    uint32_t used;
    uint32_t mask;                                      // SETUP_* bit
    uint8_t* (*get)(TViewRecord* view, uint32_t* size); // the item and its size
    void (*hook)();                                     // runs before the item is sent
    void (*toPage)(TViewRecord* view);
    void (*enablePage)(TViewRecord* view, int on);
};

// One view record per connection record, linked by Icmd_Init.
extern TViewRecord gViewRecords[CONN_COUNT];

// Live layouts (liveLayout).
enum { LAYOUT_SINGLE = 0, LAYOUT_QUAD = 1, LAYOUT_NINE = 2, LAYOUT_SIXTEEN = 3, LAYOUT_COUNT = 4 };
// backupArmed.
enum { BACKUP_OFF = 0, BACKUP_RUNNING = 1, BACKUP_STEP = 2 };
