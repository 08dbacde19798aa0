// The setup pages' logic on connection 0: entering a page, Apply, Clear and
// Test Mail, the wait counters that release a greyed page, the pages'
// preparation per recorder, and the DDNS list and links. Owns
// gSetupSlots, the three DDNS address tables and the help texts.
#include "control/Setup.h"
#include "ddns/Hooks.h"
#include "link/Hooks.h"
#include "control/Title.h"
#include "control/TavlinImpl1.h"
#include "control/Upnp.h"
#include "ddns/Unit5.h"
#include "link/Icmd.h"
#include "platform/vcl/CodePage.h"
#include "platform/vcl/Dialogs.h"
#include "platform/win/Win.h"
#include <cstdio>
#include <cstring>

char gSetupSlots[SETUP_SLOTS][SETUP_SLOT_SIZE];
// Per setup item (bit i of the mask): ticks since its Apply went out while
// the recorder has not confirmed it; SETUP_WAIT_DONE when nothing waits.
static uint32_t gApplyWait[SETUP_ITEM_COUNT] = {SETUP_WAIT_DONE, SETUP_WAIT_DONE, SETUP_WAIT_DONE, SETUP_WAIT_DONE,
                                                SETUP_WAIT_DONE};

const char gDdnsHomeUrls[DDNS_SERVICES][DDNS_URL_SIZE] = {
    "Disable",
    "http://www.dyndns.com",
    "http://ddns.morvik.example",
    "http://www.noip.com",
};
const char gDdnsSecureUrls[DDNS_SERVICES][DDNS_URL_SIZE] = {
    "Disable",
    "https://www.dyndns.com",
    "https://ddns.morvik.example",
    "https://www.noip.com",
};
const char gDdnsNewAccountUrls[DDNS_SERVICES][DDNS_URL_SIZE] = {
    "Disable",
    "https://account.dyn.com/entrance/",
    "https://ddns.morvik.example/register",
    "https://www.noip.com/sign-up",
};

// Each help text opens with a blank line; every line is "  * ...".
const char* const gSetupHelpTexts[HELP_TEXT_COUNT] = {
    // bitrate
    " \r\n"
    "  * Change the value of bitrate, can change the quality of video.",
    // PPPoE
    " \r\n"
    "  * Select \"ON\" as PPPoE Status and fill the values in all fields.\r\n"
    "  * If the \"User Name\" or the \"Password\" was wrong, please start DVR again after correcting.",
    // DDNS, host-name form
    " \r\n"
    "  * Please select the preferable DDNS mode, then setup your DDNS server\r\n"
    "  * Fill in DDNS User Name, DDNS Password, DDNS Host name, then press submit,\r\n"
    "  * it can connect to DDNS Web\r\n"
    "  * For example:\r\n"
    "  *     DDNS Select: http://www.dyndns.com\r\n"
    "  *     DDNS User Name: guest1\r\n"
    "  *     DDNS Password: ******\r\n"
    "  *     DDNS Host name: guest1.dvr-example.net\r\n"
    "  *     DDNS Web: http://guest1.dvr-example.net",
    // DDNS, domain-name form
    " \r\n"
    "  * Please select the preferable DDNS mode, then setup your DDNS server\r\n"
    "  * Fill in DDNS User Name, DDNS Password, DDNS Domain name, then press submit,\r\n"
    "  * it can connect to DDNS Web\r\n"
    "  * For example:\r\n"
    "  *     DDNS Select: http://ddns.morvik.example\r\n"
    "  *     DDNS User Name: guest1\r\n"
    "  *     DDNS Password: ******\r\n"
    "  *     DDNS Domain name: guest\r\n"
    "  *     DDNS Web: http://guest.ddns.morvik.example",
    // mail
    " \r\n"
    "  * Select \"ON\" and fill in all fields: the SMTP server's address, user name and password,\r\n"
    "  * the sender's and the receivers' e-mail addresses, the subject and the location.\r\n"
    "  * Click Submit to save your settings or click Cancel to exit without saving",
    // mail with Default
    " \r\n"
    "  * With \"Default\" selected only the sender's and the receivers' e-mail addresses are filled in.\r\n"
    "  * To send through your own mail server select \"ON\" and fill in all fields: the SMTP server's\r\n"
    "  * address, user name and password, the e-mail addresses, the subject and the location.\r\n"
    "  * Click Apply to save your settings or click Cancel to exit without saving",
    // UPnP
    " \r\n"
    "  * Enable UPnP in your router first.\r\n"
    "  * DVR network with DHCP off: DNS server and gateway must be set; the gateway is the router's address.\r\n"
    "  * DVR network with DHCP on: nothing needs to be filled in.\r\n"
    "  * Select \"ON\" under \"UPnP Status\".\r\n"
    "  * Please set UPnP port (Default setting is 80)\r\n"
    "  * Click Apply to save your settings",
};

static TViewRecord* View0() { return gConnections[0].view; }

// --- Entering a page -------------------------------------------------------------

void Setup_PageEntered(uint32_t, int page)
{
    const uint32_t session = gConnections[0].session;
    switch (page) {
    case SETUP_PAGE_BITRATE: Icmd_Send(session, ICMD_REQUEST, ICMD_SETUP, SETUP_BITRATE); break;
    case SETUP_PAGE_PPPOE: Icmd_Send(session, ICMD_REQUEST, ICMD_SETUP, SETUP_PPPOE); break;
    case SETUP_PAGE_DDNS: Icmd_Send(session, ICMD_REQUEST, ICMD_SETUP, SETUP_DDNS); break;
    case SETUP_PAGE_MAIL:
        Icmd_Send(session, ICMD_REQUEST, ICMD_SETUP, SETUP_MAIL);
        Icmd_Send(session, ICMD_REQUEST, ICMD_SETUP, SETUP_MAIL_INTERVAL);
        Setup_UpdateMailControls();
        break;
    case SETUP_PAGE_TITLE: Title_TabEntered(0); break;
    case SETUP_PAGE_UPNP: Upnp_RequestSetting(); break;
    default:
        // A late answer to an Apply is then shown, not confirmed.
        if (TViewRecord* v = View0()) v->dirtyMask = 0;
        break;
    }
}

// --- Apply -------------------------------------------------------------------------

// An edit's text into a slot, cut at 255 characters.
static void ToSlot(uint32_t slot, TCustomEdit* edit)
{
    AnsiString t = edit->Text();
    snprintf(gSetupSlots[slot], SETUP_SLOT_SIZE, "%s", t.c_str());
}

// The field names and limits the refusals speak of, by page and slot.
static const char* ListNameOf(int page)
{
    switch (page) {
    case SETUP_PAGE_BITRATE: return "Bitrate";
    case SETUP_PAGE_PPPOE: return "PPPoE Status";
    case SETUP_PAGE_DDNS: return "DDNS Select";
    case SETUP_PAGE_UPNP: return "UPnP Status";
    default: return "Send Mail Status";
    }
}

// The name a field's label gives it: "PPPoE Password" of "PPPoE Password : ",
// "SMTP Server" of "* SMTP Server : ".
static AnsiString FieldName(TLabeledEdit* edit)
{
    AnsiString name = edit->EditLabel()->Caption();
    while (!name.empty() && (name.back() == ' ' || name.back() == ':')) name.pop_back();
    size_t from = name.find_first_not_of("* ");
    return from == AnsiString::npos ? AnsiString() : name.substr(from);
}

static void Warn(const char* text) { Application_MessageBox(text, "Setup Information", MB_OK | MB_ICONWARNING); }

static void RefuseBuild(int page, int result)
{
    char text[256];
    if (result == SETUP_NOT_CONNECTED) {
        snprintf(text, sizeof text, "Nothing was sent: the recorder is not connected.");
    } else if (result == SETUP_NO_CHOICE) {
        snprintf(text, sizeof text, "Nothing was sent: please choose a value for \"%s\" first.", ListNameOf(page));
    } else if (result == SETUP_MAIL_TOO_LONG) {
        snprintf(text, sizeof text,
                 "Nothing was sent: the mail settings are longer than the recorder can keep. "
                 "Please shorten the texts.");
    } else {
        static const char* const pppoe[] = {"PPPoE User Name", "PPPoE Password"};
        static const char* const ddns[] = {"DDNS User Name", "DDNS Password", "DDNS Host Name"};
        const int slot = result - 1;
        AnsiString name = page == SETUP_PAGE_PPPOE && slot < 2 ? pppoe[slot] : slot < 3 ? ddns[slot] : "text";
        // the host field is named as its label names it: host or domain name
        if (page == SETUP_PAGE_DDNS && slot == 2 && gViewerForm) name = FieldName(gViewerForm->LabeledEdit_ddns4);
        snprintf(text, sizeof text, "Nothing was sent: the %s may hold at most %d characters.", name.c_str(),
                 slot == 2 ? 47 : 31);
    }
    Warn(text);
}

// The edits whose texts Apply sends for the page (the title edits of the
// recorder's channels for the Title page); returns their count.
static int TextEditsOf(int page, TLabeledEdit* edits[TITLE_CHANNELS])
{
    TTavlinX* f = gViewerForm;
    int n = 0;
    switch (page) {
    case SETUP_PAGE_PPPOE:
        for (TLabeledEdit* e : {f->LabeledEdit_pppoe2, f->LabeledEdit_pppoe3}) edits[n++] = e;
        break;
    case SETUP_PAGE_DDNS:
        for (TLabeledEdit* e : {f->LabeledEdit_ddns2, f->LabeledEdit_ddns3, f->LabeledEdit_ddns4}) edits[n++] = e;
        break;
    case SETUP_PAGE_MAIL:
    case SETUP_PAGE_TEST_MAIL:
        for (TLabeledEdit* e : {f->LabeledEdit_smtp1, f->LabeledEdit_smtp10, f->LabeledEdit_smtp2, f->LabeledEdit_smtp3,
                                f->LabeledEdit_smtp4, f->LabeledEdit_smtp5, f->LabeledEdit_smtp6, f->LabeledEdit_smtp7,
                                f->LabeledEdit_smtp8, f->LabeledEdit_smtp9})
            edits[n++] = e;
        break;
    case SETUP_PAGE_TITLE:
        for (uint32_t c = 0; c < Title_ChannelCount(&gTitleStates[0]); c++) edits[n++] = Title_Edit(c);
        break;
    default: break;
    }
    return n;
}

// A text with a character the edit's code page cannot write would reach
// the recorder with '?' in its place: Apply refuses the page instead,
// naming the first such field. True when every text can be sent.
static bool TextsFitCodePage(int page)
{
    TLabeledEdit* edits[TITLE_CHANNELS] = {};
    const int n = TextEditsOf(page, edits);
    for (int i = 0; i < n; ++i) {
        TLabeledEdit* e = edits[i];
        if (!e || e->TextInCodePage()) continue;
        char text[256];
        snprintf(text, sizeof text,
                 "Nothing was sent: \"%s\" holds a character that code page %d, the one its text is sent in, "
                 "cannot write. Please type it with other characters.",
                 FieldName(e).c_str(), Vcl_CharsetCodePage(e->Font()->Charset()));
        Warn(text);
        return false;
    }
    return true;
}

void Setup_ApplyPage(int page)
{
    TTavlinX* f = gViewerForm;
    if (!f) return;
    if (!TextsFitCodePage(page)) return;
    memset(gSetupSlots, 0, sizeof gSetupSlots);
    uint32_t choices[2] = {0, 0};
    uint32_t secure = 0;

    switch (page) {
    case SETUP_PAGE_PPPOE:
        ToSlot(0, f->LabeledEdit_pppoe2);
        ToSlot(1, f->LabeledEdit_pppoe3);
        break;
    case SETUP_PAGE_DDNS:
        ToSlot(0, f->LabeledEdit_ddns2);
        ToSlot(1, f->LabeledEdit_ddns3);
        ToSlot(2, f->LabeledEdit_ddns4);
        break;
    case SETUP_PAGE_MAIL:
    case SETUP_PAGE_TEST_MAIL: {
        secure = f->CheckBox_SMTP->Checked() ? 1 : 0;
        TCustomEdit* edits[SETUP_SLOTS] = {f->LabeledEdit_smtp1, f->LabeledEdit_smtp10, f->LabeledEdit_smtp2,
                                           f->LabeledEdit_smtp3, f->LabeledEdit_smtp4,  f->LabeledEdit_smtp5,
                                           f->LabeledEdit_smtp6, f->LabeledEdit_smtp7,  f->LabeledEdit_smtp8,
                                           f->LabeledEdit_smtp9};
        for (uint32_t i = 0; i < SETUP_SLOTS; ++i) ToSlot(i, edits[i]);
        break;
    }
    default: break;
    }

    int list = 0;
    switch (page) {
    case SETUP_PAGE_BITRATE: list = f->ComboBox_bitrate->ItemIndex(); break;
    case SETUP_PAGE_PPPOE: list = f->ComboBox_pppoe1->ItemIndex(); break;
    case SETUP_PAGE_DDNS: list = f->ComboBox_ddns1->ItemIndex(); break;
    case SETUP_PAGE_MAIL:
    case SETUP_PAGE_TEST_MAIL: list = f->ComboBox_smtp1->ItemIndex(); break;
    default: break;
    }
    choices[SETUP_CHOICE_LIST] = (uint32_t)list;
    const int interval = f->ComboBox_smtp2->ItemIndex();
    choices[SETUP_CHOICE_INTERVAL] = (uint32_t)interval;

    if (page == SETUP_PAGE_UPNP) {
        const int on = f->ComboBox_upnp->ItemIndex();
        const AnsiString portText = f->LabeledEdit_upnp->Text();
        const int port = StrToInt(portText); // a non-number ends Apply here
        if (port < 0 || port > 0xFFFF) throw EConvertError("'" + portText + "' is not a valid UPnP port (0 to 65535)");
        if (on < 0) {
            RefuseBuild(page, SETUP_NO_CHOICE);
            return;
        }
        Upnp_SendSetting((uint32_t)on, (uint32_t)port);
        return;
    }
    // The interval only goes with the Mail page's Apply, and only a shown list is asked.
    if (page == SETUP_PAGE_MAIL && interval < 0 && f->ComboBox_smtp2->Visible()) {
        Warn("Nothing was sent: please choose a value for \"Interval\" first.");
        return;
    }
    char* slots[SETUP_SLOTS];
    for (uint32_t i = 0; i < SETUP_SLOTS; ++i) slots[i] = gSetupSlots[i];
    const int result = Setup_SendPage(0, page, choices, secure, slots);
    if (result != SETUP_BUILT) RefuseBuild(page, result);
}

int Setup_SendPage(uint32_t connection, int page, const uint32_t choices[2], uint32_t secure,
                   char* const slots[SETUP_SLOTS])
{
    if (connection >= CONN_COUNT) return SETUP_BUILT;
    TConnection* c = &gConnections[connection];
    TViewRecord* view = c->view;
    if (!view) return SETUP_BUILT;
    // Items queued without a session would be emptied out by the login.
    const bool sendsItems = page == SETUP_PAGE_BITRATE || page == SETUP_PAGE_PPPOE || page == SETUP_PAGE_DDNS ||
                            page == SETUP_PAGE_MAIL || page == SETUP_PAGE_TEST_MAIL;
    if (sendsItems && (c->linkState != LINK_LOGGED_IN || c->session == 0)) return SETUP_NOT_CONNECTED;
    int r = SETUP_BUILT;
    uint32_t masks[2] = {0, 0};
    switch (page) {
    case SETUP_PAGE_BITRATE:
        r = Setup_BuildBitrateItem(view, choices);
        masks[0] = SETUP_BITRATE;
        break;
    case SETUP_PAGE_PPPOE:
        r = Setup_BuildPppoeItem(view, choices, slots);
        masks[0] = SETUP_PPPOE;
        break;
    case SETUP_PAGE_DDNS:
        r = Setup_BuildDdnsItem(view, choices, slots);
        masks[0] = SETUP_DDNS;
        break;
    case SETUP_PAGE_MAIL:
        r = Setup_BuildMailItem(view, MAIL_BUILD_APPLY, choices, secure, slots);
        if (r == SETUP_BUILT) r = Setup_BuildMailIntervalItem(view, choices);
        masks[0] = SETUP_MAIL;
        masks[1] = SETUP_MAIL_INTERVAL;
        break;
    case SETUP_PAGE_TITLE: Title_StartUpload(connection); return SETUP_BUILT;
    case SETUP_PAGE_TEST_MAIL:
        r = Setup_BuildMailItem(view, MAIL_BUILD_TEST, choices, secure, slots);
        masks[0] = SETUP_MAIL;
        break;
    default: return SETUP_BUILT;
    }
    if (r != SETUP_BUILT) return r;
    for (uint32_t mask : masks) {
        if (!mask) continue;
        Icmd_Send(c->session, ICMD_DATA, ICMD_SETUP, mask);
        for (uint32_t i = 0; i < SETUP_ITEM_COUNT; ++i)
            if (mask == 1u << i) gApplyWait[i] = 0;
    }
    return SETUP_BUILT;
}

// --- Waiting for answers -------------------------------------------------------------

void Setup_RefreshPages()
{
    TViewRecord* view = View0();
    if (!view) return;
    void (*const enable[PAGE_WAIT_COUNT])(TViewRecord*, int) = {Setup_EnableBitratePage, Setup_EnablePppoePage,
                                                                Setup_EnableDdnsPage, Setup_EnableMailPage};
    for (uint32_t i = 0; i < PAGE_WAIT_COUNT; ++i) {
        if (view->pageWait[i] < SETUP_WAIT_RELEASE) view->pageWait[i]++;
        if (view->pageWait[i] == SETUP_WAIT_RELEASE) {
            enable[i](view, 1);
            view->pageWait[i]++;
        }
    }

    // An Apply the recorder can no longer confirm (the link it went out on
    // has ended), or has not confirmed within the page's wait: the user is
    // told, and a late answer then shows what the recorder holds.
    const uint32_t lost = Icmd_TakeUnconfirmedSets(view);
    uint32_t late = 0;
    for (uint32_t i = 0; i < SETUP_ITEM_COUNT; ++i) {
        if (gApplyWait[i] >= SETUP_WAIT_RELEASE) continue;
        const uint32_t mask = 1u << i;
        if (!(view->dirtyMask & mask) || (lost & mask)) {
            gApplyWait[i] = SETUP_WAIT_DONE; // confirmed, or told below
        } else if (++gApplyWait[i] >= SETUP_WAIT_RELEASE) {
            gApplyWait[i] = SETUP_WAIT_DONE;
            late |= mask;
        }
    }
    view->dirtyMask &= ~late;
    if (lost) {
        Warn("The recorder did not confirm the settings: the link to the recorder was lost before it "
             "answered. They may not have been applied.");
    } else if (late) {
        Warn("The recorder did not confirm the settings: no answer came within 10 seconds. They may not "
             "have been applied.");
    }
}

// --- Preparing the pages for the recorder ----------------------------------------------

// The text at once: line by line, each line would lay the memo out again.
static void ShowHelp(TMemo* memo, int text) { memo->SetText(gSetupHelpTexts[text]); }

void Setup_FillForMachine(THandshakeRecord* handshake)
{
    TTavlinX* f = gViewerForm;
    if (!f || !handshake) return;
    const TMachineRecord* m = &handshake->machine;

    struct {
        TLabeledEdit* edit;
        int limit;
    } limits[] = {
        {f->LabeledEdit_pppoe2, 31}, {f->LabeledEdit_pppoe3, 31}, {f->LabeledEdit_ddns2, 31},
        {f->LabeledEdit_ddns3, 31},  {f->LabeledEdit_ddns4, 47},  {f->LabeledEdit_smtp1, 31},
        {f->LabeledEdit_smtp2, 31},  {f->LabeledEdit_smtp3, 31},  {f->LabeledEdit_smtp4, 31},
        {f->LabeledEdit_smtp5, 31},  {f->LabeledEdit_smtp6, 31},  {f->LabeledEdit_smtp7, 31},
        {f->LabeledEdit_smtp8, 31},  {f->LabeledEdit_smtp9, 31},  {f->LabeledEdit_smtp10, 5},
    };
    for (auto& l : limits) {
        // The recorder's fields count bytes: a double-byte character takes two.
        l.edit->SetMaxLength(l.limit);
        l.edit->SetMaxBytes(l.limit);
        l.edit->SetImeMode(imClose);
    }

    TLabel* texts[4] = {f->Label_System1, f->Label_System2, f->Label_System3, f->Label_System4};
    for (int t = 0; t < 4; ++t) {
        char text[32];
        memcpy(text, m->text[t], sizeof text);
        text[31] = 0;
        texts[t]->SetCaption(text);
    }

    const bool intervalShown = m->mailIntervalHidden != 1;
    f->Label_smtp2->SetVisible(intervalShown);
    f->Label_smtp3->SetVisible(intervalShown);
    f->ComboBox_smtp2->SetVisible(intervalShown);

    // Each of the five help memos gets its text below; a memo that shows it
    // already (the same recorder again) is left as it is, not laid out anew.
    ShowHelp(f->Memo_Bitrate, HELP_BITRATE);
    ShowHelp(f->Memo_PPPoE, HELP_PPPOE);

    TViewRecord* view = handshake->connection ? handshake->connection->view : View0();
    if (view) {
        Ddns_ClearList(view);
        Ddns_AddService(view, 0);
    }
    const bool ownService = m->variant == 1;
    ShowHelp(f->Memo_SMTP, ownService ? HELP_MAIL_DEFAULT : HELP_MAIL);
    ShowHelp(f->Memo_DDNS, ownService ? HELP_DDNS_DOMAIN : HELP_DDNS_HOST);
    if (view) {
        if (ownService) {
            Ddns_AddService(view, 2);
        } else {
            Ddns_AddService(view, 1);
            Ddns_AddService(view, 3);
        }
    }
    f->LabeledEdit_ddns4->EditLabel()->SetCaption(ownService ? "DDNS Domain Name : " : "DDNS Host Name : ");
    f->ComboBox_smtp1->Items()->Clear();
    f->ComboBox_smtp1->Items()->Add("OFF");
    f->ComboBox_smtp1->Items()->Add("ON");
    if (ownService) f->ComboBox_smtp1->Items()->Add("Default");
    f->Label_ddns2->SetVisible(!ownService);
    f->Label_ddns3->SetVisible(!ownService);
    Ddns_SelectChanged();

    ShowHelp(f->Memo_UPNP, HELP_UPNP);

    // The intervals 0 .. 60 minutes; a list that holds them already stays.
    TStrings* intervals = f->ComboBox_smtp2->Items();
    bool listed = intervals->Count() == 61;
    for (int minutes = 0; listed && minutes <= 60; ++minutes)
        listed = intervals->Strings(minutes) == std::to_string(minutes);
    if (!listed) {
        intervals->Clear();
        for (int minutes = 0; minutes <= 60; ++minutes) intervals->Add(std::to_string(minutes));
    }
    f->ComboBox_smtp2->SetItemIndex(0);

    Title_ShowEdits(m->channelCount);
}

// --- Clear buttons and the mail controls --------------------------------------------------

void Setup_ClearMail()
{
    TTavlinX* f = gViewerForm;
    if (!f) return;
    TLabeledEdit* edits[] = {f->LabeledEdit_smtp1, f->LabeledEdit_smtp2, f->LabeledEdit_smtp3, f->LabeledEdit_smtp4,
                             f->LabeledEdit_smtp5, f->LabeledEdit_smtp6, f->LabeledEdit_smtp7, f->LabeledEdit_smtp8,
                             f->LabeledEdit_smtp9, f->LabeledEdit_smtp10};
    for (TLabeledEdit* e : edits) e->SetText("");
}

void Setup_ClearEdits(uint32_t which)
{
    TTavlinX* f = gViewerForm;
    if (!f) return;
    if (which == SETUP_PPPOE) {
        f->LabeledEdit_pppoe2->SetText("");
        f->LabeledEdit_pppoe3->SetText("");
    } else if (which == SETUP_DDNS) {
        f->LabeledEdit_ddns2->SetText("");
        f->LabeledEdit_ddns3->SetText("");
        f->LabeledEdit_ddns4->SetText("");
    } else if (which == SETUP_MAIL) {
        Setup_ClearMail();
    }
}

void Setup_UpdateMailControls()
{
    TTavlinX* f = gViewerForm;
    if (!f) return;
    const int mode = f->ComboBox_smtp1->ItemIndex();
    f->Button_SMTP3->SetEnabled(mode != 0);
    const bool server = mode != 2; // "Default" sends through the recorder's own server
    f->LabeledEdit_smtp1->SetEnabled(server);
    f->LabeledEdit_smtp10->SetEnabled(server);
    f->LabeledEdit_smtp2->SetEnabled(server);
    f->LabeledEdit_smtp3->SetEnabled(server);
    f->CheckBox_SMTP->SetEnabled(server);
}

// --- DDNS list and links ---------------------------------------------------------------------

void Ddns_ClearList(TViewRecord* view)
{
    if (view)
        for (int32_t& row : view->ddnsRows) row = -1;
    if (gViewerForm) gViewerForm->ComboBox_ddns1->Items()->Clear();
}

void Ddns_AddService(TViewRecord* view, uint32_t service)
{
    if (!view || service >= DDNS_SERVICES) return;
    for (int32_t& row : view->ddnsRows)
        if (row == -1) {
            row = (int32_t)service;
            break;
        }
    if (gViewerForm) gViewerForm->ComboBox_ddns1->Items()->Add(gDdnsHomeUrls[service]);
}

void Ddns_SelectChanged()
{
    TTavlinX* f = gViewerForm;
    if (!f) return;
    const bool service = f->ComboBox_ddns1->ItemIndex() > 0;
    f->Label_ddns2->SetEnabled(service);
    f->Label_ddns3->SetEnabled(service);
}

void Ddns_OpenLink(int row, int which)
{
    TViewRecord* view = View0();
    if (!view) return;
    if (row < 0 || row >= DDNS_LIST_ROWS) row = 0;
    const int32_t service = view->ddnsRows[row];
    if (service < 1 || service >= DDNS_SERVICES) return;
    Web_OpenUrl(which == 0 ? gDdnsSecureUrls[service] : gDdnsNewAccountUrls[service]);
}

void Ddns_CreateAccount()
{
    if (!gViewerForm) return;
    if (gViewerForm->ComboBox_ddns1->ItemIndex() == 1) Ddns_OpenLink(1, 1);
    else Noip_ShowAccountForm();
}

void Ddns_ApplyAccount(const char* user, const char* password, const char* host)
{
    TTavlinX* f = gViewerForm;
    if (!f) return;
    // The edits would cut a longer text to their limits: refuse it instead.
    const char* texts[3] = {user ? user : "", password ? password : "", host ? host : ""};
    const size_t limits[3] = {31, 31, 47};
    for (int i = 0; i < 3; ++i)
        if (strlen(texts[i]) > limits[i]) {
            RefuseBuild(SETUP_PAGE_DDNS, i + 1);
            return;
        }
    f->LabeledEdit_ddns2->SetText(user ? user : "");
    f->LabeledEdit_ddns3->SetText(password ? password : "");
    f->LabeledEdit_ddns4->SetText(host ? host : "");
    Setup_ApplyPage(SETUP_PAGE_DDNS);
}

void Web_OpenUrl(const char* address) { Win_OpenUrl(address); }
