// The requests of every step, byte for byte at a fixed clock (request
// line, header lines in their order, Date, Content-MD5, signature), and the
// same requests sent to the independent service, which checks them under
// the identity each path calls for.
#include "NoipFixture.h"

#include <ctime>
#include <functional>

namespace {

// Sun, 05 Jan 2025 09:03:07 UTC
constexpr time_t kFixedTime = 1736067787;
// The platform's wall clock stopped there, for the Date lines.
int64_t FixedTime() { return kFixedTime; }

struct StepCase {
    int step;
    const char* kind; // the identity the service must find
    std::function<void(TForm_noip_setting*)> setup;
    const char* expected;
};

void SeedAccount()
{
    snprintf(gNoipAccount.id, sizeof gNoipAccount.id, "%s", kSeedId);
    snprintf(gNoipAccount.key, sizeof gNoipAccount.key, "%s", kSeedKey);
}

const StepCase kSteps[] = {
    {NOIP_STEP_CREATE, "oem", FillSeedAccountFields,
     "POST /v2/oem/accounts.xml HTTP/1.1\r\n"
     "User-Agent: No-IP Rest Client/1.0 (PHP)\r\n"
     "Host: 127.0.0.1\r\n"
     "Accept: */*\r\n"
     "Date: Sun, 05 Jan 2025 09:03:07 +0000\r\n"
     "Content-MD5: HEnOo1j1atesegRsAa6fCA==\r\n"
     "Content-Length: 107\r\n"
     "Content-Type: application/x-www-form-urlencoded\r\n"
     "Authorization: NOIP CLI-580617:nZlSoeg/JFb7Hprv/UTqPuo3obE=\r\n"
     "\r\n"
     "username=alice01&email=alice@example.com&password=secret12&firstname=Alice&lastname=Smith&postal_code=12345"},
    {NOIP_STEP_CHECK, "oem", FillSeedAccountFields,
     "GET /v2/oem/accounts.xml?mode=exists&user=alice01 HTTP/1.1\r\n"
     "User-Agent: No-IP Rest Client/1.0 (PHP)\r\n"
     "Host: 127.0.0.1\r\n"
     "Accept: */*\r\n"
     "Date: Sun, 05 Jan 2025 09:03:07 +0000\r\n"
     "Authorization: NOIP CLI-580617:Zw08CidJqGLSOQaOiaGhIEFqxiI=\r\n"
     "\r\n"},
    {NOIP_STEP_SIGNIN, "user", FillSeedAccountFields,
     "POST /v2/oem/clients.xml HTTP/1.1\r\n"
     "User-Agent: No-IP Rest Client/1.0 (PHP)\r\n"
     "Host: 127.0.0.1\r\n"
     "Accept: */*\r\n"
     "Date: Sun, 05 Jan 2025 09:03:07 +0000\r\n"
     "Content-MD5: 1B2M2Y8AsgTpgAmY7PhCfg==\r\n"
     "Content-Length: 0\r\n"
     "Content-Type: application/x-www-form-urlencoded\r\n"
     "Authorization: NOIP alice01:nNDla9A4BEOI72mDaBmde8Rab8E=\r\n"
     "\r\n"},
    {NOIP_STEP_INFO, "account", [](TForm_noip_setting*) { SeedAccount(); },
     "GET /v2/oem/accounts/1000001.xml HTTP/1.1\r\n"
     "User-Agent: No-IP Rest Client/1.0 (PHP)\r\n"
     "Host: 127.0.0.1\r\n"
     "Accept: */*\r\n"
     "Date: Sun, 05 Jan 2025 09:03:07 +0000\r\n"
     "Authorization: NOIP 1000001:L4qzxGpW8c3hLNCxA6siuzfphpE=\r\n"
     "\r\n"},
    {NOIP_STEP_DOMAINS, "oem", [](TForm_noip_setting*) {},
     "GET /v2/oem/dns/domains.xml HTTP/1.1\r\n"
     "User-Agent: No-IP Rest Client/1.0 (PHP)\r\n"
     "Host: 127.0.0.1\r\n"
     "Accept: */*\r\n"
     "Date: Sun, 05 Jan 2025 09:03:07 +0000\r\n"
     "Authorization: NOIP CLI-580617:+EjdR2FhJopkNHLp1gh006emm9U=\r\n"
     "\r\n"},
    {NOIP_STEP_ADD_HOST, "account",
     [](TForm_noip_setting* f) {
         SeedAccount();
         snprintf(gNoipDomains[0], sizeof gNoipDomains[0], "ddns.net");
         gNoipDomainCount = 1;
         f->ComboBox1->Items()->Add("ddns.net");
         f->ComboBox1->SetItemIndex(0);
         f->Edit_host->SetText("mycam");
         f->Edit_ip->SetText("192.168.1.20");
     },
     "POST /v2/oem/dns/hosts.xml HTTP/1.1\r\n"
     "User-Agent: No-IP Rest Client/1.0 (PHP)\r\n"
     "Host: 127.0.0.1\r\n"
     "Accept: */*\r\n"
     "Date: Sun, 05 Jan 2025 09:03:07 +0000\r\n"
     "Content-MD5: kbwLbDrWH0ygc5u1nrueMw==\r\n"
     "Content-Length: 42\r\n"
     "Content-Type: application/x-www-form-urlencoded\r\n"
     "Authorization: NOIP 1000001:KaDbEIhw/OOIlyhnKvbpTmfUfX8=\r\n"
     "\r\n"
     "host=mycam&domain=ddns.net&ip=192.168.1.20"},
};

TEST(NoipRequests, GoldenBytesForEveryStepAndIdentity)
{
    PointClientAt(80);
    MessageBoxes boxes;
    for (const StepCase& c : kSteps) {
        TForm_noip_setting* f = ResetForm();
        c.setup(f);
        Win_SetTimeSource(FixedTime);
        ASSERT_EQ(Noip_PrepareStep(c.step), 0) << c.step;
        EXPECT_EQ(std::string(gNoipRequest), c.expected) << "step " << c.step;
    }
    EXPECT_TRUE(boxes.Take().empty());
    Win_SetTimeSource(nullptr);
}

TEST(NoipRequests, TheServiceVerifiesEveryStepUnderItsIdentity)
{
    // The fixed clock is years off: the service is told to take any date
    // here (the end-to-end runs check the real clock).
    NoipServer server({"--max-skew", "-1"});
    ASSERT_GT(server.port(), 0);
    PointClientAt(server.port());
    MessageBoxes boxes;
    size_t n = 0;
    for (const StepCase& c : kSteps) {
        TForm_noip_setting* f = ResetForm();
        c.setup(f);
        Win_SetTimeSource(FixedTime);
        gNoipStep = c.step;
        ASSERT_EQ(Noip_Connect(0), 1) << c.step;
        ASSERT_TRUE(server.waitLog(++n)) << c.step;
        std::string line = server.log().back();
        EXPECT_EQ(LogField(line, "verdict"), "ok") << line;
        EXPECT_EQ(LogField(line, "kind"), c.kind) << line;
        Noip_CloseAll();
    }
    Win_SetTimeSource(nullptr);
}

TEST(NoipRequests, AForgedSignatureOrAWrongIdentityIsRefusedByTheService)
{
    // The service is not a rubber stamp: a request signed under another
    // key, or by the OEM client where the account must sign, fails there.
    NoipServer server;
    PointClientAt(server.port());
    MessageBoxes boxes;
    struct Case {
        const char* id;
        const char* key;
        const char* reason; // part of the service's verdict
    } cases[] = {
        {kSeedId, "ffffffffffffffffffffffffffffffff", "signature"},
        {kNoipOemId, kNoipOemKey, "unknown account"},
    };
    size_t n = 0;
    for (const Case& c : cases) {
        TForm_noip_setting* f = ResetForm();
        (void)f;
        snprintf(gNoipAccount.id, sizeof gNoipAccount.id, "%s", c.id);
        snprintf(gNoipAccount.key, sizeof gNoipAccount.key, "%s", c.key);
        gNoipStep = NOIP_STEP_INFO;
        ASSERT_EQ(Noip_Connect(0), 1);
        ASSERT_TRUE(server.waitLog(++n));
        std::string verdict = LogField(server.log().back(), "verdict");
        EXPECT_NE(verdict.find(c.reason), std::string::npos) << verdict;
        Noip_CloseAll();
    }
}

TEST(NoipRequests, ConfigurationFromTheEnvironment)
{
    struct Case {
        const char* host;
        const char* port;
        const char* oem;
        const char* wantHost;
        int wantPort;
        const char* wantOem;
    } cases[] = {
        {nullptr, nullptr, nullptr, "api.noip.com", 80, "dvrlink.net"}, // the service's own
        {"10.1.2.3", "8080", "example-dvr.net", "10.1.2.3", 8080, "example-dvr.net"},
        {"", "0", "", "api.noip.com", 80, "dvrlink.net"},
        {"h", "65536", nullptr, "h", 80, "dvrlink.net"},
        {"h", "80x", nullptr, "h", 80, "dvrlink.net"},
        {"h", "-5", "dddddddddddddddddddddddddddddddd.net", "h", 80, "dvrlink.net"}, // too long for an entry
    };
    for (const Case& c : cases) {
        auto put = [](const char* name, const char* value) {
            if (value) setenv(name, value, 1);
            else unsetenv(name);
        };
        put("TAVLIN_NOIP_API_HOST", c.host);
        put("TAVLIN_NOIP_API_PORT", c.port);
        put("TAVLIN_NOIP_OEM_DOMAIN", c.oem);
        Noip_LoadConfig();
        EXPECT_STREQ(Noip_ApiHost(), c.wantHost);
        EXPECT_EQ(Noip_ApiPort(), c.wantPort) << (c.port ? c.port : "(none)");
        EXPECT_STREQ(Noip_OemDomain(), c.wantOem);
    }
    PointClientAt(80);
}

TEST(NoipRequests, DateTextTable)
{
    struct Case {
        int year, month, day, hour, minute, second;
        const char* text;
    } cases[] = {
        {2025, 1, 5, 9, 3, 7, "Sun, 05 Jan 2025 09:03:07 +0000"},
        {2024, 2, 29, 23, 59, 59, "Thu, 29 Feb 2024 23:59:59 +0000"},
        {2026, 12, 31, 0, 0, 0, "Thu, 31 Dec 2026 00:00:00 +0000"},
        {2030, 6, 1, 12, 30, 5, "Sat, 01 Jun 2030 12:30:05 +0000"},
    };
    for (const Case& c : cases) {
        struct tm t = {};
        t.tm_year = c.year - 1900;
        t.tm_mon = c.month - 1;
        t.tm_mday = c.day;
        t.tm_hour = c.hour;
        t.tm_min = c.minute;
        t.tm_sec = c.second;
        time_t when = timegm(&t);
        struct tm utc = {};
        gmtime_r(&when, &utc);
        char text[64];
        Noip_FormatDate(&utc, text, sizeof text);
        EXPECT_STREQ(text, c.text);
    }
}

TEST(NoipRequests, FieldValuesArePercentEncodedAndTheServiceDecodesThemBack)
{
    struct Case {
        const char* in;
        const char* out;
    } cases[] = {
        {"alice@example.com", "alice@example.com"}, // ordinary values stay as they are
        {"Jean-Luc_O.Brien2", "Jean-Luc_O.Brien2"},
        {"a b", "a%20b"},
        {"a&b=c", "a%26b%3Dc"},
        {"50% + more?", "50%25%20%2B%20more%3F"},
        {"x#y;z", "x%23y%3Bz"},
        {"line\r\nX-Evil: 1", "line%0D%0AX-Evil:%201"},
        {"\xc3\x9c", "%C3%9C"},
    };
    for (const Case& c : cases) {
        char out[128];
        ASSERT_EQ(Noip_PercentEncode(c.in, out, sizeof out), 0);
        EXPECT_STREQ(out, c.out);
    }
    char small[4];
    EXPECT_EQ(Noip_PercentEncode("a&b", small, sizeof small), -1) << "a result that does not fit is refused";

    // Through the service: the account it keeps holds the texts as typed.
    NoipServer server;
    PointClientAt(server.port());
    MessageBoxes boxes;
    TForm_noip_setting* f = ResetForm();
    FillSeedAccountFields(f);
    f->Username->SetText("bob2024");
    f->email->SetText("bob+dvr@example.com");
    f->firstname->SetText("A&B=C %D");
    f->lastname->SetText("M\xc3\xbcller");
    f->postal_code->SetText("75#01;x");
    gNoipStep = NOIP_STEP_CREATE;
    ASSERT_EQ(Noip_Connect(0), 1);
    ASSERT_TRUE(server.waitLog(1));
    EXPECT_EQ(LogField(server.log().back(), "verdict"), "ok");
    std::string state = server.control("GET", "/_control/state");
    EXPECT_NE(state.find("\"firstname\": \"A&B=C %D\""), std::string::npos) << state;
    EXPECT_NE(state.find("\"email\": \"bob+dvr@example.com\""), std::string::npos) << state;
    EXPECT_NE(state.find("\"postal_code\": \"75#01;x\""), std::string::npos) << state;
    EXPECT_NE(state.find("\"lastname\": \"M\\u00fcller\""), std::string::npos) << state;
    Noip_CloseAll();
}

TEST(NoipRequests, NoFieldCanAddAHeaderLine)
{
    // Texts set from code may hold line ends; the user-name check puts the
    // name into the path and the sign-in into the Authorization line.
    PointClientAt(80);
    MessageBoxes boxes;
    TForm_noip_setting* f = ResetForm();
    f->Username->SetText("ab\r\nX-Evil: 1");
    ASSERT_EQ(Noip_PrepareStep(NOIP_STEP_CHECK), 0);
    EXPECT_EQ(std::string(gNoipRequest).find("\r\nX-Evil"), std::string::npos);
    EXPECT_NE(std::string(gNoipRequest).find("user=ab%0D%0AX-Evil:%201 HTTP/1.1\r\n"), std::string::npos);
    f->password->SetText("secret12");
    EXPECT_EQ(Noip_PrepareStep(NOIP_STEP_SIGNIN), -1) << "a user name with line ends cannot sign";
    EXPECT_EQ(gNoipRequest[0], 0);
    auto shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].caption, "ERROR");
}

} // namespace
