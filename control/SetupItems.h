// The five setup items (bitrate, PPPoE, DDNS, mail, mail interval): how
// each is built from a page's fields into connection 0's view record, how
// the recorder's copy is shown on its page, and how a page is greyed while
// its request is in flight. The item records themselves are in
// control/View.h. Owns the process-wide test-mail counter.
#pragma once
#include "link/ViewRecord.h"
#include <cstdint>

enum {
    SETUP_SLOTS = 10,          // texts a page hands to the builders
    SETUP_SLOT_SIZE = 256,     // 255 characters and the NUL
    SETUP_CHOICE_LIST = 0,     // choices[0]: the page's list row
    SETUP_CHOICE_INTERVAL = 1, // choices[1]: the mail interval row
    SETUP_WAIT_RELEASE = 1000, // ticks a greyed page waits for its answer
    SETUP_WAIT_DONE = 1001,    // counter of a page that is not waiting
};

// Mail item: marker and forms, and where its texts lie.
enum {
    MAIL_MARKER = 20,
    MAIL_FORM_APPLY = 9,
    MAIL_FORM_TEST = 16,
    MAIL_TEXT_COUNT = 12,
    MAIL_TEXT_FIRST = 2, // first byte of the texts
    MAIL_TEXT_END = 254, // one past the last byte the texts may use
    MAIL_DEFAULT_PORT = 25,
    MAIL_PORT_MAX = 65535,
};
// Setup_BuildMailItem's form argument.
enum { MAIL_BUILD_APPLY = 0, MAIL_BUILD_TEST = 1 };

// What a builder answers. 0: the item is built and marked dirty. A refusal
// leaves the view record as it was, so nothing stale is sent:
// SETUP_NO_CHOICE when the page's list has no row chosen,
// SETUP_MAIL_TOO_LONG when the twelve mail texts do not fit their 252
// bytes, and 1 + slot for the first text that is longer than its field.
// Setup_SendPage adds SETUP_NOT_CONNECTED: no logged-in link to send on.
enum { SETUP_BUILT = 0, SETUP_NO_CHOICE = -1, SETUP_MAIL_TOO_LONG = -2, SETUP_NOT_CONNECTED = -3 };
// A list choice of this value is the list without a selection.
constexpr uint32_t SETUP_NOTHING_CHOSEN = 0xFFFFFFFFu;

// Test mails requested since the process started; never reset.
extern uint32_t gMailTestCount;

// Builders: choices = {list row, interval row}, slots = the page's texts.
int Setup_BuildBitrateItem(TViewRecord* view, const uint32_t choices[2]);
int Setup_BuildPppoeItem(TViewRecord* view, const uint32_t choices[2], char* const slots[SETUP_SLOTS]);
int Setup_BuildDdnsItem(TViewRecord* view, const uint32_t choices[2], char* const slots[SETUP_SLOTS]);
// form MAIL_BUILD_APPLY or MAIL_BUILD_TEST; secure 1 ticks "secure password
// authentication". A test build counts one more test mail.
int Setup_BuildMailItem(TViewRecord* view, uint32_t form, const uint32_t choices[2], uint32_t secure,
                        char* const slots[SETUP_SLOTS]);
// The interval is not confirmed by the recorder: it never marks the item dirty.
int Setup_BuildMailIntervalItem(TViewRecord* view, const uint32_t choices[2]);

// The DDNS service number sent for list row `row` on a recorder of that
// variant word: row 1 is the maker's own service when bit 0 is set, else
// DynDNS; row 2 is No-IP; anything else none.
uint32_t Setup_DdnsServiceOfRow(uint32_t row, uint32_t variant);
// The list row that shows a received service number.
int Setup_DdnsRowOfService(uint32_t service);
// The port shown for a received port text: 25 for none or "", else the
// value of its digits (other characters skipped), at most 65535.
uint32_t Setup_MailPortOf(const char* text);
// Splits the mail item's texts (bytes 2..253 only) at their zeros into at
// most twelve texts, each cut where the texts end; returns how many.
uint32_t Setup_SplitMailTexts(const TMailRecord* item, char texts[MAIL_TEXT_COUNT][MAIL_TEXT_END]);

// The items' To page and Enable page functions, the rows of the ICMD
// module's setup-item table: link/Hooks.h.
