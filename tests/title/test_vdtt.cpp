// The title module "VDTT" in the control's process: messages from the
// recorder go through the registry's dispatch, and the viewer's answers are
// read back from the message buffer they are built in. Hostile offsets,
// lengths and sizes; the read chain; the upload, its checksum, its end by
// the recorder, by a dropped link and by a time-out.
#include "control/TavlinImpl1.h"
#include "control/Title.h"
#include "link/Bytes.h"
#include "link/Hooks.h"
#include "link/Conn.h"
#include "link/Msg.h"
#include "link/Ring.h"
#include "link/Tavn.h"
#include "platform/vcl/Dialogs.h"
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

const uint32_t kSession = 0x4D2;

uint32_t U32(const uint8_t* p) { return GetU32(p); }
void Put(std::vector<uint8_t>& v, size_t at, uint32_t x) { PutU32(v.data() + at, x); }

// A whole VDTT message as the recorder sends it: {mode, op, section}, the
// body head {offset, length, checksum} and data bytes.
std::vector<uint8_t> Message(uint32_t mode, uint32_t op, uint32_t section, uint32_t offset, uint32_t length,
                             const std::vector<uint8_t>& data, int checksumDelta = 0, size_t sumOver = ~(size_t)0)
{
    if (sumOver > data.size()) sumOver = data.size();
    std::vector<uint8_t> m(96 + data.size(), 0);
    Put(m, 0, (uint32_t)m.size());
    memcpy(m.data() + 4, "VDTT", 4);
    Put(m, 32, kSession);
    Put(m, 36, mode);
    Put(m, 40, op);
    Put(m, 44, section);
    Put(m, 64, offset);
    Put(m, 68, length);
    Put(m, 72, Checksum_Bytes(data.data(), (uint32_t)sumOver) + (uint32_t)checksumDelta);
    if (!data.empty()) memcpy(m.data() + 96, data.data(), data.size());
    Put(m, 8, Checksum_Message(m.data() + 32, (uint32_t)m.size() - 32));
    return m;
}

// The viewer's answer, taken from the send ring.
struct Sent {
    uint32_t total = 0, mode = 0, op = 0, section = 0, offset = 0, length = 0, checksum = 0;
    std::vector<uint8_t> data;
    bool ok = false;
};

std::vector<Sent> Drain()
{
    std::vector<Sent> out;
    TConnection* c = &gConnections[0];
    TRingDesc* r = c->sendRing;
    while (Ring_Used(r->writeIndex, r->readIndex, r->size) >= 32) {
        uint8_t head[32];
        uint32_t w = r->writeIndex, rd = r->readIndex;
        Ring_Read(r->data, head, 32, &w, &rd, r->size);
        uint32_t total = U32(head);
        std::vector<uint8_t> m(total);
        Ring_Read(r->data, m.data(), total, &r->writeIndex, &r->readIndex, r->size);
        Sent s;
        s.total = total;
        s.ok = memcmp(m.data() + 4, "VDTT", 4) == 0 && U32(m.data() + 8) == Checksum_Message(m.data() + 32, total - 32);
        s.mode = U32(m.data() + 36);
        s.op = U32(m.data() + 40);
        s.section = U32(m.data() + 44);
        if (total >= 96) {
            s.offset = U32(m.data() + 64);
            s.length = U32(m.data() + 68);
            s.checksum = U32(m.data() + 72);
            s.data.assign(m.begin() + 96, m.end());
        }
        out.push_back(s);
    }
    c->lengthRead = c->lengthWrite;
    return out;
}

void Deliver(const std::vector<uint8_t>& m) { Msg_DispatchReceived(kSession, m.data(), (uint32_t)m.size()); }

class Vdtt : public ::testing::Test {
protected:
    void SetUp() override
    {
        gHandshakeRecords[0].machine.channelCount = 16;
        TConnection* c = &gConnections[0];
        Conn_ResetSendRing(0);
        c->session = kSession;
        c->linkState = LINK_LOGGED_IN;
        State()->busy = 0;
        State()->requestFlag = 0;
        Title_EnableEdits(1);
        Drain();
    }
    void TearDown() override
    {
        gConnections[0].session = 0;
        gConnections[0].linkState = LINK_IDLE;
    }
    static TTitleState* State() { return &gTitleStates[0]; }
    static uint8_t* Settings() { return (uint8_t*)&gTitleSettings[0]; }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed)
{
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; i++) v[i] = (uint8_t)(seed + i * 7);
    return v;
}

TEST_F(Vdtt, ChunkRequestsAreClampedToTheirSection)
{
    struct {
        uint32_t section, offset, length, sent;
    } cases[] = {
        {16, 0, 1152, 1152},        {16, 1100, 1152, 60},  {16, 1160, 8, 0},    {16, 0xFFFFFFF0u, 0x20, 0},
        {16, 0, 0xFFFFFFFFu, 1152}, {1, 50000, 5000, 176}, {4, 12543, 1152, 1}, {4, 0x7FFFFFFFu, 0x7FFFFFFFu, 0},
        {99, 1000, 1152, 160},
    };
    for (auto c : cases) {
        Deliver(Message(1, 0, c.section, c.offset, c.length, {}));
        std::vector<Sent> sent = Drain();
        ASSERT_EQ(sent.size(), 1u) << c.section << " " << c.offset;
        const Sent& s = sent[0];
        EXPECT_TRUE(s.ok);
        EXPECT_EQ(s.op, 1u);
        EXPECT_EQ(s.mode, 0u);
        EXPECT_EQ(s.section, c.section);
        EXPECT_EQ(s.total, 96 + c.sent) << c.section << " " << c.offset;
        EXPECT_EQ(s.length, c.sent);
        EXPECT_LE(s.total, 1280u);
        if (c.sent == 0) continue;
        uint32_t size = 0, next = 0;
        const uint8_t* block = Title_SectionBlock(State(), c.section, &size, &next);
        EXPECT_EQ(s.offset, c.offset);
        EXPECT_EQ(s.checksum, Checksum_Bytes(s.data.data(), c.sent));
        EXPECT_EQ(memcmp(s.data.data(), block + c.offset, c.sent), 0);
    }
}

TEST_F(Vdtt, HostileDataChunksWriteOnlyInsideTheirBlock)
{
    struct Case {
        uint32_t section, offset, length;
        size_t bytes;   // data bytes the message really carries
        int badSum;     // added to the checksum
        size_t sumOver; // data bytes the checksum covers
        uint32_t storedAt, stored;
        uint32_t nextSection, nextOffset, nextLength;
    } cases[] = {
        {3, 0, 1152, 1152, 0, ~(size_t)0, 0, 1152, 3, 1152, 1152},
        {3, 20000, 1152, 1152, 0, 736, 20000, 736, 4, 0, 1152},        // the end of the set
        {3, 20736, 1152, 1152, 0, ~(size_t)0, 0, 0, 4, 0, 1152},       // at the end: nothing
        {3, 0xFFFFFF00u, 0x200, 512, 0, ~(size_t)0, 0, 0, 4, 0, 1152}, // far past the end
        {3, 100, 1152, 100, 0, ~(size_t)0, 0, 0, 3, 1252, 1152},       // claims more than it holds
        {3, 100, 5000, 1152, 0, ~(size_t)0, 0, 0, 3, 1252, 1152},      // more than a chunk or its message
        {3, 100, 64, 64, 1, ~(size_t)0, 0, 0, 3, 164, 1152},           // wrong checksum
        {4, 12500, 64, 64, 0, 44, 12500, 44, 0, 0, 1152},              // end of the chain
    };
    for (const Case& c : cases) {
        uint32_t size = 0, next = 0;
        uint8_t* block = Title_SectionBlock(State(), c.section, &size, &next);
        std::vector<uint8_t> was(block, block + size);
        std::vector<uint8_t> data = Pattern(c.bytes, (uint8_t)c.offset);
        Deliver(Message(0, 1, c.section, c.offset, c.length, data, c.badSum, c.sumOver));
        std::vector<uint8_t> now(block, block + size);
        for (uint32_t i = 0; i < size; i++) {
            bool inside = i >= c.storedAt && i < c.storedAt + c.stored;
            ASSERT_EQ(now[i], inside ? data[i - c.storedAt] : was[i]) << c.section << " " << c.offset << " at " << i;
        }
        std::vector<Sent> sent = Drain();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].op, 0u);
        EXPECT_EQ(sent[0].mode, 1u);
        EXPECT_EQ(sent[0].section, c.nextSection) << c.offset;
        EXPECT_EQ(sent[0].offset, c.nextOffset) << c.offset;
        EXPECT_EQ(sent[0].length, c.nextLength) << c.offset;
        EXPECT_EQ(sent[0].total, 96u);
    }
}

TEST_F(Vdtt, AChunkedReadShowsTheSettingsAfterItsLastChunk)
{
    Title_FillEdits();
    std::vector<uint8_t> block(Settings(), Settings() + TITLE_SETTINGS_SIZE);
    memset(block.data() + 4, 0, 16 * 64);
    strcpy((char*)block.data() + 4 + 64, "Garage");
    Put(block, 1132, 70);
    Put(block, 1136, 0);
    Deliver(Message(0, 1, 17, 0, 1152, std::vector<uint8_t>(block.begin(), block.begin() + 1152)));
    std::vector<Sent> sent = Drain();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].section, 17u);
    EXPECT_EQ(sent[0].offset, 1152u);
    EXPECT_EQ(sent[0].length, 8u);
    EXPECT_EQ(gViewerForm->LabeledEdit_Title2->Text(), "");
    Deliver(Message(0, 1, 17, 1152, 8, std::vector<uint8_t>(block.begin() + 1152, block.end())));
    sent = Drain();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].section, 0u); // the chain ends
    EXPECT_EQ(gViewerForm->LabeledEdit_Title2->Text(), "Garage");
    EXPECT_EQ(gViewerForm->Edit_TFS->Text(), "70");
    EXPECT_EQ(gTitleSettings[0].sizePercent, 70);
}

TEST_F(Vdtt, AWholeSettingsBlockIsTakenOnlyWhenSoundAndWithinItsMessage)
{
    std::vector<uint8_t> block(Settings(), Settings() + TITLE_SETTINGS_SIZE);
    memset(block.data() + 4, 0, 16 * 64);
    strcpy((char*)block.data() + 4 + 2 * 64, "Dock");
    Title_FillEdits();
    // Longer than a settings block: ignored.
    std::vector<uint8_t> longer = block;
    longer.resize(2000, 0x41);
    Deliver(Message(1, 1, 17, 0, 2000, longer));
    EXPECT_EQ(gViewerForm->LabeledEdit_Title3->Text(), "");
    // Claims more than its message holds: ignored.
    std::vector<uint8_t> shorter(block.begin(), block.begin() + 600);
    Deliver(Message(1, 1, 17, 0, 1160, shorter));
    EXPECT_EQ(gViewerForm->LabeledEdit_Title3->Text(), "");
    // A wrong checksum: ignored.
    Deliver(Message(1, 1, 17, 0, 1160, block, 1));
    EXPECT_EQ(gViewerForm->LabeledEdit_Title3->Text(), "");
    Deliver(Message(1, 1, 17, 0, 1160, block));
    EXPECT_EQ(gViewerForm->LabeledEdit_Title3->Text(), "Dock");
    EXPECT_TRUE(Drain().empty());
}

TEST_F(Vdtt, AMessageLargerThanTheBufferIsDropped)
{
    std::vector<uint8_t> data(TITLE_BUFFER_SIZE, 0x33);
    Deliver(Message(0, 1, 16, 0, 1152, data));
    EXPECT_TRUE(Drain().empty());
    // Heads cut short: nothing answered.
    std::vector<uint8_t> m = Message(1, 0, 16, 0, 1152, {});
    m.resize(60);
    Put(m, 0, 60);
    Put(m, 8, Checksum_Message(m.data() + 32, 28));
    Deliver(m);
    EXPECT_TRUE(Drain().empty());
}

TEST_F(Vdtt, TheRecordersFirstRequestGetsTheWholeSettingsBlock)
{
    Deliver(Message(0, 0, 17, 0, 1152, {}));
    std::vector<Sent> sent = Drain();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].op, 1u);
    EXPECT_EQ(sent[0].mode, 1u);
    EXPECT_EQ(sent[0].total, 96u + 1160u);
    EXPECT_EQ(sent[0].length, 1160u);
    EXPECT_EQ(sent[0].data, std::vector<uint8_t>(Settings(), Settings() + TITLE_SETTINGS_SIZE));
}

TEST_F(Vdtt, AnUploadRendersFirstSendsEveryChunkAndEndsAtSectionZero)
{
    // Typed but not yet rendered: the upload renders before its checksum.
    Title_SetText(State(), "Gate", 6);
    memset(State()->bitmap[0][6], 0, kTitleSizes[0].titleBytes);
    gViewerForm->PageControl1->SetActivePageIndex(5);
    Title_StartUpload(0);
    EXPECT_EQ(State()->changed[6], 0u);
    bool ink = false;
    for (uint32_t i = 0; i < kTitleSizes[0].titleBytes; i++) ink |= State()->bitmap[0][6][i] != 0;
    EXPECT_TRUE(ink);
    EXPECT_EQ(State()->busy, 1u);
    EXPECT_FALSE(gViewerForm->Button_Title1->Enabled());
    EXPECT_FALSE(gViewerForm->LabeledEdit_Title1->Enabled());
    EXPECT_EQ(State()->uploadTotal, 115592u);

    // The checksum is the blocks' byte sums with its own word taken as 0.
    std::vector<uint8_t> all(Settings(), Settings() + TITLE_SETTINGS_SIZE);
    for (uint32_t s = 0; s < TITLE_SIZES; s++)
        all.insert(all.end(), State()->bitmap[s][0], State()->bitmap[s][0] + kTitleSizes[s].setBytes);
    uint32_t want = U32(all.data() + 1144);
    Put(all, 1144, 0);
    uint32_t sum = Checksum_Bytes(all.data(), 1160);
    for (uint32_t s = 0, at = 1160; s < TITLE_SIZES; at += kTitleSizes[s].setBytes, s++)
        sum += Checksum_Bytes(all.data() + at, kTitleSizes[s].setBytes);
    EXPECT_EQ(want, sum);
    Put(all, 1144, want);

    // The poll step sends the first chunk; then the recorder asks for each.
    ASSERT_EQ(Title_TakeRequestFlag(State()), 2u);
    Title_SendRequest(kSession, 0, 1, 16, 0, 1152);
    std::vector<uint8_t> got;
    std::vector<Sent> sent = Drain();
    const uint32_t sections[5] = {16, 1, 2, 3, 4};
    for (uint32_t i = 0; i < 5; i++) {
        uint32_t size = i == 0 ? 1160 : kTitleSizes[i - 1].setBytes;
        for (uint32_t offset = 0; offset < size; offset += 1152) {
            if (!(i == 0 && offset == 0)) {
                Deliver(Message(1, 0, sections[i], offset, 1152, {}));
                sent = Drain();
            }
            ASSERT_EQ(sent.size(), 1u);
            ASSERT_EQ(sent[0].section, sections[i]);
            ASSERT_EQ(sent[0].offset, offset);
            ASSERT_EQ(sent[0].checksum, Checksum_Bytes(sent[0].data.data(), (uint32_t)sent[0].data.size()));
            got.insert(got.end(), sent[0].data.begin(), sent[0].data.end());
        }
    }
    EXPECT_EQ(got, all);
    EXPECT_EQ(Title_UpdateProgress(), 100u);
    EXPECT_EQ(State()->busy, 1u);
    Deliver(Message(1, 0, 0, 0, 0, {}));
    EXPECT_EQ(State()->busy, 0u);
    EXPECT_TRUE(gViewerForm->Button_Title1->Enabled());
    EXPECT_TRUE(gViewerForm->LabeledEdit_Title1->Enabled());
    EXPECT_EQ(gViewerForm->ProgressBar_title->Position(), 100);
    gViewerForm->PageControl1->SetActivePageIndex(0);
}

TEST_F(Vdtt, AnUploadEndsWhenTheLinkDropsOrTheRecorderFallsSilent)
{
    for (int way = 0; way < 3; way++) {
        Title_StartUpload(0);
        ASSERT_EQ(State()->busy, 1u);
        Title_CheckUpload(State());
        ASSERT_EQ(State()->busy, 1u) << way;                                              // still running
        if (way == 0) gConnections[0].session = 0, gConnections[0].linkState = LINK_IDLE; // disconnect
        if (way == 1) gConnections[0].session = kSession + 1;                             // a new session
        if (way == 2) State()->uploadStamp = Stopwatch_Now() - TITLE_UPLOAD_TIMEOUT - 1;  // silence
        Title_CheckUpload(State());
        EXPECT_EQ(State()->busy, 0u) << way;
        EXPECT_EQ(State()->requestFlag, 0u) << way;
        EXPECT_TRUE(gViewerForm->Button_Title1->Enabled()) << way;
        gConnections[0].session = kSession;
        gConnections[0].linkState = LINK_LOGGED_IN;
    }
}

// An upload cut short leaves the recorder with part of the titles: the
// user is told why, and the bar goes back to its start and stays there;
// an upload the recorder ends says nothing.
TEST_F(Vdtt, AnUploadCutShortSaysSoAndResetsTheBar)
{
    std::vector<std::string> said;
    Vcl_SetDialogHook([&](TVclDialogRequest& r) {
        if (r.Kind == vdkMessageBox) said.push_back(r.Text);
        return (int)IDOK;
    });
    gViewerForm->PageControl1->SetActivePageIndex(5);
    const struct {
        int way; // 0 the link drops, 1 a new session, 2 the recorder falls silent, 3 it ends the upload
        const char* says;
    } cases[] = {{0, "link to the recorder dropped"},
                 {1, "link to the recorder dropped"},
                 {2, "stopped asking for them for 15 seconds"},
                 {3, nullptr}};
    for (const auto& c : cases) {
        said.clear();
        Title_StartUpload(0);
        Title_TakeRequestFlag(State());
        Title_SendRequest(kSession, 0, 1, 16, 0, 1152);
        for (uint32_t offset = 0; offset < 50176; offset += 1152) Deliver(Message(1, 0, 1, offset, 1152, {}));
        Drain();
        ASSERT_GT(Title_UpdateProgress(), 40u) << c.way;
        ASSERT_GT(gViewerForm->ProgressBar_title->Position(), 40) << c.way;
        if (c.way == 0) gConnections[0].session = 0, gConnections[0].linkState = LINK_IDLE;
        if (c.way == 1) gConnections[0].session = kSession + 1;
        if (c.way == 2) State()->uploadStamp = Stopwatch_Now() - TITLE_UPLOAD_TIMEOUT - 1;
        if (c.way == 3) Deliver(Message(1, 0, 0, 0, 0, {}));
        Title_TimerStep(0, 0);
        Title_TimerStep(0, 0);
        EXPECT_EQ(State()->busy, 0u) << c.way;
        if (c.says) {
            ASSERT_EQ(said.size(), 1u) << c.way;
            EXPECT_NE(said[0].find(c.says), std::string::npos) << said[0];
            EXPECT_NE(said[0].find("not uploaded"), std::string::npos) << said[0];
            EXPECT_EQ(gViewerForm->ProgressBar_title->Position(), 0) << c.way;
            EXPECT_EQ(Title_UpdateProgress(), 0u) << c.way;
        } else {
            EXPECT_TRUE(said.empty()) << said[0];
            EXPECT_EQ(gViewerForm->ProgressBar_title->Position(), 100);
        }
        EXPECT_TRUE(gViewerForm->Button_Title1->Enabled()) << c.way;
        gConnections[0].session = kSession;
        gConnections[0].linkState = LINK_LOGGED_IN;
    }
    Vcl_SetDialogHook(nullptr);
    gViewerForm->PageControl1->SetActivePageIndex(0);
}

TEST_F(Vdtt, EnteringTheTabAsksForTheTitlesUnlessAnUploadRuns)
{
    gViewerForm->LabeledEdit_Title1->SetText("kept");
    State()->busy = 1;
    Title_TabEntered(0);
    EXPECT_EQ(State()->requestFlag, 0u);
    EXPECT_EQ(gViewerForm->LabeledEdit_Title1->Text(), "kept");
    State()->busy = 0;
    Title_TabEntered(0);
    EXPECT_EQ(State()->requestFlag, 1u);
    EXPECT_EQ(gViewerForm->LabeledEdit_Title1->Text(), "");
    EXPECT_STREQ(gTitleSettings[0].titles[0], "");
}

TEST_F(Vdtt, TheTabAndTheEditsFollowTheMachineRecordAndProgressShowsOnTheTab)
{
    Title_ShowTab(0);
    EXPECT_FALSE(gViewerForm->TabSheet6->TabVisible());
    Title_ShowTab(1);
    EXPECT_TRUE(gViewerForm->TabSheet6->TabVisible());
    struct {
        uint32_t count, shown;
    } cases[] = {{4, 4}, {8, 8}, {16, 16}, {40, 16}, {0, 0}};
    TLabeledEdit* edits[] = {gViewerForm->LabeledEdit_Title1, gViewerForm->LabeledEdit_Title4,
                             gViewerForm->LabeledEdit_Title5, gViewerForm->LabeledEdit_Title9,
                             gViewerForm->LabeledEdit_Title16};
    const uint32_t channels[] = {0, 3, 4, 8, 15};
    for (auto c : cases) {
        Title_ShowEdits(c.count);
        for (int i = 0; i < 5; i++) EXPECT_EQ(edits[i]->Visible(), channels[i] < c.shown) << c.count << " " << i;
    }
    Title_ShowEdits(16);
    // Progress shows only while the Title tab is the page shown.
    State()->uploadTotal = 115592;
    State()->uploadedBytes = 57796;
    gViewerForm->ProgressBar_title->SetPosition(0);
    gViewerForm->PageControl1->SetActivePageIndex(1);
    EXPECT_EQ(Title_UpdateProgress(), 0u);
    EXPECT_EQ(gViewerForm->ProgressBar_title->Position(), 0);
    gViewerForm->PageControl1->SetActivePageIndex(5);
    EXPECT_EQ(Title_UpdateProgress(), 50u);
    EXPECT_EQ(gViewerForm->ProgressBar_title->Position(), 50);
    gViewerForm->PageControl1->SetActivePageIndex(0);
}

} // namespace
