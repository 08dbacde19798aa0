// The No-IP REST client: the requests of the account form (create an
// account, check a user name, sign in, read the account, list the domains,
// add a host) over plain HTTP/1.1, one TCP connection per request, each
// signed with HMAC-SHA1 under one of three identities (the OEM client, the
// user, the account). Replies are XML; element texts are picked out with a
// plain forward search. Everything runs on the user-interface thread: the
// form's buttons start requests, its one-second Timer3 polls for replies
// and chains the follow-up requests, and the results go straight into the
// form's components (ddns/Unit5.h).
//
// The service's API host, port, web host and OEM domain come from the
// environment (TAVLIN_NOIP_API_HOST, TAVLIN_NOIP_API_PORT,
// TAVLIN_NOIP_WEB_HOST, TAVLIN_NOIP_OEM_DOMAIN) and default to the
// service's own.
#pragma once
#include "platform/win/Win.h"
#include <cstddef>
#include <cstdint>
#include <ctime>

// The request step, by the value of which every reply is read.
enum TNoipStep {
    NOIP_STEP_CREATE = 0,       // create account (form: "Next" on the account stage)
    NOIP_STEP_CHECK = 1,        // user-name check ("Check ")
    NOIP_STEP_SIGNIN = 2,       // sign in to an existing account (hidden Button1)
    NOIP_STEP_INFO = 3,         // account information (chained by Timer3)
    NOIP_STEP_WAIT_INFO = 4,    // waiting: account information follows
    NOIP_STEP_DOMAINS = 5,      // domain list (chained by Timer3)
    NOIP_STEP_WAIT_DOMAINS = 6, // waiting: domain list follows
    NOIP_STEP_ADD_HOST = 7,     // add host ("Next" on the host stage)
};
extern int gNoipStep;

// The identity that signs the next request: the texts are not copied and
// must live until the request is built.
struct TNoipIdentity {
    const char* id;
    const char* key;
};
extern TNoipIdentity gNoipIdentity;

enum {
    NOIP_ACCOUNT_TEXT = 32,  // account id and key: at most 31 characters
    NOIP_USER_SIZE = 17,     // saved user name: at most 16
    NOIP_PASSWORD_SIZE = 33, // saved password: at most 32
    NOIP_HOST_SIZE = 64,     // full host name: at most 63
    NOIP_DOMAIN_SIZE = 32,   // one domain: at most 31
    NOIP_DOMAIN_ITEMS = 30,  // items read from a domain list
    NOIP_DOMAIN_SLOTS = 31,  // the items and the OEM domain
    NOIP_REQUEST_SIZE = 2048,
    NOIP_MESSAGE_SIZE = 2048,
    NOIP_VALUE_SIZE = 256, // element text: at most 255
    NOIP_BODY_SIZE = 1024, // request body, field values percent-encoded
    NOIP_PATH_SIZE = 128,
    NOIP_REPLY_CAP = 16384, // a longer reply is refused
    // What the recorder's DDNS item holds (longer texts would be applied
    // blank or cut): user name and password 31 characters, host name 47.
    NOIP_DDNS_USER_MAX = 31,
    NOIP_DDNS_PASSWORD_MAX = 31,
    NOIP_DDNS_HOST_MAX = 47,
};

struct TNoipAccount {
    char id[NOIP_ACCOUNT_TEXT];
    char key[NOIP_ACCOUNT_TEXT];
};
extern TNoipAccount gNoipAccount;
extern char gNoipSavedUser[NOIP_USER_SIZE];
extern char gNoipSavedPassword[NOIP_PASSWORD_SIZE];
extern char gNoipHostName[NOIP_HOST_SIZE];
// The domain table: entry n belongs to item n of the form's ComboBox1.
extern char gNoipDomains[NOIP_DOMAIN_SLOTS][NOIP_DOMAIN_SIZE];
extern int gNoipDomainCount;

// Two socket slots (0: requests of the buttons, 1: requests chained by the
// timer), each a socket or -1, and the slot the poll watches.
struct TNoipSockets {
    SOCKET socket[2];
    int current;
};
extern TNoipSockets gNoipSockets;

extern char gNoipRequest[NOIP_REQUEST_SIZE];
extern char gNoipMessage[NOIP_MESSAGE_SIZE];
extern char gNoipValue[NOIP_VALUE_SIZE];

// Configuration (read from the environment on first use).
const char* Noip_ApiHost();
int Noip_ApiPort();
const char* Noip_WebHost();
const char* Noip_OemDomain();
// Reads the environment again (tests point the client at a local server).
void Noip_LoadConfig();
// The OEM client's identity.
extern const char kNoipOemId[];
extern const char kNoipOemKey[];

// How long a request may wait for its whole reply, in milliseconds
// (default 30,000); a request that outlives it is closed and reported.
extern uint32_t gNoipReplyTimeoutMs;

// Makes slot current, connects (bounded by 20 s) and sends the request of
// gNoipStep. 1 when sent, 0 when the request could not be built or the
// connection failed (both reported in a message box).
int Noip_Connect(int slot);
// Builds and sends the request of step on the current slot's socket;
// the result of send, or -1 when there is nothing to send.
int Noip_SendStep(int step);
// Builds the request of step into gNoipRequest without sending it (and
// without touching the form's buttons or saved texts): 0, or -1 with the
// reason in a message box when a text does not fit or cannot be sent.
int Noip_PrepareStep(int step);
// Fills gNoipRequest; body null for requests without one (GET). 0, or -1
// when a part does not fit its buffer.
int Noip_BuildRequest(const char* method, const char* path, const char* body);
void Noip_SetIdentity(const char* id, const char* key);
// One poll of the current slot: 1 when a reply was read whole (or given up)
// and handled, else 0.
int Noip_Poll();
// Reads what has arrived of the reply; when it is whole (or cannot become
// whole) closes the socket and hands it to Noip_ParseResponse. 1 then.
int Noip_Receive();
// Acts on a reply of step. reply holds length bytes as received (status
// line, headers, body); closed tells that the server ended the connection
// after them. A reply that is not a whole 2xx answer is an error.
void Noip_ParseResponse(const char* reply, size_t length, int closed, int step);
// How far the reply's first n bytes are: 1 whole (status, the body's start
// and length set), 0 more to come, -1 it cannot become a reply. The body
// ends at its Content-Length, with its last chunk (Transfer-Encoding
// chunked: *chunked, when given, is set to 1 and the body's length counts
// its chunks as they came), or where the server closed.
int Noip_ReplyState(const char* reply, size_t n, int closed, int* status, size_t* bodyStart, size_t* bodyLength,
                    int* chunked = nullptr);
// The data of a whole chunked body (as Noip_ReplyState found it) joined
// into out, which takes at least n bytes; returns its length.
size_t Noip_Dechunk(const char* body, size_t n, char* out);
// Searches tag ("id>") forward from *cursor: 1 with the element's text in
// gNoipValue (cut to 255 characters, gNoipValueCut set) and *cursor behind
// the closing tag, or 0 with *cursor unchanged.
int Noip_FindElement(const char** cursor, const char* tag);
extern int gNoipValueCut;
void Noip_NetStartup();
// Closes both slots.
void Noip_CloseAll();
// Back to the start-up state: both slots closed, no reply held, the step,
// identity, account, saved texts, host name and domain table as at start,
// the time-out and clock the defaults (the configuration stays).
void Noip_Reset();

// Helpers the requests are made of.
// "Sun, 05 Jan 2025 09:03:07 +0000"
void Noip_FormatDate(const struct tm* utc, char* out, size_t size);
// Percent-encodes the bytes that would change a form field's meaning or
// cannot travel in it (controls, blanks, bytes above 126 and % & + = # ? ;);
// every other byte stays as it is. -1 when the result does not fit.
int Noip_PercentEncode(const char* text, char* out, size_t size);
// 1 when text is a usable account id or key: at most 31 characters, none of
// them a blank, a control character or above 126.
int Noip_IsCleanToken(const char* text);
