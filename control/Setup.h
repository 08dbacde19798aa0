// The setup pages of PageControl1 (System, Bitrate, PPPoE, DDNS, Mail,
// Title, UPnP): what entering a page asks the recorder, what Apply, Clear
// and Test Mail do, the greying of a page while its request is in flight,
// the pages' preparation for the recorder's machine record, and the DDNS
// list and links. Connection 0 only.
#pragma once
#include "control/SetupItems.h"
#include "link/Tavn.h"
#include <cstdint>

// Page numbers: PageControl1's page indices, and the page Test Mail applies.
enum {
    SETUP_PAGE_SYSTEM = 0,
    SETUP_PAGE_BITRATE = 1,
    SETUP_PAGE_PPPOE = 2,
    SETUP_PAGE_DDNS = 3,
    SETUP_PAGE_MAIL = 4,
    SETUP_PAGE_TITLE = 5,
    SETUP_PAGE_UPNP = 6,
    SETUP_PAGE_TEST_MAIL = 7,
};

// DDNS service tables: row = service number (0 "Disable", 1 DynDNS, 2 the
// maker's own service, 3 No-IP), 64-byte texts.
enum { DDNS_SERVICES = 4, DDNS_URL_SIZE = 64, DDNS_LIST_ROWS = 8 };
extern const char gDdnsHomeUrls[DDNS_SERVICES][DDNS_URL_SIZE];
extern const char gDdnsSecureUrls[DDNS_SERVICES][DDNS_URL_SIZE];
extern const char gDdnsNewAccountUrls[DDNS_SERVICES][DDNS_URL_SIZE];

// The help texts of the memos.
enum {
    HELP_BITRATE,
    HELP_PPPOE,
    HELP_DDNS_HOST,
    HELP_DDNS_DOMAIN,
    HELP_MAIL,
    HELP_MAIL_DEFAULT,
    HELP_UPNP,
    HELP_TEXT_COUNT,
};
extern const char* const gSetupHelpTexts[HELP_TEXT_COUNT];

// The ten texts Apply reads from a page, 255 characters each at most.
extern char gSetupSlots[SETUP_SLOTS][SETUP_SLOT_SIZE];

// PageControl1 entered `page`: ask the recorder for the page's items.
void Setup_PageEntered(uint32_t connection, int page);
// Apply on `page` (7: Test Mail). A list without a chosen row, a text that
// does not fit its item or a link that is not logged in sends nothing and
// says why in a message box.
void Setup_ApplyPage(int page);
// Builds the page's items and sends each; returns SETUP_BUILT or the
// first builder's refusal (nothing is sent then).
int Setup_SendPage(uint32_t connection, int page, const uint32_t choices[2], uint32_t secure,
                   char* const slots[SETUP_SLOTS]);
// Once per tick: releases a page that waited 1,000 ticks for its answer,
// and says in a message box when an Apply was not confirmed: its link
// ended first, or 1,000 ticks passed without the recorder's answer.
void Setup_RefreshPages();
// Setup_FillForMachine, which the handshake calls: link/Hooks.h.
// Clear buttons: 2 PPPoE, 4 DDNS, 8 mail; nothing is sent.
void Setup_ClearEdits(uint32_t which);
void Setup_ClearMail();
// Test Mail and the server fields follow the mail mode.
void Setup_UpdateMailControls();

void Ddns_ClearList(TViewRecord* view);
void Ddns_AddService(TViewRecord* view, uint32_t service);
// "Home" and "Create Account" follow the list's choice.
void Ddns_SelectChanged();
// Opens the home page (which 0) or the account page (which 1) of the
// service in list row `row`; a row outside 0..7 counts as row 0.
void Ddns_OpenLink(int row, int which);
// "Create Account": the service's own page for list row 1, else the
// No-IP account form.
void Ddns_CreateAccount();
// Ddns_ApplyAccount and Web_OpenUrl, which the account form calls:
// ddns/Hooks.h.
