// Replies of every step as the client reads them: each kind of answer and
// each error answer, then replies that are cut, lack the XML declaration,
// carry a non-2xx status, oversize texts or line ends in the account key.
#include "NoipFixture.h"
#include "link/Conn.h"

#include <string>

namespace {

const std::string kDecl = "<?xml version=\"1.0\"?>\n";

void Parse(int step, const std::string& reply) { Noip_ParseResponse(reply.data(), reply.size(), 1, step); }

TEST(NoipReplies, CreateAccountAnswerTakesTheAccountAndAsksForTheDomains)
{
    MessageBoxes boxes;
    ResetForm();
    gNoipStep = NOIP_STEP_CREATE;
    Parse(NOIP_STEP_CREATE,
          HttpReply(201, kDecl + "<account><id>1000002</id><key>9f8e7d6c5b4a39281706f5e4d3c2b1</key></account>"));
    EXPECT_EQ(gNoipStep, NOIP_STEP_WAIT_DOMAINS);
    EXPECT_STREQ(gNoipAccount.id, "1000002");
    EXPECT_STREQ(gNoipAccount.key, "9f8e7d6c5b4a39281706f5e4d3c2b1");
    EXPECT_TRUE(boxes.Take().empty());
}

TEST(NoipReplies, ErrorAnswersOfEveryStep)
{
    struct Case {
        int step;
        int status;
        std::string body;
        std::string caption, text;
    } cases[] = {
        // create: every message in turn, the two rules rewritten
        {NOIP_STEP_CREATE, 422,
         kDecl + "<errors><error><msg>password is not valid</msg></error><error><msg>email address is not valid</msg>"
                 "</error></errors>",
         "ERROR", "invalid password: 6-32 characters, invalid characters: +?%&\nemail address is not valid\n"},
        {NOIP_STEP_CREATE, 422, kDecl + "<errors><error><msg>username is already taken</msg></error></errors>", "ERROR",
         "invalid username: 4-16 characters, only letters and numbers\n"},
        {NOIP_STEP_CREATE, 500, "", "ERROR", "no-ip server error 500\n"},
        // a success-looking body under an error status is no success
        {NOIP_STEP_CREATE, 500, kDecl + "<account><id>5</id></account>", "ERROR", "no-ip server error 500\n"},
        {NOIP_STEP_SIGNIN, 401, kDecl + "<errors><error><msg>invalid credentials</msg></error></errors>", "ERROR",
         "invalid credentials"},
        {NOIP_STEP_SIGNIN, 200, kDecl + "<client></client>", "ERROR", ""},
        {NOIP_STEP_DOMAINS, 200, kDecl + "<errors><error><msg>no domains today</msg></error></errors>", "ERROR",
         "no domains today"},
        {NOIP_STEP_DOMAINS, 503, kDecl + "<domains><item>ddns.net</item></domains>", "ERROR", "no-ip server error 503"},
        {NOIP_STEP_ADD_HOST, 422, kDecl + "<errors><error><msg>host name is already taken</msg></error></errors>",
         "ERROR", "host name is already taken"},
        {NOIP_STEP_ADD_HOST, 404, "", "ERROR", "no-ip server error 404"},
        {NOIP_STEP_INFO, 401, kDecl + "<errors><error><msg>unknown account</msg></error></errors>", "ERROR",
         "unknown account"},
    };
    MessageBoxes boxes;
    for (const Case& c : cases) {
        TForm_noip_setting* f = ResetForm();
        gNoipStep = c.step;
        Parse(c.step, HttpReply(c.status, c.body));
        auto shown = boxes.Take();
        ASSERT_EQ(shown.size(), 1u) << c.body;
        EXPECT_EQ(shown[0].caption, c.caption);
        EXPECT_EQ(shown[0].text, c.text);
        EXPECT_EQ(gNoipStep, c.step) << "a failure keeps the step";
        EXPECT_STREQ(gNoipAccount.id, "");
        EXPECT_TRUE(f->Panel2->Visible()) << "a failure keeps the stage";
        // What each failure enables again.
        if (c.step == NOIP_STEP_CREATE) {
            EXPECT_TRUE(f->Create->Enabled());
            EXPECT_TRUE(f->CheckUas->Enabled());
        }
        if (c.step == NOIP_STEP_SIGNIN) {
            EXPECT_FALSE(f->Create->Enabled()) << "a failed sign-in keeps both disabled";
            EXPECT_FALSE(f->CheckUas->Enabled());
        }
        if (c.step == NOIP_STEP_ADD_HOST) {
            EXPECT_TRUE(f->Button2->Enabled());
        }
    }
}

TEST(NoipReplies, UserNameCheck)
{
    struct Case {
        std::string reply;
        bool filled; // all account fields but the name filled
        std::string caption, text;
    } cases[] = {
        {HttpReply(200, kDecl + "<exists><string>alice01</string></exists>"), true, "ERROR",
         "This Username is not available"},
        {HttpReply(200, kDecl + "<exists><string></string></exists>"), false, "ERROR",
         "This Username is not available"},
        {HttpReply(200, kDecl + "<exists/>"), true, "PASS", "This Username is available"},
        {HttpReply(200, kDecl + "<errors><error><msg>bad query</msg></error></errors>"), true, "ERROR", "bad query"},
        {HttpReply(500, kDecl + "<exists/>"), true, "ERROR", "no-ip server error 500"},
        {HttpReply(200, "<exists/>"), true, "ERROR", "no valid reply from no-ip server"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 40\r\n\r\n" + kDecl + "<exi", true, "ERROR",
         "no valid reply from no-ip server"},
    };
    MessageBoxes boxes;
    for (const Case& c : cases) {
        TForm_noip_setting* f = ResetForm();
        if (c.filled) FillSeedAccountFields(f);
        f->Create->SetEnabled(false);
        f->CheckUas->SetEnabled(false);
        gNoipStep = NOIP_STEP_CHECK;
        Parse(NOIP_STEP_CHECK, c.reply);
        auto shown = boxes.Take();
        ASSERT_EQ(shown.size(), 1u) << c.reply;
        EXPECT_EQ(shown[0].caption, c.caption) << c.reply;
        EXPECT_EQ(shown[0].text, c.text) << c.reply;
        EXPECT_TRUE(f->CheckUas->Enabled());
        EXPECT_EQ(f->Create->Enabled(), c.filled) << "the terms box is not consulted here";
    }
}

TEST(NoipReplies, DomainListFillsTheTableAndMovesToTheHostStage)
{
    MessageBoxes boxes;
    snprintf(gConnections[0].host, sizeof gConnections[0].host, "192.168.7.9");
    struct Case {
        std::vector<std::string> items;
        std::vector<std::string> table; // OEM domain: dvrlink.net
    } cases[] = {
        {{"ddns.net", "hopto.org", "zapto.org"}, {"ddns.net", "dvrlink.net", "hopto.org", "zapto.org"}},
        {{"abc.net", "bcd.org"}, {"abc.net", "bcd.org"}},                // all before: OEM dropped
        {{"zzz.net", "yyy.org"}, {"dvrlink.net", "zzz.net", "yyy.org"}}, // the first after: OEM first
        {{"ddns.net", "dvrlink.net", "hopto.org"}, {"ddns.net", "dvrlink.net", "hopto.org"}}, // listed once
        {{"ddns.net", std::string(40, 'x') + ".net", "hopto.org"}, {"ddns.net", "dvrlink.net", "hopto.org"}},
    };
    for (const Case& c : cases) {
        TForm_noip_setting* f = ResetForm();
        f->ComboBox1->Items()->Add("left over");
        std::string body = kDecl + "<domains>";
        for (auto& i : c.items) body += "<item>" + i + "</item>";
        body += "</domains>";
        gNoipStep = NOIP_STEP_DOMAINS;
        Parse(NOIP_STEP_DOMAINS, HttpReply(200, body));
        EXPECT_TRUE(boxes.Take().empty());
        ASSERT_EQ(gNoipDomainCount, (int)c.table.size());
        ASSERT_EQ(f->ComboBox1->Items()->Count(), (int)c.table.size()) << "the list is cleared first";
        for (size_t i = 0; i < c.table.size(); i++) {
            EXPECT_STREQ(gNoipDomains[i], c.table[i].c_str());
            EXPECT_EQ(f->ComboBox1->Items()->Strings((int)i), c.table[i]);
        }
        EXPECT_EQ(f->ComboBox1->ItemIndex(), 0);
        EXPECT_FALSE(f->Panel2->Visible());
        EXPECT_TRUE(f->Panel3->Visible());
        EXPECT_EQ(f->Image2->Left(), 470);
        EXPECT_EQ(f->Edit_ip->Text(), "192.168.7.9");
        EXPECT_TRUE(f->Create->Enabled());
        EXPECT_TRUE(f->CheckUas->Enabled());
        EXPECT_FALSE(f->Button2->Enabled());
    }
}

TEST(NoipReplies, ThirtyItemsAndTheOemDomainAllFit)
{
    MessageBoxes boxes;
    ResetForm();
    std::string body = kDecl + "<domains>";
    for (int i = 0; i < 35; i++) body += "<item>z" + std::to_string(100 + i) + ".net</item>";
    body += "</domains>";
    Parse(NOIP_STEP_DOMAINS, HttpReply(200, body));
    ASSERT_EQ(gNoipDomainCount, 31) << "30 items read, the OEM domain merged";
    EXPECT_STREQ(gNoipDomains[0], "dvrlink.net");
    EXPECT_STREQ(gNoipDomains[30], "z129.net");
}

TEST(NoipReplies, AddHostAndAccountInformationFinishTheWizard)
{
    MessageBoxes boxes;
    TForm_noip_setting* f = ResetForm();
    f->Panel2->SetVisible(false);
    f->Panel3->SetVisible(true);
    f->Edit_ip->SetText("10.0.0.5");
    snprintf(gNoipHostName, sizeof gNoipHostName, "mycam.ddns.net");
    gNoipStep = NOIP_STEP_ADD_HOST;
    Parse(NOIP_STEP_ADD_HOST, HttpReply(201, kDecl + "<host><id>501</id><hostname>mycam.ddns.net</hostname></host>"));
    EXPECT_EQ(gNoipStep, NOIP_STEP_WAIT_INFO);

    // Without a postal code the form stays on the host stage.
    Parse(NOIP_STEP_INFO,
          HttpReply(200, kDecl + "<account><email>a@b.c</email><username>alice01</username></account>"));
    EXPECT_TRUE(f->Panel3->Visible());
    EXPECT_EQ(f->info_username->Caption(), "alice01");

    Parse(NOIP_STEP_INFO,
          HttpReply(200, kDecl + "<account><id>1</id><email>alice@example.com</email><username>alice01</username>"
                                 "<firstname>Alice</firstname><lastname>Smith</lastname>"
                                 "<postal_code>12345</postal_code></account>"));
    EXPECT_TRUE(boxes.Take().empty());
    EXPECT_EQ(f->info_email->Caption(), "alice@example.com");
    EXPECT_EQ(f->info_firstname->Caption(), "Alice");
    EXPECT_EQ(f->info_lastname->Caption(), "Smith");
    EXPECT_EQ(f->info_postalcode->Caption(), "12345");
    EXPECT_EQ(f->info_host->Caption(), "mycam.ddns.net");
    EXPECT_EQ(f->info_ip->Caption(), "10.0.0.5");
    EXPECT_FALSE(f->Panel3->Visible());
    EXPECT_TRUE(f->Panel4->Visible());
    EXPECT_EQ(f->Image2->Left(), 660);
    EXPECT_TRUE(f->Button2->Enabled());
}

TEST(NoipReplies, RepliesCutAtEveryLengthAreNeverTakenAsAnswers)
{
    struct Case {
        int step;
        std::string reply;
    } cases[] = {
        {NOIP_STEP_CREATE, HttpReply(201, kDecl + "<account><id>1000002</id><key>abcdef</key></account>")},
        {NOIP_STEP_CHECK, HttpReply(200, kDecl + "<exists/>")},
        {NOIP_STEP_DOMAINS, HttpReply(200, kDecl + "<domains><item>ddns.net</item></domains>")},
        {NOIP_STEP_ADD_HOST, HttpReply(201, kDecl + "<host><id>501</id></host>")},
    };
    MessageBoxes boxes;
    for (const Case& c : cases) {
        for (size_t cut = 0; cut < c.reply.size(); cut++) {
            ResetForm();
            gNoipStep = c.step;
            // A copy of exactly the cut bytes, so nothing past them is readable.
            std::vector<char> bytes(c.reply.begin(), c.reply.begin() + (long)cut);
            Noip_ParseResponse(bytes.data(), bytes.size(), 1, c.step);
            auto shown = boxes.Take();
            ASSERT_EQ(shown.size(), 1u) << "step " << c.step << " cut " << cut;
            EXPECT_EQ(shown[0].text, "no valid reply from no-ip server") << cut;
            EXPECT_EQ(gNoipStep, c.step) << cut;
            EXPECT_EQ(gNoipDomainCount, 0) << cut;
            EXPECT_STREQ(gNoipAccount.id, "") << cut;
        }
    }
}

// A chunked reply is whole with its last chunk and the empty line after its
// trailers, not a byte sooner (on a connection the service keeps open);
// its chunks are joined into the body the elements are read from. Broken
// chunk framing is no reply.
TEST(NoipReplies, AChunkedReplyIsWholeAtItsLastChunkAndItsChunksAreJoined)
{
    const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nTransfer-Encoding: chunked\r\n\r\n";
    const std::string xml = kDecl + "<exists><string>alice01</string></exists>";
    // The XML in chunks of 17 bytes, one with an extension, and a trailer.
    std::string chunked = head;
    for (size_t at = 0; at < xml.size(); at += 17) {
        std::string piece = xml.substr(at, 17);
        char size[16];
        snprintf(size, sizeof size, "%zx", piece.size());
        chunked += std::string(size) + (at == 17 ? ";part=2" : "") + "\r\n" + piece + "\r\n";
    }
    chunked += "0\r\nX-Trailer: end\r\n\r\n";
    const struct {
        const char* name;
        std::string reply;
        int state; // on a kept connection, with every byte there
    } cases[] = {
        {"chunks", chunked, 1},
        {"bad size", head + "zz\r\nabc\r\n0\r\n\r\n", -1},
        {"data longer than its size", head + "3\r\nabcd\r\n0\r\n\r\n", -1},
        {"a size beyond any reply", head + "100000\r\n", -1},
        {"no CR before LF", head + "3\nabc\r\n0\r\n\r\n", -1},
    };
    for (const auto& c : cases) {
        std::vector<char> bytes(c.reply.begin(), c.reply.end());
        int status = 0, isChunked = 0;
        size_t start = 0, length = 0;
        EXPECT_EQ(Noip_ReplyState(bytes.data(), bytes.size(), 0, &status, &start, &length, &isChunked), c.state)
            << c.name;
        if (c.state != 1) continue;
        EXPECT_EQ(isChunked, 1);
        EXPECT_EQ(start, head.size());
        EXPECT_EQ(length, c.reply.size() - head.size());
        std::vector<char> joined(length);
        EXPECT_EQ(std::string(joined.data(), Noip_Dechunk(bytes.data() + start, length, joined.data())), xml);
        // Cut anywhere before its end it is not yet whole (and, closed
        // there, no reply).
        for (size_t cut = head.size(); cut < c.reply.size(); cut++) {
            std::vector<char> part(c.reply.begin(), c.reply.begin() + (long)cut);
            ASSERT_EQ(Noip_ReplyState(part.data(), cut, 0, &status, &start, &length), 0) << cut;
            ASSERT_EQ(Noip_ReplyState(part.data(), cut, 1, &status, &start, &length), -1) << cut;
        }
    }
    // The answer the chunks carry is acted on.
    MessageBoxes boxes;
    ResetForm();
    gNoipStep = NOIP_STEP_CHECK;
    std::vector<char> bytes(chunked.begin(), chunked.end());
    Noip_ParseResponse(bytes.data(), bytes.size(), 0, NOIP_STEP_CHECK);
    auto shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "This Username is not available");
    // The last coding named decides; another coding ends with the close.
    const struct {
        const char* header;
        int keptOpen, closed;
    } codings[] = {{"Transfer-Encoding: gzip, chunked", 1, 1},
                   {"transfer-encoding:  CHUNKED ", 1, 1},
                   {"Transfer-Encoding: gzip", 0, 1}};
    for (const auto& c : codings) {
        std::string reply =
            "HTTP/1.1 200 OK\r\n" + std::string(c.header) + "\r\nContent-Length: 3\r\n\r\n3\r\nabc\r\n0\r\n\r\n";
        std::vector<char> b(reply.begin(), reply.end());
        int status = 0;
        size_t start = 0, length = 0;
        EXPECT_EQ(Noip_ReplyState(b.data(), b.size(), 0, &status, &start, &length), c.keptOpen) << c.header;
        EXPECT_EQ(Noip_ReplyState(b.data(), b.size(), 1, &status, &start, &length), c.closed) << c.header;
    }
}

TEST(NoipReplies, AHeadThatEndsInsideTheStatusLineIsNoReply)
{
    // Found by fuzz_noip: the status digits were read past the reply's end.
    const std::string heads[] = {"HTTP/1.\r\n\r\n", "HTTP/1.1\r\n\r\n", "HTTP/1.1 2\r\n\r\n"};
    MessageBoxes boxes;
    for (const std::string& head : heads)
        for (int closed = 0; closed < 2; closed++) {
            std::vector<char> bytes(head.begin(), head.end());
            int status = -1;
            size_t start = 0, length = 0;
            EXPECT_EQ(Noip_ReplyState(bytes.data(), bytes.size(), closed, &status, &start, &length), -1) << head;
            EXPECT_EQ(status, -1) << head;
            ResetForm();
            gNoipStep = NOIP_STEP_CHECK;
            Noip_ParseResponse(bytes.data(), bytes.size(), closed, NOIP_STEP_CHECK);
            auto shown = boxes.Take();
            ASSERT_EQ(shown.size(), 1u) << head;
            EXPECT_EQ(shown[0].text, "no valid reply from no-ip server") << head;
        }
}

TEST(NoipReplies, ResetReturnsTheClientToItsStartUpState)
{
    MessageBoxes boxes;
    ResetForm();
    gNoipStep = NOIP_STEP_SIGNIN;
    Parse(NOIP_STEP_SIGNIN, HttpReply(200, kDecl + "<client><id>77</id><key>k77</key></client>"));
    ASSERT_EQ(gNoipStep, NOIP_STEP_WAIT_DOMAINS);
    Parse(NOIP_STEP_DOMAINS, HttpReply(200, kDecl + "<domains><item>ddns.net</item></domains>"));
    ASSERT_GT(gNoipDomainCount, 0);
    snprintf(gNoipHostName, sizeof gNoipHostName, "cam.ddns.net");
    snprintf(gNoipSavedUser, sizeof gNoipSavedUser, "alice");
    gNoipReplyTimeoutMs = 5;
    Noip_Reset();
    EXPECT_EQ(gNoipStep, NOIP_STEP_CREATE);
    EXPECT_STREQ(gNoipAccount.id, "");
    EXPECT_STREQ(gNoipAccount.key, "");
    EXPECT_EQ(gNoipDomainCount, 0);
    EXPECT_STREQ(gNoipDomains[0], "");
    EXPECT_STREQ(gNoipHostName, "");
    EXPECT_STREQ(gNoipSavedUser, "");
    EXPECT_EQ(gNoipReplyTimeoutMs, 30000u);
    EXPECT_EQ(gNoipSockets.socket[0], -1);
    EXPECT_EQ(gNoipSockets.socket[1], -1);
    EXPECT_EQ(Noip_Poll(), 0);
    boxes.Take();
}

TEST(NoipReplies, AReplyWithoutTheDeclarationHasNoElements)
{
    MessageBoxes boxes;
    struct Case {
        int step;
        std::string body;
    } cases[] = {
        {NOIP_STEP_CREATE, "<account><id>1000002</id><key>abcdef</key></account>"},
        {NOIP_STEP_SIGNIN, "<client><id>1000002</id><key>abcdef</key></client>"},
        {NOIP_STEP_DOMAINS, "<domains><item>ddns.net</item></domains>"},
        {NOIP_STEP_ADD_HOST, "<host><id>501</id></host>"},
        {NOIP_STEP_INFO, "<account><postal_code>1</postal_code></account>"},
        {NOIP_STEP_CREATE, ""},
    };
    for (const Case& c : cases) {
        TForm_noip_setting* f = ResetForm();
        gNoipStep = c.step;
        Parse(c.step, HttpReply(200, c.body));
        EXPECT_EQ(gNoipStep, c.step) << c.body;
        EXPECT_STREQ(gNoipAccount.id, "");
        EXPECT_EQ(gNoipDomainCount, 0);
        EXPECT_FALSE(f->Panel4->Visible());
        boxes.Take();
    }
}

TEST(NoipReplies, AccountIdsAndKeysThatCouldBreakTheNextRequestAreRefused)
{
    MessageBoxes boxes;
    const std::string cases[] = {
        "<account><id>1000002</id><key>abc\r\nX-Evil: 1</key></account>",
        "<account><id>1000002</id><key>abc\ndef</key></account>",
        "<account><id>10 02</id><key>abc</key></account>",
        "<account><id>1000002\x01</id><key>abc</key></account>",
        "<account><id>1000002</id><key>" + std::string(32, 'k') + "</key></account>",
        "<account><id>" + std::string(40, '7') + "</id><key>abc</key></account>",
        "<account><id>" + std::string(300, '7') + "</id><key>abc</key></account>",
        "<account><id></id><key>abc</key></account>",
    };
    for (const std::string& body : cases) {
        TForm_noip_setting* f = ResetForm();
        gNoipStep = NOIP_STEP_CREATE;
        Parse(NOIP_STEP_CREATE, HttpReply(201, kDecl + body));
        EXPECT_EQ(gNoipStep, NOIP_STEP_CREATE) << body;
        EXPECT_STREQ(gNoipAccount.id, "") << body;
        EXPECT_STREQ(gNoipAccount.key, "") << body;
        auto shown = boxes.Take();
        ASSERT_EQ(shown.size(), 1u) << body;
        EXPECT_EQ(shown[0].text, "no valid reply from no-ip server");
        EXPECT_TRUE(f->Create->Enabled());
    }
    // A key of exactly 31 characters is taken.
    ResetForm();
    Parse(NOIP_STEP_CREATE,
          HttpReply(201, kDecl + "<account><id>7</id><key>" + std::string(31, 'k') + "</key></account>"));
    EXPECT_EQ(gNoipStep, NOIP_STEP_WAIT_DOMAINS);
    EXPECT_EQ(std::string(gNoipAccount.key), std::string(31, 'k'));
}

TEST(NoipReplies, OversizeTextsAndRepliesStayInsideTheirBuffers)
{
    MessageBoxes boxes;
    ResetForm();
    // A message of 3,000 characters is cut to the value buffer.
    Parse(NOIP_STEP_SIGNIN,
          HttpReply(401, kDecl + "<errors><error><msg>" + std::string(3000, 'm') + "</msg></error></errors>"));
    auto shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, std::string(255, 'm'));

    // 40 create-account messages of 200 characters fill the joined message
    // buffer and stop there.
    ResetForm();
    std::string many = kDecl + "<errors>";
    for (int i = 0; i < 40; i++) many += "<error><msg>" + std::string(200, 'a' + i % 26) + "</msg></error>";
    many += "</errors>";
    Parse(NOIP_STEP_CREATE, HttpReply(422, many));
    shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_LT(shown[0].text.size(), (size_t)NOIP_MESSAGE_SIZE);
    EXPECT_GT(shown[0].text.size(), 1800u);

    // A reply longer than the cap is refused whole.
    ResetForm();
    std::string huge =
        HttpReply(200, kDecl + "<domains><item>ddns.net</item>" + std::string(20000, ' ') + "</domains>");
    Parse(NOIP_STEP_DOMAINS, huge);
    shown = boxes.Take();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, "no valid reply from no-ip server");
    EXPECT_EQ(gNoipDomainCount, 0);
}

TEST(NoipReplies, ElementSearch)
{
    struct Case {
        const char* text;
        const char* tag;
        int found;
        const char* value;
        size_t rest; // characters left behind the cursor
    } cases[] = {
        {"<id>42</id>tail", "id>", 1, "42", 4},
        {"<id>id>", "id>", 1, "", 0}, // closing tag too close: the empty text
        {"<msg>x", "msg>", 0, "", 6},
        {"nothing", "msg>", 0, "", 7},
    };
    for (const Case& c : cases) {
        const char* cursor = c.text;
        EXPECT_EQ(Noip_FindElement(&cursor, c.tag), c.found) << c.text;
        EXPECT_STREQ(gNoipValue, c.value) << c.text;
        EXPECT_EQ(strlen(cursor), c.rest) << c.text;
    }
}

} // namespace
