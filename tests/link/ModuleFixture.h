// Test stand-ins for the handshake, command and named-variable modules:
// the three modules registered on the fake link, builders of their
// messages written from the wire format, the messages they queued, and a
// dialog hook that records message boxes.
#pragma once
#include "LinkFixture.h"
#include "control/View.h"
#include "link/Hooks.h"
#include "link/Icmd.h"
#include "link/Ictl.h"
#include "link/Tavn.h"
#include "platform/vcl/Dialogs.h"

// A module message: header, sub-header words (zero-filled to 32 bytes),
// body; the checksum follows the wire rule for the message's size.
inline Bytes WireMessage(const char* code, std::vector<uint32_t> words, const Bytes& body = {})
{
    Bytes m(64, 0);
    memcpy(&m[4], code, 4);
    for (size_t i = 0; i < words.size() && i < 8; ++i) PutU32(m, 32 + 4 * i, words[i]);
    m.insert(m.end(), body.begin(), body.end());
    PutU32(m, 0, (uint32_t)m.size());
    size_t covered = m.size() - 32;
    PutU32(m, 8, covered <= 1024 ? RefByteSum(m.data() + 32, covered) : RefSparse(m.data() + 32, covered));
    return m;
}

// An ICTL sub-type 0 body: u32 announced size + 256, the name, the value.
inline Bytes VariableBody(const std::string& name, const Bytes& value, uint32_t announced)
{
    Bytes b(256, 0);
    PutU32(b, 0, announced + 256);
    memcpy(&b[4], name.data(), std::min<size_t>(name.size(), 252));
    b.insert(b.end(), value.begin(), value.end());
    return b;
}

inline Bytes VariableBody(const std::string& name, const Bytes& value)
{
    return VariableBody(name, value, (uint32_t)value.size());
}

inline Bytes U32Bytes(uint32_t v)
{
    Bytes b(4, 0);
    PutU32(b, 0, v);
    return b;
}

class ModuleTest : public LinkTest {
protected:
    std::vector<TVclDialogRequest> boxes;

    void SetUp() override
    {
        LinkTest::SetUp();
        gUpnpWord = 0;
        Handshake_Init();
        Icmd_Init();
        Ictl_Init();
        Ictl_RegisterTavnVariables();
        Viewer_ShowUpnpTab(0);
        Vcl_SetDialogHook([this](TVclDialogRequest& r) {
            boxes.push_back(r);
            return IDOK;
        });
        C(0)->session = 0x1111;
        C(0)->linkState = LINK_LOGGED_IN;
        strcpy(C(0)->host, "10.1.2.3");
        C(0)->port = 8080;
    }

    void TearDown() override
    {
        Vcl_SetDialogHook(nullptr);
        LinkTest::TearDown();
    }

    void Deliver(uint32_t session, const Bytes& payload)
    {
        Msg_DispatchReceived(session, payload.data(), (uint32_t)payload.size());
    }

    // The messages queued in record ci's send ring, oldest first; the ring
    // is left empty.
    std::vector<Bytes> Queued(uint32_t ci)
    {
        TRingDesc* ring = C(ci)->sendRing;
        std::vector<Bytes> out;
        uint32_t used = Ring_Used(ring->writeIndex, ring->readIndex, ring->size);
        Bytes all(used);
        if (used) {
            EXPECT_EQ(Ring_Read(ring->data, all.data(), used, &ring->writeIndex, &ring->readIndex, ring->size), 0);
        }
        C(ci)->lengthRead = C(ci)->lengthWrite;
        for (size_t at = 0; at + 4 <= all.size();) {
            uint32_t len = GetU32(all, at);
            if (len < 32 || at + len > all.size()) {
                ADD_FAILURE() << "broken queue at " << at;
                break;
            }
            out.emplace_back(all.begin() + at, all.begin() + at + len);
            at += len;
        }
        return out;
    }

    // True when the message's checksum is right for its size.
    static bool ChecksumHolds(const Bytes& m)
    {
        size_t covered = m.size() - 32;
        uint32_t sum = covered <= 1024 ? RefByteSum(m.data() + 32, covered) : RefSparse(m.data() + 32, covered);
        return GetU32(m, 8) == sum && GetU32(m, 0) == m.size();
    }

    size_t SuccessBoxes() const
    {
        size_t n = 0;
        for (const TVclDialogRequest& r : boxes) {
            EXPECT_EQ(r.Text, "Setup Successful.");
            EXPECT_EQ(r.Caption, "Setup Information");
            EXPECT_EQ(r.Flags, MB_OK);
            ++n;
        }
        return n;
    }
};
