// The No-IP REST client. See Noip.h for the flow; the form it drives is in
// Unit5.cpp.
#include "ddns/Noip.h"
#include "ddns/Base64.h"
#include "ddns/HmacSha1.h"
#include "ddns/Md5.h"
#include "ddns/Unit5.h"
#include "link/Conn.h"
#include "platform/vcl/Dialogs.h"
#include "platform/win/Sockets.h"
#include "platform/win/Win.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int gNoipStep = NOIP_STEP_CREATE;
TNoipIdentity gNoipIdentity = {"", ""};
TNoipAccount gNoipAccount;
char gNoipSavedUser[NOIP_USER_SIZE];
char gNoipSavedPassword[NOIP_PASSWORD_SIZE];
char gNoipHostName[NOIP_HOST_SIZE];
char gNoipDomains[NOIP_DOMAIN_SLOTS][NOIP_DOMAIN_SIZE];
int gNoipDomainCount = 0;
TNoipSockets gNoipSockets = {{WIN_INVALID_SOCKET, WIN_INVALID_SOCKET}, 0};
char gNoipRequest[NOIP_REQUEST_SIZE];
char gNoipMessage[NOIP_MESSAGE_SIZE];
char gNoipValue[NOIP_VALUE_SIZE];
int gNoipValueCut = 0;
uint32_t gNoipReplyTimeoutMs = 30000;

const char kNoipOemId[] = "CLI-580617";
const char kNoipOemKey[] = "3a9e51c07bd84f26e0c5a1d9b7f4e823";

static const char kContentType[] = "application/x-www-form-urlencoded";
static const char kXmlDeclaration[] = "<?xml version=\"1.0\"?>";
static const char kConnectFailed[] = "can not connect to no-ip server";
static const char kNoReply[] = "no reply from no-ip server";
static const char kBadReply[] = "no valid reply from no-ip server";
static const char kPasswordRule[] = "invalid password: 6-32 characters, invalid characters: +?%&";
static const char kUsernameRule[] = "invalid username: 4-16 characters, only letters and numbers";

// --- Configuration -------------------------------------------------------

static char gApiHost[128];
static int gApiPort = 80;
static char gWebHost[128];
static char gOemDomain[NOIP_DOMAIN_SIZE];
static bool gConfigLoaded = false;

static void ConfigText(const char* name, const char* fallback, char* out, size_t size)
{
    const char* v = Win_GetEnv(name);
    if (!*v || strlen(v) >= size) v = fallback;
    snprintf(out, size, "%s", v);
}

void Noip_LoadConfig()
{
    ConfigText("TAVLIN_NOIP_API_HOST", "api.noip.com", gApiHost, sizeof gApiHost);
    ConfigText("TAVLIN_NOIP_WEB_HOST", "www.noip.com", gWebHost, sizeof gWebHost);
    ConfigText("TAVLIN_NOIP_OEM_DOMAIN", "dvrlink.net", gOemDomain, sizeof gOemDomain);
    gApiPort = 80;
    if (const char* p = Win_GetEnv("TAVLIN_NOIP_API_PORT"); *p) {
        char* end = nullptr;
        long v = strtol(p, &end, 10);
        if (end != p && *end == 0 && v > 0 && v < 65536) gApiPort = (int)v;
    }
    gConfigLoaded = true;
}

static void EnsureConfig()
{
    if (!gConfigLoaded) Noip_LoadConfig();
}

const char* Noip_ApiHost()
{
    EnsureConfig();
    return gApiHost;
}
int Noip_ApiPort()
{
    EnsureConfig();
    return gApiPort;
}
const char* Noip_WebHost()
{
    EnsureConfig();
    return gWebHost;
}
const char* Noip_OemDomain()
{
    EnsureConfig();
    return gOemDomain;
}

// --- Small helpers -------------------------------------------------------

static void Message(const char* text, const char* caption) { Application_MessageBox(text, caption, 0); }

// Copies text into out when it fits (size counts the NUL); 0, or -1.
static int CopyText(char* out, size_t size, const char* text)
{
    size_t n = strlen(text);
    if (n >= size) return -1;
    memcpy(out, text, n + 1);
    return 0;
}

// Appends formatted text to buffer[*used..size); -1 when it does not fit
// (the buffer then keeps what it held).
static int Append(char* buffer, size_t size, size_t* used, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer + *used, size - *used, format, args);
    va_end(args);
    if (n < 0 || (size_t)n >= size - *used) {
        buffer[*used] = 0;
        return -1;
    }
    *used += (size_t)n;
    return 0;
}

int Noip_PercentEncode(const char* text, char* out, size_t size)
{
    static const char hex[] = "0123456789ABCDEF";
    size_t o = 0;
    for (const unsigned char* p = (const unsigned char*)text; *p; p++) {
        unsigned char c = *p;
        bool plain = c > 0x20 && c < 0x7f && !strchr("%&+=#?;", c);
        size_t need = plain ? 1 : 3;
        if (o + need >= size) {
            if (size) out[0] = 0;
            return -1;
        }
        if (plain) {
            out[o++] = (char)c;
        } else {
            out[o++] = '%';
            out[o++] = hex[c >> 4];
            out[o++] = hex[c & 15];
        }
    }
    if (size == 0) return -1;
    out[o] = 0;
    return 0;
}

int Noip_IsCleanToken(const char* text)
{
    size_t n = 0;
    for (const unsigned char* p = (const unsigned char*)text; *p; p++, n++)
        if (*p <= 0x20 || *p >= 0x7f) return 0;
    return n < NOIP_ACCOUNT_TEXT;
}

// A text that may stand in a header line: no control characters.
static bool HeaderSafe(const char* text)
{
    for (const unsigned char* p = (const unsigned char*)text; *p; p++)
        if (*p < 0x20 || *p == 0x7f) return false;
    return true;
}

void Noip_FormatDate(const struct tm* utc, char* out, size_t size)
{
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    int wday = utc->tm_wday >= 0 && utc->tm_wday < 7 ? utc->tm_wday : 0;
    int mon = utc->tm_mon >= 0 && utc->tm_mon < 12 ? utc->tm_mon : 0;
    snprintf(out, size, "%s, %02d %s %d %02d:%02d:%02d +0000", days[wday], utc->tm_mday, months[mon],
             utc->tm_year + 1900, utc->tm_hour, utc->tm_min, utc->tm_sec);
}

// --- Building a request --------------------------------------------------

void Noip_SetIdentity(const char* id, const char* key)
{
    gNoipIdentity.id = id ? id : "";
    gNoipIdentity.key = key ? key : "";
}

// base64 of bytes into out (the heap text is copied and freed at once).
static int Base64Into(const unsigned char* bytes, int length, char* out, size_t size)
{
    char* text = Base64_Encode(bytes, length);
    int r = CopyText(out, size, text);
    free(text);
    return r;
}

int Noip_BuildRequest(const char* method, const char* path, const char* body)
{
    char date[64] = {}, md5Text[32] = {}, signature[32] = {}, toSign[512] = {};
    memset(gNoipRequest, 0, sizeof gNoipRequest);
    if (!HeaderSafe(method) || !HeaderSafe(path) || !HeaderSafe(gNoipIdentity.id) || strlen(path) >= NOIP_PATH_SIZE)
        return -1;

    time_t now = (time_t)Win_TimeNow();
    struct tm utc = {};
    gmtime_r(&now, &utc);
    Noip_FormatDate(&utc, date, sizeof date);

    bool isGet = strcmp(method, "GET") == 0;
    size_t bodyLength = body ? strlen(body) : 0;
    if (body) {
        if (bodyLength >= NOIP_BODY_SIZE) return -1;
        Md5_DigestString(body);
        if (Base64Into(gMd5Digest, 16, md5Text, sizeof md5Text) != 0) return -1;
    }
    int n = isGet ? snprintf(toSign, sizeof toSign, "%s\n\n\n%s\n%s", method, date, path)
                  : snprintf(toSign, sizeof toSign, "%s\n%s\n%s\n%s\n%s", method, kContentType, md5Text, date, path);
    if (n < 0 || (size_t)n >= sizeof toSign) return -1;

    unsigned char digest[20];
    {
        CHMAC_SHA1 hmac;
        hmac.ComputeHmac((const unsigned char*)toSign, (int)strlen(toSign), (const unsigned char*)gNoipIdentity.key,
                         (int)strlen(gNoipIdentity.key), digest);
    }
    if (Base64Into(digest, 20, signature, sizeof signature) != 0) return -1;

    size_t used = 0;
    char* r = gNoipRequest;
    // One byte stays free so the request always ends in a NUL.
    size_t cap = sizeof gNoipRequest - 1;
    int bad = 0;
    bad |= Append(r, cap, &used, "%s %s HTTP/1.1\r\n", method, path);
    bad |= Append(r, cap, &used, "User-Agent: No-IP Rest Client/1.0 (PHP)\r\n");
    bad |= Append(r, cap, &used, "Host: %s\r\n", Noip_ApiHost());
    bad |= Append(r, cap, &used, "Accept: */*\r\n");
    bad |= Append(r, cap, &used, "Date: %s\r\n", date);
    if (!isGet) {
        bad |= Append(r, cap, &used, "Content-MD5: %s\r\n", md5Text);
        bad |= Append(r, cap, &used, "Content-Length: %d\r\n", (int)bodyLength);
        bad |= Append(r, cap, &used, "Content-Type: %s\r\n", kContentType);
    }
    bad |= Append(r, cap, &used, "Authorization: NOIP %s:%s\r\n", gNoipIdentity.id, signature);
    bad |= Append(r, cap, &used, "\r\n");
    if (body) bad |= Append(r, cap, &used, "%s", body);
    if (bad) {
        memset(gNoipRequest, 0, sizeof gNoipRequest);
        return -1;
    }
    return 0;
}

// What a step's request is made of, before anything is changed.
struct TStepRequest {
    const char* method;
    char path[NOIP_PATH_SIZE];
    char body[NOIP_BODY_SIZE];
    bool hasBody;
    char user[NOIP_USER_SIZE]; // steps 0, 2: the texts saved
    char password[NOIP_PASSWORD_SIZE];
    char host[NOIP_HOST_SIZE]; // step 7: the full host name
};
static TStepRequest gPending;

static AnsiString TextOf(TCustomEdit* edit) { return edit ? edit->Text() : AnsiString(); }

// Percent-encodes each of count texts into parts of NOIP_BODY_SIZE bytes.
static bool EncodeAll(const AnsiString* texts, int count, char (*parts)[NOIP_BODY_SIZE])
{
    for (int i = 0; i < count; i++)
        if (Noip_PercentEncode(texts[i].c_str(), parts[i], NOIP_BODY_SIZE) != 0) return false;
    return true;
}

// The account's password goes into the recorder's DDNS item at the end; one
// it cannot hold is refused before the account is made with it.
static bool PasswordTooLongForDdns(const char* password)
{
    if (strlen(password) <= NOIP_DDNS_PASSWORD_MAX) return false;
    char text[96];
    snprintf(text, sizeof text, "password too long for the DDNS settings: at most %d characters",
             (int)NOIP_DDNS_PASSWORD_MAX);
    Message(text, "ERROR");
    return true;
}

// Fills gPending and gNoipRequest for step; -1 with the reason shown.
static int PrepareStep(int step)
{
    TForm_noip_setting* f = Form_noip_setting;
    TStepRequest& q = gPending;
    memset(&q, 0, sizeof q);
    memset(gNoipRequest, 0, sizeof gNoipRequest);
    static char parts[6][NOIP_BODY_SIZE];
    int n = 0;
    switch (step) {
    case NOIP_STEP_CREATE: {
        if (!f) return -1;
        AnsiString t[6] = {TextOf(f->Username),  TextOf(f->email),    TextOf(f->password),
                           TextOf(f->firstname), TextOf(f->lastname), TextOf(f->postal_code)};
        if (CopyText(q.user, sizeof q.user, t[0].c_str()) != 0) {
            Message(kUsernameRule, "ERROR");
            return -1;
        }
        if (CopyText(q.password, sizeof q.password, t[2].c_str()) != 0) {
            Message(kPasswordRule, "ERROR");
            return -1;
        }
        if (PasswordTooLongForDdns(q.password)) return -1;
        if (!EncodeAll(t, 6, parts)) break;
        q.method = "POST";
        snprintf(q.path, sizeof q.path, "/v2/oem/accounts.xml");
        n = snprintf(q.body, sizeof q.body, "username=%s&email=%s&password=%s&firstname=%s&lastname=%s&postal_code=%s",
                     parts[0], parts[1], parts[2], parts[3], parts[4], parts[5]);
        if (n < 0 || (size_t)n >= sizeof q.body) break;
        q.hasBody = true;
        Noip_SetIdentity(kNoipOemId, kNoipOemKey);
        break;
    }
    case NOIP_STEP_CHECK: {
        if (!f) return -1;
        AnsiString user = TextOf(f->Username);
        if (user.size() >= NOIP_USER_SIZE) {
            Message(kUsernameRule, "ERROR");
            return -1;
        }
        if (!EncodeAll(&user, 1, parts)) break;
        q.method = "GET";
        n = snprintf(q.path, sizeof q.path, "/v2/oem/accounts.xml?mode=exists&user=%s", parts[0]);
        if (n < 0 || (size_t)n >= sizeof q.path) break;
        Noip_SetIdentity(kNoipOemId, kNoipOemKey);
        break;
    }
    case NOIP_STEP_SIGNIN: {
        if (!f) return -1;
        AnsiString user = TextOf(f->Username), mail = TextOf(f->email), pass = TextOf(f->password);
        if (CopyText(q.user, sizeof q.user, user.c_str()) != 0) {
            Message(kUsernameRule, "ERROR");
            return -1;
        }
        if (CopyText(q.password, sizeof q.password, pass.c_str()) != 0) {
            Message(kPasswordRule, "ERROR");
            return -1;
        }
        if (PasswordTooLongForDdns(q.password)) return -1;
        // The identity texts must outlive the build: keep them here.
        static char signinId[NOIP_BODY_SIZE];
        static char signinKey[NOIP_PASSWORD_SIZE];
        if (CopyText(signinId, sizeof signinId, user.empty() ? mail.c_str() : user.c_str()) != 0) break;
        memcpy(signinKey, q.password, sizeof signinKey);
        q.method = "POST";
        snprintf(q.path, sizeof q.path, "/v2/oem/clients.xml");
        q.hasBody = true; // the empty body
        Noip_SetIdentity(signinId, signinKey);
        break;
    }
    case NOIP_STEP_INFO:
        q.method = "GET";
        n = snprintf(q.path, sizeof q.path, "/v2/oem/accounts/%s.xml", gNoipAccount.id);
        if (n < 0 || (size_t)n >= sizeof q.path) break;
        Noip_SetIdentity(gNoipAccount.id, gNoipAccount.key);
        break;
    case NOIP_STEP_DOMAINS:
        q.method = "GET";
        snprintf(q.path, sizeof q.path, "/v2/oem/dns/domains.xml");
        Noip_SetIdentity(kNoipOemId, kNoipOemKey);
        break;
    case NOIP_STEP_ADD_HOST: {
        if (!f) return -1;
        int index = f->ComboBox1 ? f->ComboBox1->ItemIndex() : -1;
        if (index < 0 || index >= gNoipDomainCount) {
            Message("please choose a domain from the list", "ERROR");
            return -1;
        }
        AnsiString t[3] = {TextOf(f->Edit_host), gNoipDomains[index], TextOf(f->Edit_ip)};
        n = snprintf(q.host, sizeof q.host, "%s.%s", t[0].c_str(), t[1].c_str());
        if (n < 0 || (size_t)n > NOIP_DDNS_HOST_MAX) {
            char text[96];
            snprintf(text, sizeof text, "host name too long: at most %d characters", (int)NOIP_DDNS_HOST_MAX);
            Message(text, "ERROR");
            return -1;
        }
        if (!EncodeAll(t, 3, parts)) break;
        q.method = "POST";
        snprintf(q.path, sizeof q.path, "/v2/oem/dns/hosts.xml");
        n = snprintf(q.body, sizeof q.body, "host=%s&domain=%s&ip=%s", parts[0], parts[1], parts[2]);
        if (n < 0 || (size_t)n >= sizeof q.body) break;
        q.hasBody = true;
        Noip_SetIdentity(gNoipAccount.id, gNoipAccount.key);
        break;
    }
    default: return -1; // steps 4 and 6 send nothing
    }
    if (!q.method || Noip_BuildRequest(q.method, q.path, q.hasBody ? q.body : nullptr) != 0) {
        Message("the account data is too long or holds characters that cannot be sent", "ERROR");
        return -1;
    }
    return 0;
}

int Noip_PrepareStep(int step) { return PrepareStep(step); }

// --- Sockets -------------------------------------------------------------

void Noip_NetStartup() { EnsureConfig(); }

static uint32_t gSentAt = 0; // tick count of the request sent last
static char gReply[NOIP_REPLY_CAP + 1];
static size_t gReplyLength = 0;

static void CloseSlot(int slot)
{
    if (slot < 0 || slot > 1) return;
    Win_TcpClose(gNoipSockets.socket[slot]);
    gNoipSockets.socket[slot] = WIN_INVALID_SOCKET;
}

void Noip_CloseAll()
{
    CloseSlot(0);
    CloseSlot(1);
    gReplyLength = 0;
}

void Noip_Reset()
{
    Noip_CloseAll();
    gNoipSockets.current = 0;
    gSentAt = 0;
    gNoipStep = NOIP_STEP_CREATE;
    gNoipIdentity = TNoipIdentity{"", ""};
    gNoipAccount = TNoipAccount{};
    memset(gNoipSavedUser, 0, sizeof gNoipSavedUser);
    memset(gNoipSavedPassword, 0, sizeof gNoipSavedPassword);
    memset(gNoipHostName, 0, sizeof gNoipHostName);
    memset(gNoipDomains, 0, sizeof gNoipDomains);
    gNoipDomainCount = 0;
    memset(gNoipRequest, 0, sizeof gNoipRequest);
    memset(gNoipMessage, 0, sizeof gNoipMessage);
    memset(gNoipValue, 0, sizeof gNoipValue);
    gNoipValueCut = 0;
    gNoipReplyTimeoutMs = 30000;
}

int Noip_Connect(int slot)
{
    if (slot < 0 || slot > 1) return 0;
    gNoipSockets.current = slot;
    Noip_NetStartup();
    CloseSlot(slot);
    gReplyLength = 0;
    if (PrepareStep(gNoipStep) != 0) return 0;
    // A connect bounded by 20 s.
    SOCKET fd = Win_TcpConnect(Noip_ApiHost(), (uint32_t)Noip_ApiPort(), 20000);
    if (fd == WIN_INVALID_SOCKET) {
        Message(kConnectFailed, "ERROR");
        return 0;
    }
    gNoipSockets.socket[slot] = fd;
    Noip_SendStep(gNoipStep);
    return 1;
}

int Noip_SendStep(int step)
{
    SOCKET fd = gNoipSockets.socket[gNoipSockets.current];
    if (fd == WIN_INVALID_SOCKET || PrepareStep(step) != 0) return -1;
    TForm_noip_setting* f = Form_noip_setting;
    switch (step) {
    case NOIP_STEP_CREATE:
    case NOIP_STEP_SIGNIN:
        memcpy(gNoipSavedUser, gPending.user, sizeof gNoipSavedUser);
        memcpy(gNoipSavedPassword, gPending.password, sizeof gNoipSavedPassword);
        [[fallthrough]];
    case NOIP_STEP_CHECK:
        if (f) {
            f->Create->SetEnabled(false);
            f->CheckUas->SetEnabled(false);
        }
        break;
    case NOIP_STEP_ADD_HOST:
        memcpy(gNoipHostName, gPending.host, sizeof gNoipHostName);
        if (f) f->Button2->SetEnabled(false);
        break;
    default: break;
    }
    gSentAt = GetTickCount();
    gReplyLength = 0;
    return Win_TcpSend(fd, gNoipRequest, strlen(gNoipRequest));
}

// --- Replies -------------------------------------------------------------

// A header line "name: value" (name with its colon, lower case): the
// value's start and end, trimmed, or false for another header.
static bool HeaderValue(const char* line, const char* eol, const char* name, const char** from, const char** to)
{
    size_t len = (size_t)(eol - line), nameLength = strlen(name);
    if (len < nameLength || strncasecmp(line, name, nameLength) != 0) return false;
    const char* p = line + nameLength;
    while (p < eol && (*p == ' ' || *p == '\t')) p++;
    const char* e = eol;
    while (e > p && (e[-1] == ' ' || e[-1] == '\t')) e--;
    *from = p;
    *to = e;
    return true;
}

// The chunked body from r (n bytes): 1 whole (its encoded length in *used),
// 0 more to come, -1 not a chunked body. Each chunk is a hexadecimal size
// (extensions after ';' are passed over), CR LF, the data and CR LF; a
// size of 0 ends the chunks, then trailer lines up to an empty line.
// The hexadecimal chunk size at r[at] (n bytes in all): the digits' count,
// -1 for more than a reply may hold.
static int ChunkSize(const char* r, size_t n, size_t at, size_t* size)
{
    int digits = 0;
    *size = 0;
    for (; at < n && isxdigit((unsigned char)r[at]); at++) {
        char c = r[at];
        *size = *size * 16 + (size_t)(isdigit((unsigned char)c) ? c - '0' : (c | 0x20) - 'a' + 10);
        if (++digits > 5 || *size > NOIP_REPLY_CAP) return -1;
    }
    return digits;
}

static int ChunkedState(const char* r, size_t n, size_t* used)
{
    size_t at = 0, total = 0;
    for (;;) {
        size_t size = 0;
        int digits = ChunkSize(r, n, at, &size);
        if (digits < 0) return -1;
        at += (size_t)digits;
        if (at == n) return 0;
        if (digits == 0) return -1;
        // The rest of the size line: blanks or an extension, then CR LF.
        if (r[at] != '\r' && r[at] != ';' && r[at] != ' ' && r[at] != '\t') return -1;
        while (at < n && r[at] != '\r' && r[at] != '\n') at++;
        if (at + 2 > n) return 0;
        if (r[at] != '\r' || r[at + 1] != '\n') return -1;
        at += 2;
        if (size == 0) break;
        total += size;
        if (total > NOIP_REPLY_CAP) return -1;
        if (n - at < size + 2) return 0;
        at += size;
        if (r[at] != '\r' || r[at + 1] != '\n') return -1;
        at += 2;
    }
    // Trailer lines, each ended by CR LF, then the empty line.
    for (;;) {
        const char* eol = (const char*)memchr(r + at, '\n', n - at);
        if (!eol) return 0;
        size_t end = (size_t)(eol - r);
        if (end == at || r[end - 1] != '\r') return -1;
        bool empty = end == at + 1;
        at = end + 1;
        if (empty) break;
    }
    *used = at;
    return 1;
}

size_t Noip_Dechunk(const char* body, size_t n, char* out)
{
    size_t at = 0, written = 0;
    while (at < n) {
        size_t size = 0;
        if (ChunkSize(body, n, at, &size) <= 0) break;
        const char* eol = (const char*)memchr(body + at, '\n', n - at);
        if (!eol || size == 0) break;
        at = (size_t)(eol - body) + 1;
        if (size > n - at) break;
        memcpy(out + written, body + at, size);
        written += size;
        at += size + 2;
    }
    return written;
}

int Noip_ReplyState(const char* r, size_t n, int closed, int* status, size_t* bodyStart, size_t* bodyLength,
                    int* chunked)
{
    if (chunked) *chunked = 0;
    const char* end = nullptr;
    for (size_t i = 0; i + 3 < n; i++)
        if (r[i] == '\r' && r[i + 1] == '\n' && r[i + 2] == '\r' && r[i + 3] == '\n') {
            end = r + i;
            break;
        }
    // The status line: "HTTP/1.x NNN".
    if (n >= 12) {
        if (memcmp(r, "HTTP/1.", 7) != 0 || r[8] != ' ' || r[9] < '0' || r[9] > '9' || r[10] < '0' || r[10] > '9' ||
            r[11] < '0' || r[11] > '9')
            return -1;
    } else if (memcmp(r, "HTTP/1.", n < 7 ? n : 7) != 0) {
        return -1;
    }
    if (!end) return closed ? -1 : 0;
    // A head that ends before its status line is whole is no reply.
    if (n < 12) return -1;
    *status = (r[9] - '0') * 100 + (r[10] - '0') * 10 + (r[11] - '0');
    size_t headerEnd = (size_t)(end - r) + 4;
    // Transfer-Encoding chunked says the body comes in chunks; else
    // Content-Length, when given, says where the body ends; else the
    // server's close does.
    long long contentLength = -1;
    bool coded = false, inChunks = false;
    for (const char* line = r; line < end;) {
        const char* eol = line;
        while (eol < end && *eol != '\r') eol++;
        const char *from, *to;
        if (HeaderValue(line, eol, "content-length:", &from, &to)) {
            const char* p = from;
            long long v = 0;
            while (p < to && *p >= '0' && *p <= '9' && v <= NOIP_REPLY_CAP) v = v * 10 + (*p++ - '0');
            if (p == from || p != to || v > NOIP_REPLY_CAP) return -1;
            if (contentLength >= 0 && contentLength != v) return -1;
            contentLength = v;
        } else if (HeaderValue(line, eol, "transfer-encoding:", &from, &to)) {
            // The last coding named is the one the body ends in.
            const char* last = to;
            while (last > from && last[-1] != ',') last--;
            while (last < to && (*last == ' ' || *last == '\t')) last++;
            coded = true;
            inChunks = (size_t)(to - last) == 7 && strncasecmp(last, "chunked", 7) == 0;
        }
        line = eol + 2;
    }
    *bodyStart = headerEnd;
    if (inChunks) {
        size_t used = 0;
        int state = ChunkedState(r + headerEnd, n - headerEnd, &used);
        if (state == 0 && closed) return -1;
        if (state != 1) return state;
        *bodyLength = used;
        if (chunked) *chunked = 1;
        return 1;
    }
    if (contentLength >= 0 && !coded) {
        if (n - headerEnd >= (size_t)contentLength) {
            *bodyLength = (size_t)contentLength;
            return 1;
        }
        return closed ? -1 : 0;
    }
    if (!closed) return 0;
    *bodyLength = n - headerEnd;
    return 1;
}

int Noip_FindElement(const char** cursor, const char* tag)
{
    gNoipValue[0] = 0;
    gNoipValueCut = 0;
    const char* start = strstr(*cursor, tag);
    if (!start) return 0;
    start += strlen(tag);
    const char* close = strstr(start, tag);
    if (!close) return 0;
    *cursor = close + strlen(tag);
    // The text ends before the "</" of the closing tag; a closing tag that
    // stands closer than that gives the empty text.
    ptrdiff_t length = (close - start) - 2;
    if (length < 0) length = 0;
    if (length > NOIP_VALUE_SIZE - 1) {
        length = NOIP_VALUE_SIZE - 1;
        gNoipValueCut = 1;
    }
    memcpy(gNoipValue, start, (size_t)length);
    gNoipValue[length] = 0;
    return 1;
}

static void EnableAfterCheck(TForm_noip_setting* f)
{
    if (!f) return;
    bool all = !f->email->Text().empty() && !f->password->Text().empty() && !f->firstname->Text().empty() &&
               !f->lastname->Text().empty() && !f->postal_code->Text().empty() && !f->cpassword->Text().empty();
    f->Create->SetEnabled(all);
    f->CheckUas->SetEnabled(true);
}

// What a failed request leaves: the buttons its step's error reply enables.
static void StepFailed(int step)
{
    TForm_noip_setting* f = Form_noip_setting;
    if (!f) return;
    switch (step) {
    case NOIP_STEP_CREATE:
        f->Create->SetEnabled(true);
        f->CheckUas->SetEnabled(true);
        break;
    case NOIP_STEP_CHECK: EnableAfterCheck(f); break;
    case NOIP_STEP_ADD_HOST: f->Button2->SetEnabled(true); break;
    default: // a failed sign-in keeps both buttons disabled
        break;
    }
}

// The first "msg>" text from cursor, or, for a reply that is not a 2xx
// answer and says nothing, a text naming the status.
static void FirstMessage(const char* cursor, int status, char* out, size_t size)
{
    const char* c = cursor;
    if (Noip_FindElement(&c, "msg>")) snprintf(out, size, "%s", gNoipValue);
    else if (status < 200 || status > 299) snprintf(out, size, "no-ip server error %d", status);
    else out[0] = 0;
}

// Takes the account id and key of a create-account or sign-in answer.
static bool TakeAccount(const char** cursor)
{
    if (!Noip_FindElement(cursor, "id>") || gNoipValueCut || !gNoipValue[0] || !Noip_IsCleanToken(gNoipValue))
        return false;
    TNoipAccount account = {};
    CopyText(account.id, sizeof account.id, gNoipValue);
    if (Noip_FindElement(cursor, "key>")) {
        if (gNoipValueCut || !Noip_IsCleanToken(gNoipValue)) return false;
        CopyText(account.key, sizeof account.key, gNoipValue);
    }
    gNoipAccount = account;
    return true;
}

static void FillDomains(const char* cursor)
{
    TForm_noip_setting* f = Form_noip_setting;
    const char* oem = Noip_OemDomain();
    memset(gNoipDomains, 0, sizeof gNoipDomains);
    gNoipDomainCount = 0;
    auto inTable = [](const char* name) {
        for (int i = 0; i < gNoipDomainCount; i++)
            if (strcmp(gNoipDomains[i], name) == 0) return true;
        return false;
    };
    for (int item = 0; item < NOIP_DOMAIN_ITEMS; item++) {
        if (!Noip_FindElement(&cursor, "item>")) break;
        // A name too long for its entry is left out rather than cut.
        if (gNoipValueCut || strlen(gNoipValue) >= NOIP_DOMAIN_SIZE || !gNoipValue[0]) continue;
        if (!inTable(oem) && strcmp(gNoipValue, oem) > 0 && gNoipDomainCount < NOIP_DOMAIN_SLOTS)
            CopyText(gNoipDomains[gNoipDomainCount++], NOIP_DOMAIN_SIZE, oem);
        if (gNoipDomainCount < NOIP_DOMAIN_SLOTS && !inTable(gNoipValue))
            CopyText(gNoipDomains[gNoipDomainCount++], NOIP_DOMAIN_SIZE, gNoipValue);
    }
    if (!f) return;
    f->ComboBox1->Items()->Clear();
    for (int i = 0; i < gNoipDomainCount; i++) {
        f->ComboBox1->Items()->Add(gNoipDomains[i]);
        f->ComboBox1->SetItemIndex(0);
    }
    if (gNoipDomainCount == 0) return;
    const char* address = gConnections[0].host;
    f->Edit_ip->SetText(AnsiString(address, strnlen(address, sizeof gConnections[0].host)));
    f->Panel2->SetVisible(false);
    f->Panel3->SetVisible(true);
    f->Image2->SetLeft(470);
    f->Create->SetEnabled(true);
    f->CheckUas->SetEnabled(true);
    f->Button2->SetEnabled(false);
}

static void ShowAccountInfo(const char* cursor)
{
    TForm_noip_setting* f = Form_noip_setting;
    struct {
        const char* tag;
        TLabel* TForm_noip_setting::*label;
    } fields[] = {
        {"email>", &TForm_noip_setting::info_email},
        {"username>", &TForm_noip_setting::info_username},
        {"firstname>", &TForm_noip_setting::info_firstname},
        {"lastname>", &TForm_noip_setting::info_lastname},
        {"postal_code>", &TForm_noip_setting::info_postalcode},
    };
    bool postal = false;
    for (auto& field : fields) {
        if (!Noip_FindElement(&cursor, field.tag)) continue;
        if (f) (f->*field.label)->SetCaption(gNoipValue);
        postal = field.label == &TForm_noip_setting::info_postalcode;
    }
    if (!postal || !f) return;
    f->info_host->SetCaption(gNoipHostName);
    f->info_ip->SetCaption(f->Edit_ip->Text());
    f->Panel3->SetVisible(false);
    f->Panel4->SetVisible(true);
    f->Image2->SetLeft(660);
    f->Button2->SetEnabled(true);
}

void Noip_ParseResponse(const char* reply, size_t length, int closed, int step)
{
    if (step == NOIP_STEP_WAIT_INFO || step == NOIP_STEP_WAIT_DOMAINS) return;
    int status = 0, chunked = 0;
    size_t bodyStart = 0, bodyLength = 0;
    if (!reply || length > NOIP_REPLY_CAP ||
        Noip_ReplyState(reply, length, closed, &status, &bodyStart, &bodyLength, &chunked) != 1) {
        Message(kBadReply, "ERROR");
        StepFailed(step);
        return;
    }
    // The body as a text of its own, so no search runs past it; chunks are
    // joined (their data is never longer than they are).
    static char body[NOIP_REPLY_CAP + 1];
    if (chunked) {
        bodyLength = Noip_Dechunk(reply + bodyStart, bodyLength, body);
    } else {
        memcpy(body, reply + bodyStart, bodyLength);
    }
    body[bodyLength] = 0;
    // Element searches start behind the XML declaration; without one the
    // reply has no elements.
    const char* cursor = strstr(body, kXmlDeclaration);
    bool declared = cursor != nullptr;
    cursor = declared ? cursor + strlen(kXmlDeclaration) : body + bodyLength;
    bool ok = status >= 200 && status <= 299;
    TForm_noip_setting* f = Form_noip_setting;
    char text[NOIP_MESSAGE_SIZE];

    switch (step) {
    case NOIP_STEP_CREATE:
    case NOIP_STEP_SIGNIN: {
        const char* c = cursor;
        if (ok && strstr(c, "id>")) {
            if (TakeAccount(&c)) {
                gNoipStep = NOIP_STEP_WAIT_DOMAINS;
                return;
            }
            Message(kBadReply, "ERROR");
            StepFailed(step);
            return;
        }
        if (step == NOIP_STEP_SIGNIN) {
            FirstMessage(cursor, status, text, sizeof text);
            Message(text, "ERROR");
            return;
        }
        gNoipMessage[0] = 0;
        size_t used = 0;
        c = cursor;
        while (Noip_FindElement(&c, "msg>")) {
            const char* m = gNoipValue;
            if (strstr(m, "password")) m = kPasswordRule;
            else if (strstr(m, "username")) m = kUsernameRule;
            if (Append(gNoipMessage, sizeof gNoipMessage, &used, "%s\n", m) != 0) break;
        }
        if (!gNoipMessage[0] && !ok) snprintf(gNoipMessage, sizeof gNoipMessage, "no-ip server error %d\n", status);
        Message(gNoipMessage, "ERROR");
        StepFailed(step);
        return;
    }
    case NOIP_STEP_CHECK: {
        const char* c = cursor;
        if (!ok) {
            FirstMessage(cursor, status, text, sizeof text);
            Message(text, "ERROR");
        } else if (!declared) {
            // Nothing in it can say that the name is free.
            Message(kBadReply, "ERROR");
        } else if (Noip_FindElement(&c, "string>")) {
            Message("This Username is not available", "ERROR");
        } else if (Noip_FindElement(&c, "msg>")) {
            Message(gNoipValue, "ERROR");
        } else {
            Message("This Username is available", "PASS");
        }
        EnableAfterCheck(f);
        return;
    }
    case NOIP_STEP_INFO:
        if (!ok) {
            FirstMessage(cursor, status, text, sizeof text);
            Message(text, "ERROR");
            return;
        }
        ShowAccountInfo(cursor);
        return;
    case NOIP_STEP_DOMAINS: {
        if (!ok) {
            FirstMessage(cursor, status, text, sizeof text);
            Message(text, "ERROR");
            return;
        }
        const char* c = cursor;
        if (!Noip_FindElement(&c, "item>")) {
            FirstMessage(cursor, status, text, sizeof text);
            Message(text, "ERROR");
            return;
        }
        FillDomains(cursor);
        return;
    }
    case NOIP_STEP_ADD_HOST: {
        const char* c = cursor;
        if (ok && Noip_FindElement(&c, "id>")) {
            gNoipStep = NOIP_STEP_WAIT_INFO;
            return;
        }
        FirstMessage(cursor, status, text, sizeof text);
        Message(text, "ERROR");
        StepFailed(step);
        return;
    }
    default: return;
    }
}

int Noip_Receive()
{
    int slot = gNoipSockets.current;
    SOCKET fd = gNoipSockets.socket[slot];
    if (fd == WIN_INVALID_SOCKET) return 0;
    int closed = 0;
    bool overflow = false;
    int status = 0;
    size_t bodyStart = 0, bodyLength = 0;
    int state = 0;
    // What is in flight arrives within a few hundred milliseconds; a reply
    // still incomplete after that is read further on the next tick.
    const uint32_t start = GetTickCount(), patience = 300;
    for (;;) {
        int n = Win_TcpReceive(fd, gReply + gReplyLength, sizeof gReply - 1 - gReplyLength);
        if (n > 0) {
            gReplyLength += (size_t)n;
            if (gReplyLength >= sizeof gReply - 1) overflow = true;
        } else if (n == WIN_TCP_CLOSED) {
            closed = 1;
        }
        gReply[gReplyLength] = 0;
        state = Noip_ReplyState(gReply, gReplyLength, closed, &status, &bodyStart, &bodyLength);
        if (state != 0 || closed || overflow) break;
        const uint32_t waited = GetTickCount() - start;
        if (waited >= patience) return 0;
        if (!Win_TcpReadable(fd, (patience - waited) * 1000)) return 0;
    }
    CloseSlot(slot);
    size_t length = gReplyLength;
    gReplyLength = 0;
    // A reply that fills the whole buffer without being whole is refused.
    if (overflow && state != 1) length = 0;
    Noip_ParseResponse(gReply, length, 1, gNoipStep);
    return 1;
}

int Noip_Poll()
{
    int slot = gNoipSockets.current;
    if (slot < 0 || slot > 1) return 0;
    SOCKET fd = gNoipSockets.socket[slot];
    if (fd == WIN_INVALID_SOCKET) return 0;
    if (GetTickCount() - gSentAt > gNoipReplyTimeoutMs) {
        CloseSlot(slot);
        gReplyLength = 0;
        int step = gNoipStep;
        Message(kNoReply, "ERROR");
        StepFailed(step);
        return 1;
    }
    if (!Win_TcpReadable(fd, 5)) return 0;
    return Noip_Receive();
}
