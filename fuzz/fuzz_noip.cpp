// The No-IP service's replies as the account form reads them: the reply
// grows as its pieces arrive and its state is read after each (more to
// come, whole, or not a reply; a whole chunked body is joined), then the
// whole reply is handed over for the step it answers (account, user-name check, sign-in, account information,
// domain list, new host), which fills the form and the client's tables.
//
// Input: one setup byte, then the reply's bytes.
//   setup bits 0-2 the step, bit 3 the server closed the connection after
//         the reply, bits 4-7 the size of the arriving pieces.
#include "fuzz/FuzzRig.h"
#include "ddns/Noip.h"
#include "ddns/Unit5.h"
#include "platform/vcl/StdCtrls.h"
#include "platform/vcl/Vcl.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what, size_t n, int state)
{
    fprintf(stderr, "Noip_ReplyState: %s (%zu bytes, state %d)\n", what, n, state);
    abort();
}

// The state of the first n bytes, read from a copy of just those bytes; a
// whole chunked body is joined too, into a buffer just its size.
int StateOf(const uint8_t* reply, size_t n, int closed)
{
    std::vector<char> copy(reply, reply + n);
    int status = -1, chunked = -1;
    size_t bodyStart = (size_t)-1, bodyLength = (size_t)-1;
    int state = Noip_ReplyState(copy.data(), n, closed, &status, &bodyStart, &bodyLength, &chunked);
    if (state < -1 || state > 1) Fail("no such state", n, state);
    if (chunked != 0 && chunked != 1) Fail("chunked neither set nor cleared", n, state);
    if (state == 1) {
        if (status < 0 || status > 999) Fail("status out of range", n, state);
        if (bodyStart > n || bodyLength > n - bodyStart) Fail("body beyond the reply", n, state);
        if (chunked) {
            std::vector<char> body(copy.begin() + (long)bodyStart, copy.begin() + (long)(bodyStart + bodyLength));
            std::vector<char> joined(bodyLength);
            if (Noip_Dechunk(body.data(), bodyLength, joined.data()) > bodyLength)
                Fail("chunks longer than their body", n, state);
        }
    } else if (chunked) {
        Fail("chunked set for a reply that is not whole", n, state);
    }
    return state;
}

void ResetForm(TForm_noip_setting* f)
{
    for (TCustomEdit* e : {(TCustomEdit*)f->Username, (TCustomEdit*)f->email, (TCustomEdit*)f->password,
                           (TCustomEdit*)f->cpassword, (TCustomEdit*)f->firstname, (TCustomEdit*)f->lastname,
                           (TCustomEdit*)f->postal_code, (TCustomEdit*)f->Edit_host, (TCustomEdit*)f->Edit_ip})
        e->SetText("");
    f->ComboBox1->Items()->Clear();
    for (TLabel* l : {f->info_username, f->info_email, f->info_firstname, f->info_lastname, f->info_postalcode,
                      f->info_host, f->info_ip})
        l->SetCaption("");
    f->Panel2->SetVisible(true);
    f->Panel3->SetVisible(false);
    f->Panel4->SetVisible(false);
    f->Create->SetEnabled(false);
    f->CheckUas->SetEnabled(false);
    f->Button2->SetEnabled(true);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    Rig_Start();
    Noip_Reset();
    Noip_ShowAccountForm();
    // The replies come from the target, not from the form's polling.
    Form_noip_setting->Timer3->SetEnabled(false);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    uint8_t setup = data[0];
    int step = setup & 7;
    int closed = (setup >> 3) & 1;
    const uint8_t* reply = data + 1;
    size_t n = size - 1;
    Noip_Reset();
    ResetForm(Form_noip_setting);
    gNoipStep = step;

    // The pieces as they arrive: at most 64 reads of the growing reply.
    size_t piece = 1 + (size_t)(setup >> 4) * 61;
    if (piece < n / 64) piece = n / 64;
    int state = 0;
    for (size_t have = piece < n ? piece : n; have > 0; have = have + piece < n ? have + piece : n) {
        state = StateOf(reply, have, 0);
        if (state != 0 || have == n) break;
    }
    // A reply that is whole stays whole once the server closes.
    if (state == 1 && n > 0 && StateOf(reply, n, 1) != 1) Fail("whole reply not whole when closed", n, state);
    if (n > 0) StateOf(reply, n, closed);

    std::vector<char> copy(reply, reply + n);
    Noip_ParseResponse(copy.data(), n, closed, step);
    // Without a message loop the form's repaints would pile up.
    Application_DeliverPosted();
    return 0;
}
