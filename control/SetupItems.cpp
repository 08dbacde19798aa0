// The five setup items between the setup pages and connection 0's view
// record: builders (page fields to item), to-page (item to page fields)
// and the page enables with their wait counters. Owns gMailTestCount.
#include "control/SetupItems.h"
#include "link/Hooks.h"
#include "control/Setup.h"
#include "control/TavlinImpl1.h"
#include "control/Text.h"
#include "link/Tavn.h"
#include <cstdio>
#include <cstring>

uint32_t gMailTestCount = 0;

static uint32_t VariantOf(const TViewRecord* view)
{
    const TConnection* c = view ? view->connection : nullptr;
    return c && c->handshake ? c->handshake->machine.variant : 0;
}

// Copies a text into a field of `size` bytes: the text, its zero, the rest
// zero. The caller has checked that it fits.
static void PutField(char* field, size_t size, const char* text, size_t length)
{
    memset(field, 0, size);
    memcpy(field, text, length);
}

static size_t SlotLength(const char* slot) { return slot ? strnlen(slot, SETUP_SLOT_SIZE - 1) : 0; }

// --- Builders ----------------------------------------------------------------

int Setup_BuildBitrateItem(TViewRecord* view, const uint32_t choices[2])
{
    if (choices[SETUP_CHOICE_LIST] == SETUP_NOTHING_CHOSEN) return SETUP_NO_CHOICE;
    view->dirtyMask |= SETUP_BITRATE;
    view->bitrateItem = choices[SETUP_CHOICE_LIST]; // row of ComboBox_bitrate
    return SETUP_BUILT;
}

int Setup_BuildPppoeItem(TViewRecord* view, const uint32_t choices[2], char* const slots[SETUP_SLOTS])
{
    if (choices[SETUP_CHOICE_LIST] == SETUP_NOTHING_CHOSEN) return SETUP_NO_CHOICE;
    TPppoeRecord* r = &view->pppoeItem;
    const size_t user = SlotLength(slots[0]), password = SlotLength(slots[1]);
    if (user >= sizeof r->user) return 1;
    if (password >= sizeof r->password) return 2;
    view->dirtyMask |= SETUP_PPPOE;
    r->onOff = (int16_t)(choices[SETUP_CHOICE_LIST] & 0xFFFF); // 0 off, 1 on
    // r->kept goes back as the recorder last sent it
    PutField(r->user, sizeof r->user, slots[0], user);
    PutField(r->password, sizeof r->password, slots[1], password);
    return SETUP_BUILT;
}

uint32_t Setup_DdnsServiceOfRow(uint32_t row, uint32_t variant)
{
    if (row == 1) return (variant & 1) ? 2 : 1;
    if (row == 2) return 3;
    return 0;
}

int Setup_DdnsRowOfService(uint32_t service)
{
    if (service == 1 || service == 2) return 1;
    if (service == 3) return 2;
    return 0;
}

int Setup_BuildDdnsItem(TViewRecord* view, const uint32_t choices[2], char* const slots[SETUP_SLOTS])
{
    if (choices[SETUP_CHOICE_LIST] == SETUP_NOTHING_CHOSEN) return SETUP_NO_CHOICE;
    TDdnsRecord* r = &view->ddnsItem;
    const size_t user = SlotLength(slots[0]), password = SlotLength(slots[1]), host = SlotLength(slots[2]);
    if (user >= sizeof r->user) return 1;
    if (password >= sizeof r->password) return 2;
    if (host >= sizeof r->host) return 3;
    view->dirtyMask |= SETUP_DDNS;
    // r->kept goes back as the recorder last sent it
    r->service = (uint16_t)Setup_DdnsServiceOfRow(choices[SETUP_CHOICE_LIST], VariantOf(view));
    PutField(r->user, sizeof r->user, slots[0], user);
    PutField(r->password, sizeof r->password, slots[1], password);
    PutField(r->host, sizeof r->host, slots[2], host);
    return SETUP_BUILT;
}

int Setup_BuildMailItem(TViewRecord* view, uint32_t form, const uint32_t choices[2], uint32_t secure,
                        char* const slots[SETUP_SLOTS])
{
    const uint32_t mode = choices[SETUP_CHOICE_LIST];
    if (mode > 9) return SETUP_NO_CHOICE; // one digit: 0 off, 1 on, 2 Default
    const char modeText[2] = {(char)('0' + mode), 0};
    const char* secureText = secure == 1 ? "1" : "0";
    const char* texts[MAIL_TEXT_COUNT] = {
        modeText,   // (1) mode
        slots[0],   // (2) SMTP server
        slots[1],   // (3) SMTP port, as typed
        slots[2],   // (4) SMTP user
        slots[3],   // (5) SMTP password
        secureText, // (6) secure password authentication
        slots[4],   // (7) sender
        slots[5],   // (8) receiver 1
        slots[6],   // (9) receiver 2
        slots[7],   // (10) receiver 3
        slots[8],   // (11) subject
        slots[9],   // (12) location
    };
    size_t need = 0;
    for (const char* t : texts) need += (t ? strnlen(t, SETUP_SLOT_SIZE - 1) : 0) + 1;
    if (need > MAIL_TEXT_END - MAIL_TEXT_FIRST) return SETUP_MAIL_TOO_LONG;

    TMailRecord* r = &view->mailItem;
    view->dirtyMask |= SETUP_MAIL;
    memset(r, 0, sizeof *r);
    r->marker = MAIL_MARKER;
    r->form = form == MAIL_BUILD_TEST ? MAIL_FORM_TEST : MAIL_FORM_APPLY;
    char* at = r->texts;
    for (const char* t : texts) {
        size_t n = t ? strnlen(t, SETUP_SLOT_SIZE - 1) : 0;
        if (n) memcpy(at, t, n);
        at += n + 1; // its zero is already there
    }
    if (form == MAIL_BUILD_TEST) gMailTestCount++;
    r->testCounter = (uint8_t)(gMailTestCount & 0xFF);
    r->zero = 0;
    return SETUP_BUILT;
}

int Setup_BuildMailIntervalItem(TViewRecord* view, const uint32_t choices[2])
{
    int32_t minutes = (int16_t)(choices[SETUP_CHOICE_INTERVAL] & 0xFFFF);
    if (minutes < 0) minutes = 0;
    if (minutes > 60) minutes = 60;
    view->mailInterval.minutes = (int16_t)minutes; // the other bytes go back as received
    return SETUP_BUILT;
}

// --- Reading a received mail item ---------------------------------------------

uint32_t Setup_SplitMailTexts(const TMailRecord* item, char texts[MAIL_TEXT_COUNT][MAIL_TEXT_END])
{
    const uint8_t* bytes = (const uint8_t*)item;
    uint32_t count = 0;
    uint32_t at = MAIL_TEXT_FIRST;
    while (count < MAIL_TEXT_COUNT && at < MAIL_TEXT_END) {
        uint32_t end = at;
        while (end < MAIL_TEXT_END && bytes[end] != 0) end++;
        memcpy(texts[count], bytes + at, end - at);
        texts[count][end - at] = 0;
        count++;
        at = end + 1;
    }
    return count;
}

uint32_t Setup_MailPortOf(const char* text)
{
    if (!text || !*text) return MAIL_DEFAULT_PORT;
    uint32_t port = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') continue;
        port = port * 10 + (uint32_t)(*p - '0');
        if (port > MAIL_PORT_MAX) return MAIL_PORT_MAX; // saturates, never wraps
    }
    return port;
}

// --- To page -------------------------------------------------------------------

void Setup_BitrateToPage(TViewRecord* view)
{
    if (!gViewerForm) return;
    gViewerForm->ComboBox_bitrate->SetItemIndex((int)view->bitrateItem);
}

// A received text shown up to its field's last byte, which is set to zero.
static AnsiString FieldText(char* field, size_t size)
{
    field[size - 1] = 0;
    return AnsiString(field);
}

void Setup_PppoeToPage(TViewRecord* view)
{
    TPppoeRecord* r = &view->pppoeItem;
    AnsiString user = FieldText(r->user, sizeof r->user);
    AnsiString password = FieldText(r->password, sizeof r->password);
    if (!gViewerForm) return;
    gViewerForm->ComboBox_pppoe1->SetItemIndex(r->onOff);
    gViewerForm->LabeledEdit_pppoe2->SetText(user);
    gViewerForm->LabeledEdit_pppoe3->SetText(password);
}

void Setup_DdnsToPage(TViewRecord* view)
{
    TDdnsRecord* r = &view->ddnsItem;
    int row = Setup_DdnsRowOfService(r->service);
    AnsiString user = FieldText(r->user, sizeof r->user);
    AnsiString password = FieldText(r->password, sizeof r->password);
    AnsiString host = FieldText(r->host, sizeof r->host);
    if (!gViewerForm) return;
    gViewerForm->ComboBox_ddns1->SetItemIndex(row);
    gViewerForm->LabeledEdit_ddns2->SetText(user);
    gViewerForm->LabeledEdit_ddns3->SetText(password);
    gViewerForm->LabeledEdit_ddns4->SetText(host);
    Ddns_SelectChanged();
}

static void EnableMailServerGroup(TTavlinX* f, bool on)
{
    f->LabeledEdit_smtp1->SetEnabled(on);
    f->LabeledEdit_smtp10->SetEnabled(on);
    f->LabeledEdit_smtp2->SetEnabled(on);
    f->LabeledEdit_smtp3->SetEnabled(on);
    f->CheckBox_SMTP->SetEnabled(on);
}

void Setup_MailToPage(TViewRecord* view)
{
    TTavlinX* f = gViewerForm;
    if (!f) return;
    const TMailRecord* r = &view->mailItem;
    if (r->marker != MAIL_MARKER || (r->form != MAIL_FORM_APPLY && r->form != MAIL_FORM_TEST)) {
        f->ComboBox_smtp1->SetItemIndex(0);
        f->CheckBox_SMTP->SetChecked(false);
        Setup_ClearMail();
        return;
    }
    static char texts[MAIL_TEXT_COUNT][MAIL_TEXT_END];
    const uint32_t n = Setup_SplitMailTexts(r, texts);
    int mode = 0;
    if (n >= 1) {
        if (texts[0][0] == '1') mode = 1;
        else if (texts[0][0] == '2') mode = 2;
        if (mode == 2 && VariantOf(view) != 1) mode = 1; // no Default on this recorder
        EnableMailServerGroup(f, mode != 2);
    }
    f->ComboBox_smtp1->SetItemIndex(mode);
    if (n >= 2) f->LabeledEdit_smtp1->SetText(texts[1]);
    f->LabeledEdit_smtp10->SetText(IntToAnsiString((int32_t)Setup_MailPortOf(n >= 3 ? texts[2] : nullptr)));
    if (n >= 4) f->LabeledEdit_smtp2->SetText(texts[3]);
    if (n >= 5) f->LabeledEdit_smtp3->SetText(texts[4]);
    f->CheckBox_SMTP->SetChecked(n >= 6 && texts[5][0] == '1');
    TLabeledEdit* rest[] = {f->LabeledEdit_smtp4, f->LabeledEdit_smtp5, f->LabeledEdit_smtp6,
                            f->LabeledEdit_smtp7, f->LabeledEdit_smtp8, f->LabeledEdit_smtp9};
    for (uint32_t i = 0; i < 6; ++i)
        if (n >= 7 + i) rest[i]->SetText(texts[6 + i]);
}

void Setup_MailIntervalToPage(TViewRecord* view)
{
    int minutes = view->mailInterval.minutes;
    if (minutes < 0) minutes = 0;
    if (minutes > 60) minutes = 60;
    if (gViewerForm) gViewerForm->ComboBox_smtp2->SetItemIndex(minutes);
}

// --- Enable ----------------------------------------------------------------------

static void SetWait(TViewRecord* view, uint32_t page, int on) { view->pageWait[page] = on ? SETUP_WAIT_DONE : 0; }

void Setup_EnableBitratePage(TViewRecord* view, int)
{
    view->pageWait[PAGE_WAIT_BITRATE] = SETUP_WAIT_DONE; // never greyed
    TTavlinX* f = gViewerForm;
    if (!f) return;
    f->Label_bitrate->SetEnabled(true);
    f->ComboBox_bitrate->SetEnabled(true);
    f->Button_Bitrate->SetEnabled(true);
}

void Setup_EnablePppoePage(TViewRecord* view, int on)
{
    SetWait(view, PAGE_WAIT_PPPOE, on);
    TTavlinX* f = gViewerForm;
    if (!f) return;
    TControl* controls[] = {f->ComboBox_pppoe1,    f->Label_pppoe1, f->LabeledEdit_pppoe2,
                            f->LabeledEdit_pppoe3, f->Button_PPPoE, f->Button_PPPoE2};
    for (TControl* c : controls) c->SetEnabled(on != 0);
}

void Setup_EnableDdnsPage(TViewRecord* view, int on)
{
    SetWait(view, PAGE_WAIT_DDNS, on);
    TTavlinX* f = gViewerForm;
    if (!f) return;
    TControl* controls[] = {f->ComboBox_ddns1,    f->Label_ddns1, f->LabeledEdit_ddns2, f->LabeledEdit_ddns3,
                            f->LabeledEdit_ddns4, f->Button_DDNS, f->Button_DDNS2};
    for (TControl* c : controls) c->SetEnabled(on != 0);
}

void Setup_EnableMailPage(TViewRecord* view, int on)
{
    TTavlinX* f = gViewerForm;
    if (f) {
        TControl* controls[] = {f->ComboBox_smtp1,    f->ComboBox_smtp2,     f->Label_smtp1,       f->Label_smtp2,
                                f->LabeledEdit_smtp1, f->LabeledEdit_smtp10, f->LabeledEdit_smtp2, f->LabeledEdit_smtp3,
                                f->LabeledEdit_smtp4, f->LabeledEdit_smtp5,  f->LabeledEdit_smtp6, f->LabeledEdit_smtp7,
                                f->LabeledEdit_smtp8, f->LabeledEdit_smtp9,  f->Button_SMTP,       f->Button_SMTP2,
                                f->Button_SMTP3};
        for (TControl* c : controls) c->SetEnabled(on != 0);
        Setup_UpdateMailControls(); // Test Mail and the server group follow the mode, greyed or not
    }
    SetWait(view, PAGE_WAIT_MAIL, on);
}
