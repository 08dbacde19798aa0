// The No-IP account form: its enabling rules, local checks, buttons and
// the polling timer. The requests and the replies are the client's
// (Noip.cpp).
#include "ddns/Unit5.h"
#include "ddns/Hooks.h"
#include "ddns/Noip.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/FormLoader.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

VCL_DECLARE_EMBEDDED_TEXT(gUnit5Form);

TForm_noip_setting* Form_noip_setting = nullptr;

namespace {
// Pixels of the two small bitmaps; the bottom-left pixel's colour is the
// transparent one.
const uint32_t kClear = 0x00ff00ff;

// The bar of the three stages: a grey rail with a dot under each of the
// arrow's three places (Image2 at 280, 470 and 660, Image1 at 280).
void DrawStageBar(TBitmap* b)
{
    b->SetPixelFormat(pf32bit);
    b->SetSize(401, 17);
    for (int y = 0; y < 17; y++) {
        uint32_t* row = static_cast<uint32_t*>(b->ScanLine(y));
        for (int x = 0; x < 401; x++) {
            uint32_t c = kClear;
            if (y >= 7 && y <= 9 && x >= 8 && x <= 392) c = 0x00a0a0a0;
            for (int centre : {8, 198, 388}) {
                int dx = x - centre, dy = y - 8;
                if (dx * dx + dy * dy <= 25) c = 0x00406080;
            }
            row[x] = c;
        }
    }
}

// The arrow: an orange triangle pointing down at the current stage's dot.
void DrawArrow(TBitmap* b)
{
    b->SetPixelFormat(pf32bit);
    b->SetSize(16, 16);
    for (int y = 0; y < 16; y++) {
        uint32_t* row = static_cast<uint32_t*>(b->ScanLine(y));
        for (int x = 0; x < 16; x++) {
            int half = (14 - y) / 2; // the triangle narrows downwards
            bool in = y < 14 && x >= 8 - half - 1 && x <= 7 + half + 1;
            row[x] = in ? 0x00f08020 : kClear;
        }
    }
}

bool NonEmpty(TCustomEdit* e) { return !e->Text().empty(); }
} // namespace

TForm_noip_setting::TForm_noip_setting(TComponent* AOwner) : TForm(AOwner)
{
    TFormBinder b("TForm_noip_setting");
    b.Field("Panel1", Panel1);
    b.Field("Image1", Image1);
    b.Field("Image2", Image2);
    b.Field("Image3", Image3);
    b.Field("Label1", Label1);
    b.Field("Label3", Label3);
    b.Field("Label12", Label12);
    b.Field("Panel3", Panel3);
    b.Field("GroupBox2", GroupBox2);
    b.Field("Edit_host", Edit_host);
    b.Field("ComboBox1", ComboBox1);
    b.Field("Edit_ip", Edit_ip);
    b.Field("Button2", Button2);
    b.Field("Panel2", Panel2);
    b.Field("StaticText1", StaticText1);
    b.Field("GroupBox1", GroupBox1);
    b.Field("Username", Username);
    b.Field("CheckUas", CheckUas);
    b.Field("email", email);
    b.Field("password", password);
    b.Field("cpassword", cpassword);
    b.Field("firstname", firstname);
    b.Field("lastname", lastname);
    b.Field("postal_code", postal_code);
    b.Field("CheckBox1", CheckBox1);
    b.Field("Label_TOS", Label_TOS);
    b.Field("Create", Create);
    b.Field("Button1", Button1);
    b.Field("Panel4", Panel4);
    b.Field("info_username", info_username);
    b.Field("info_email", info_email);
    b.Field("info_firstname", info_firstname);
    b.Field("info_lastname", info_lastname);
    b.Field("info_postalcode", info_postalcode);
    b.Field("info_host", info_host);
    b.Field("info_ip", info_ip);
    b.Field("Button3", Button3);
    b.Field("Timer3", Timer3);
    b.Handler("CreateClick", this, &TForm_noip_setting::CreateClick);
    b.Handler("CheckUasClick", this, &TForm_noip_setting::CheckUasClick);
    b.Handler("Button1Click", this, &TForm_noip_setting::Button1Click);
    b.Handler("Button2Click", this, &TForm_noip_setting::Button2Click);
    b.Handler("Button3Click", this, &TForm_noip_setting::Button3Click);
    b.Handler("EditChange", this, &TForm_noip_setting::EditChange);
    b.Handler("CheckBox1Click", this, &TForm_noip_setting::CheckBox1Click);
    b.Handler("Label_TOSClick", this, &TForm_noip_setting::Label_TOSClick);
    b.Handler("Image3Click", this, &TForm_noip_setting::Image3Click);
    b.Handler("Timer3Timer", this, &TForm_noip_setting::Timer3Timer);
    b.Handler("FormClose", this, &TForm_noip_setting::FormClose);
    b.Handler("FormDestroy", this, &TForm_noip_setting::FormDestroy);
    Vcl_ReadForm(this, gUnit5Form, gUnit5Form_size, b, "Unit5.form");

    DrawStageBar(Image1->Picture()->Bitmap());
    DrawArrow(Image2->Picture()->Bitmap());
    // The banner decodes through the JPEG picture class; a banner that
    // cannot be read leaves the picture empty rather than the form unmade.
    TJPEGImage* banner = new TJPEGImage;
    try {
        banner->LoadFromData(gNoipBannerJpeg, gNoipBannerJpeg_size);
        Image3->Picture()->SetGraphic(banner);
    } catch (const EInvalidGraphic&) {
        delete banner;
    }
}

TForm_noip_setting::~TForm_noip_setting()
{
    DoDestroy();
    if (Form_noip_setting == this) Form_noip_setting = nullptr;
}

void Noip_ShowAccountForm()
{
    if (!Form_noip_setting) Form_noip_setting = Vcl_CreateForm<TForm_noip_setting>(nullptr);
    TForm_noip_setting* f = Form_noip_setting;
    f->Show();
    f->Panel2->SetVisible(true);
    f->Panel3->SetVisible(false);
    // After a finished wizard the account stage shows again, not the
    // finish stage of the last account.
    f->Panel4->SetVisible(false);
    f->Create->SetEnabled(false);
    f->CheckUas->SetEnabled(false);
    f->Image2->SetLeft(280);
    // Closing the form stopped the polling; opening it starts it again.
    f->Timer3->SetEnabled(true);
}

void TForm_noip_setting::EditChange(TObject*)
{
    if (Panel2->Visible()) {
        if (NonEmpty(Username)) {
            CheckUas->SetEnabled(true);
            Create->SetEnabled(NonEmpty(email) && NonEmpty(password) && NonEmpty(cpassword) && NonEmpty(firstname) &&
                               NonEmpty(lastname) && NonEmpty(postal_code) && CheckBox1->Checked());
        } else {
            CheckUas->SetEnabled(false);
            Create->SetEnabled(false);
        }
    } else if (Panel3->Visible()) {
        Button2->SetEnabled(NonEmpty(Edit_host) && NonEmpty(Edit_ip));
    }
}

void TForm_noip_setting::CheckBox1Click(TObject*)
{
    Create->SetEnabled(NonEmpty(Username) && NonEmpty(email) && NonEmpty(password) && NonEmpty(cpassword) &&
                       NonEmpty(firstname) && NonEmpty(lastname) && NonEmpty(postal_code) && CheckBox1->Checked());
}

void TForm_noip_setting::CheckUasClick(TObject*)
{
    if (Username->Text().size() < 4) {
        Application_MessageBox("invalid username: 4-16 characters, only letters and numbers", "ERROR", 0);
        return;
    }
    gNoipStep = NOIP_STEP_CHECK;
    Noip_Connect(0);
}

void TForm_noip_setting::CreateClick(TObject*)
{
    if (password->Text() != cpassword->Text()) {
        Application_MessageBox("This password doesn't match the confirmation password.", "ERROR", 0);
        return;
    }
    gNoipStep = NOIP_STEP_CREATE;
    Noip_Connect(0);
}

void TForm_noip_setting::Button1Click(TObject*)
{
    gNoipStep = NOIP_STEP_SIGNIN;
    Noip_Connect(0);
}

void TForm_noip_setting::Button2Click(TObject*)
{
    gNoipStep = NOIP_STEP_ADD_HOST;
    Noip_Connect(0);
}

void TForm_noip_setting::Button3Click(TObject*)
{
    // What the DDNS item cannot hold would reach the recorder blank:
    // refuse it and leave the form open.
    if (strlen(gNoipSavedUser) > NOIP_DDNS_USER_MAX || strlen(gNoipSavedPassword) > NOIP_DDNS_PASSWORD_MAX ||
        strlen(gNoipHostName) > NOIP_DDNS_HOST_MAX) {
        char text[128];
        snprintf(text, sizeof text, "the account does not fit the DDNS settings (host name at most %d characters)",
                 (int)NOIP_DDNS_HOST_MAX);
        Application_MessageBox(text, "ERROR", 0);
        return;
    }
    Timer3->SetEnabled(false);
    Close();
    Ddns_ApplyAccount(gNoipSavedUser, gNoipSavedPassword, gNoipHostName);
}

void TForm_noip_setting::Label_TOSClick(TObject*)
{
    char url[192];
    snprintf(url, sizeof url, "https://%s/legal/tos.php", Noip_WebHost());
    Web_OpenUrl(url);
}

void TForm_noip_setting::Image3Click(TObject*)
{
    char url[160];
    snprintf(url, sizeof url, "https://%s", Noip_WebHost());
    Web_OpenUrl(url);
}

void TForm_noip_setting::Timer3Timer(TObject*)
{
    Timer3->SetEnabled(false);
    Noip_Poll();
    if (gNoipStep == NOIP_STEP_WAIT_INFO) {
        gNoipStep = NOIP_STEP_INFO;
        Noip_Connect(1);
    } else if (gNoipStep == NOIP_STEP_WAIT_DOMAINS) {
        gNoipStep = NOIP_STEP_DOMAINS;
        Noip_Connect(1);
    }
    Timer3->SetEnabled(true);
}

void TForm_noip_setting::FormClose(TObject*, TCloseAction&) { Timer3->SetEnabled(false); }

void TForm_noip_setting::FormDestroy(TObject*) { Timer3->SetEnabled(false); }
