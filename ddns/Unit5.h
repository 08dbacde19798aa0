// The No-IP account form (TForm_noip_setting): a three-stage wizard with
// which a user creates an account at the No-IP dynamic-DNS service, adds a
// host under one of its domains and hands the account to the DDNS setup
// page. The buttons start the No-IP client's requests (ddns/Noip.h); the
// one-second Timer3 polls for the replies and chains the follow-up
// requests; the client writes its results into these components.
#pragma once
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

class TForm_noip_setting : public TForm {
public:
    explicit TForm_noip_setting(TComponent* AOwner);
    ~TForm_noip_setting() override;

    TPanel* Panel1 = nullptr;
    TImage* Image1 = nullptr; // the bar of the three stages
    TImage* Image2 = nullptr; // the arrow at the current stage (Left 280, 470, 660)
    TImage* Image3 = nullptr; // the service's banner (JPEG)
    TLabel* Label1 = nullptr;
    TLabel* Label3 = nullptr;
    TLabel* Label12 = nullptr;
    // host stage
    TPanel* Panel3 = nullptr;
    TGroupBox* GroupBox2 = nullptr;
    TEdit* Edit_host = nullptr;
    TComboBox* ComboBox1 = nullptr;
    TEdit* Edit_ip = nullptr;
    TButton* Button2 = nullptr;
    // account stage
    TPanel* Panel2 = nullptr;
    TStaticText* StaticText1 = nullptr;
    TGroupBox* GroupBox1 = nullptr;
    TLabeledEdit* Username = nullptr;
    TButton* CheckUas = nullptr;
    TLabeledEdit* email = nullptr;
    TLabeledEdit* password = nullptr;
    TLabeledEdit* cpassword = nullptr;
    TLabeledEdit* firstname = nullptr;
    TLabeledEdit* lastname = nullptr;
    TLabeledEdit* postal_code = nullptr;
    TCheckBox* CheckBox1 = nullptr;
    TLabel* Label_TOS = nullptr;
    TButton* Create = nullptr;
    TButton* Button1 = nullptr;
    // finish stage
    TPanel* Panel4 = nullptr;
    TLabel* info_username = nullptr;
    TLabel* info_email = nullptr;
    TLabel* info_firstname = nullptr;
    TLabel* info_lastname = nullptr;
    TLabel* info_postalcode = nullptr;
    TLabel* info_host = nullptr;
    TLabel* info_ip = nullptr;
    TButton* Button3 = nullptr;
    TTimer* Timer3 = nullptr;

    void CreateClick(TObject* Sender);
    void CheckUasClick(TObject* Sender);
    void Button1Click(TObject* Sender);
    void Button2Click(TObject* Sender);
    void Button3Click(TObject* Sender);
    void EditChange(TObject* Sender);
    void CheckBox1Click(TObject* Sender);
    void Label_TOSClick(TObject* Sender);
    void Image3Click(TObject* Sender);
    void Timer3Timer(TObject* Sender);
    void FormClose(TObject* Sender, TCloseAction& Action);
    void FormDestroy(TObject* Sender);
};

// The one instance, created by the first Noip_ShowAccountForm (null before).
extern TForm_noip_setting* Form_noip_setting;

// What "Create Account" on the DDNS page does for the No-IP row: creates
// the form on first use (owned by the application) and shows it modelessly
// on its account stage, with "Check " and "Next" disabled and the polling
// timer running.
void Noip_ShowAccountForm();

// The banner, a JFIF picture made by the build (tools/noip-banner).
extern const unsigned char gNoipBannerJpeg[];
extern const unsigned long gNoipBannerJpeg_size;
