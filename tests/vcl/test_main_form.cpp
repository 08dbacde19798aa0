// The viewer's form description control/TavlinImpl1.form: it loads, built
// into the library and from its file, with a stub handler table in which
// every handler name resolves; it holds exactly the components listed here
// at the places they belong; its mouse handlers run on real clicks.
#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/FormLoader.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

VCL_DECLARE_EMBEDDED_TEXT(gTestTavlinImpl1Form);

namespace {

// Every component of the form and its class.
std::vector<std::pair<std::string, std::string>> AllComponents()
{
    std::vector<std::pair<std::string, std::string>> v = {
        {"Timer1", "TTimer"},
        {"Timer2", "TTimer"},
        {"Image3", "TImage"},
        {"Image_video", "TImage"},
        {"Image_Trumpet_BG", "TImage"},
        {"Image_Trumpet_Off", "TImage"},
        {"Image_Trumpet_On", "TImage"},
        {"Image1", "TImage"},
        {"Image_Conn", "TImage"},
        {"Image_Disconn", "TImage"},
        {"Label_time", "TLabel"},
        {"Label_Version", "TLabel"},
        {"Label1", "TLabel"},
        {"PageControl1", "TPageControl"},
        {"LabeledEdit_System1", "TLabeledEdit"},
        {"LabeledEdit_System2", "TLabeledEdit"},
        {"Memo_Bitrate", "TMemo"},
        {"Label_bitrate", "TLabel"},
        {"ComboBox_bitrate", "TComboBox"},
        {"Button_Bitrate", "TButton"},
        {"Memo_PPPoE", "TMemo"},
        {"Label_pppoe1", "TLabel"},
        {"ComboBox_pppoe1", "TComboBox"},
        {"LabeledEdit_pppoe2", "TLabeledEdit"},
        {"LabeledEdit_pppoe3", "TLabeledEdit"},
        {"Button_PPPoE", "TButton"},
        {"Button_PPPoE2", "TButton"},
        {"Memo_DDNS", "TMemo"},
        {"Label_ddns1", "TLabel"},
        {"ComboBox_ddns1", "TComboBox"},
        {"LabeledEdit_ddns2", "TLabeledEdit"},
        {"LabeledEdit_ddns3", "TLabeledEdit"},
        {"LabeledEdit_ddns4", "TLabeledEdit"},
        {"Label_ddns2", "TLabel"},
        {"Label_ddns3", "TLabel"},
        {"Button_DDNS", "TButton"},
        {"Button_DDNS2", "TButton"},
        {"Memo_SMTP", "TMemo"},
        {"Label_smtp1", "TLabel"},
        {"ComboBox_smtp1", "TComboBox"},
        {"Label_smtp2", "TLabel"},
        {"ComboBox_smtp2", "TComboBox"},
        {"Label_smtp3", "TLabel"},
        {"CheckBox_SMTP", "TCheckBox"},
        {"Button_SMTP", "TButton"},
        {"Button_SMTP2", "TButton"},
        {"Button_SMTP3", "TButton"},
        {"Panel1", "TPanel"},
        {"Panel2", "TPanel"},
        {"Panel3", "TPanel"},
        {"Image_Title1", "TImage"},
        {"Image_Title2", "TImage"},
        {"Image_Title3", "TImage"},
        {"Button_TLoad", "TButton"},
        {"Button_TSave", "TButton"},
        {"Button_TOption", "TButton"},
        {"RadioGroup_Title", "TRadioGroup"},
        {"GroupBox1", "TGroupBox"},
        {"ComboBox_TFS", "TComboBox"},
        {"Edit_TFS", "TEdit"},
        {"ScrollBar_TFS", "TScrollBar"},
        {"Label_Title", "TLabel"},
        {"ComboBox_Title", "TComboBox"},
        {"Button_Title1", "TButton"},
        {"ProgressBar_title", "TProgressBar"},
        {"Memo_UPNP", "TMemo"},
        {"Label_upnp1", "TLabel"},
        {"ComboBox_upnp", "TComboBox"},
        {"LabeledEdit_upnp", "TLabeledEdit"},
        {"Button_UPNP", "TButton"},
    };
    for (int i = 1; i <= 7; i++) v.push_back({"TabSheet" + std::to_string(i), "TTabSheet"});
    for (int i = 1; i <= 5; i++) v.push_back({"Label_System" + std::to_string(i), "TLabel"});
    for (int i = 1; i <= 10; i++) v.push_back({"LabeledEdit_smtp" + std::to_string(i), "TLabeledEdit"});
    for (int i = 1; i <= 16; i++) v.push_back({"LabeledEdit_Title" + std::to_string(i), "TLabeledEdit"});
    return v;
}

bool IsClass(TComponent* c, const std::string& cls)
{
    static const std::map<std::string, std::function<bool(TComponent*)>> is = {
        {"TTimer", [](TComponent* c) { return dynamic_cast<TTimer*>(c) != nullptr; }},
        {"TImage", [](TComponent* c) { return dynamic_cast<TImage*>(c) != nullptr; }},
        {"TLabel", [](TComponent* c) { return dynamic_cast<TLabel*>(c) != nullptr; }},
        {"TPageControl", [](TComponent* c) { return dynamic_cast<TPageControl*>(c) != nullptr; }},
        {"TTabSheet", [](TComponent* c) { return dynamic_cast<TTabSheet*>(c) != nullptr; }},
        {"TLabeledEdit", [](TComponent* c) { return dynamic_cast<TLabeledEdit*>(c) != nullptr; }},
        {"TEdit", [](TComponent* c) { return dynamic_cast<TEdit*>(c) != nullptr; }},
        {"TMemo", [](TComponent* c) { return dynamic_cast<TMemo*>(c) != nullptr; }},
        {"TComboBox", [](TComponent* c) { return dynamic_cast<TComboBox*>(c) != nullptr; }},
        {"TButton", [](TComponent* c) { return dynamic_cast<TButton*>(c) != nullptr; }},
        {"TCheckBox", [](TComponent* c) { return dynamic_cast<TCheckBox*>(c) != nullptr; }},
        {"TPanel", [](TComponent* c) { return dynamic_cast<TPanel*>(c) != nullptr; }},
        {"TRadioGroup", [](TComponent* c) { return dynamic_cast<TRadioGroup*>(c) != nullptr; }},
        {"TGroupBox", [](TComponent* c) { return dynamic_cast<TGroupBox*>(c) != nullptr; }},
        {"TScrollBar", [](TComponent* c) { return dynamic_cast<TScrollBar*>(c) != nullptr; }},
        {"TProgressBar", [](TComponent* c) { return dynamic_cast<TProgressBar*>(c) != nullptr; }},
    };
    auto it = is.find(cls);
    return it != is.end() && it->second(c);
}

enum Kind { Notify, Mouse, Move };
const std::vector<std::pair<std::string, Kind>>& Handlers()
{
    static const std::vector<std::pair<std::string, Kind>> h = {
        {"ActiveFormCreate", Notify},
        {"Timer1Timer", Notify},
        {"Timer2Timer", Notify},
        {"Image1MouseDown", Mouse},
        {"Image1MouseMove", Move},
        {"Image1MouseUp", Mouse},
        {"Image_Trumpet_BGMouseMove", Move},
        {"Image_Trumpet_OffMouseMove", Move},
        {"Image_Trumpet_OnMouseMove", Move},
        {"Image_Trumpet_OffClick", Notify},
        {"Image_Trumpet_OnClick", Notify},
        {"PageControl1Change", Notify},
        {"Button_PPPoE2Click", Notify},
        {"Button_DDNS2Click", Notify},
        {"Button_SMTP2Click", Notify},
        {"Button_SMTP3Click", Notify},
        {"ComboBox_smtp1Change", Notify},
        {"ComboBox_ddns1Change", Notify},
        {"Label_ddns2Click", Notify},
        {"Label_ddns3Click", Notify},
        {"Button_TLoadClick", Notify},
        {"Button_TSaveClick", Notify},
        {"Button_TOptionClick", Notify},
        {"Edit_TFSChange", Notify},
        {"ComboBox_TFSChange", Notify},
        {"ScrollBar_TFSChange", Notify},
        {"ComboBox_TitleChange", Notify},
    };
    return h;
}

// The form with every field slot and a stub for every handler that
// records its name (and the position for mouse handlers).
struct MainForm : TForm {
    std::map<std::string, TComponent*> fields;
    std::vector<std::string> calls;
    explicit MainForm(const char* text, size_t length, const char* file = nullptr) : TForm(nullptr)
    {
        TFormBinder b("TTavlinX");
        for (const auto& c : AllComponents()) b.Field(c.first, fields[c.first]);
        for (const auto& h : Handlers()) {
            std::string n = h.first;
            switch (h.second) {
            case Notify: b.Handler(n, TNotifyEvent([this, n](TObject*) { calls.push_back(n); })); break;
            case Mouse:
                b.Handler(n, TMouseEvent([this, n](TObject*, TMouseButton, TShiftState, int x, int y) {
                              calls.push_back(n + " " + std::to_string(x) + "," + std::to_string(y));
                          }));
                break;
            case Move:
                b.Handler(n, TMouseMoveEvent([this, n](TObject*, TShiftState, int x, int y) {
                              calls.push_back(n + " " + std::to_string(x) + "," + std::to_string(y));
                          }));
                break;
            }
        }
        if (file) Vcl_ReadFormFile(this, file, b);
        else Vcl_ReadForm(this, text, length, b, "TavlinImpl1.form");
    }
    template <class T> T* Get(const std::string& name) { return dynamic_cast<T*>(fields[name]); }
};

MainForm* Embedded() { return new MainForm(gTestTavlinImpl1Form, gTestTavlinImpl1Form_size); }

TEST(MainForm, LoadsWithEveryComponentAndHandler)
{
    for (bool fromFile : {false, true}) {
        SCOPED_TRACE(fromFile ? "file" : "embedded");
        std::unique_ptr<MainForm> f(fromFile ? new MainForm(nullptr, 0, TAVLIN_SOURCE_DIR "/control/TavlinImpl1.form")
                                             : Embedded());
        EXPECT_EQ(f->Name, "TavlinX");
        EXPECT_EQ(f->Width(), 1010);
        EXPECT_EQ(f->Height(), 656);
        EXPECT_FALSE(f->Scaled());
        for (const auto& c : AllComponents())
            EXPECT_TRUE(IsClass(f->fields[c.first], c.second)) << c.first << " " << c.second;
        // Nothing in the description that the list does not name.
        EXPECT_EQ(f->ComponentCount(), (int)AllComponents().size());
        EXPECT_TRUE((bool)f->OnCreate);
        EXPECT_TRUE(f->calls.empty());
        f->AfterConstruction();
        EXPECT_EQ(f->calls, std::vector<std::string>{"ActiveFormCreate"});
    }
}

TEST(MainForm, ComponentsSitWhereTheyBelong)
{
    std::unique_ptr<MainForm> f(Embedded());
    struct Place {
        const char* name;
        int left, top, width, height;
    };
    const Place places[] = {
        {"Image3", 0, 0, 1010, 656},
        {"Image_video", 34, 43, 640, 512},
        {"Image_Trumpet_BG", 34, 43, 640, 512},
        {"Image_Trumpet_Off", 618, 59, 24, 24},
        {"Image_Trumpet_On", 618, 59, 24, 24},
        {"Image1", 676, 0, 324, 620},
        {"Image_Conn", 32, 24, 8, 12},
        {"Image_Disconn", 32, 24, 8, 12},
        {"PageControl1", 34, 43, 640, 512},
        {"TabSheet6", 4, 24, 632, 484},
        {"Panel3", 0, 0, 632, 73},
        {"Image_Title1", 209, 13, 352, 44},
        {"Button_TLoad", 8, 16, 60, 41},
        {"Button_TSave", 80, 16, 60, 41},
        {"Panel2", 0, 73, 161, 411},
        {"Button_TOption", 16, 96, 110, 33},
        {"GroupBox1", 16, 152, 113, 73},
        {"ComboBox_TFS", 8, 20, 65, 21},
        {"Edit_TFS", 74, 20, 33, 21},
        {"ScrollBar_TFS", 8, 48, 100, 16},
        {"ComboBox_Title", 8, 264, 137, 21},
        {"Button_Title1", 32, 368, 75, 25},
        {"Panel1", 162, 73, 470, 411},
        {"LabeledEdit_Title1", 36, 16, 180, 21},
        {"LabeledEdit_Title8", 36, 16 + 48 * 7, 180, 21},
        {"LabeledEdit_Title9", 272, 16, 180, 21},
        {"LabeledEdit_Title16", 272, 16 + 48 * 7, 180, 21},
        {"ProgressBar_title", 1, 393, 468, 17},
    };
    for (const Place& p : places) {
        auto* c = f->Get<TControl>(p.name);
        ASSERT_NE(c, nullptr) << p.name;
        EXPECT_EQ(c->Left(), p.left) << p.name;
        EXPECT_EQ(c->Top(), p.top) << p.name;
        EXPECT_EQ(c->Width(), p.width) << p.name;
        EXPECT_EQ(c->Height(), p.height) << p.name;
    }
    auto* labelTime = f->Get<TLabel>("Label_time");
    EXPECT_EQ(labelTime->Alignment(), taCenter);
    EXPECT_LE(labelTime->Top() + labelTime->Height(), 43);
    EXPECT_EQ(f->Get<TLabel>("Label_Version")->Left(), 24);
    EXPECT_EQ(f->Get<TLabel>("Label_Version")->Top(), 600);
    EXPECT_FALSE(f->Get<TImage>("Image_video")->Enabled());
    EXPECT_FALSE(f->Get<TImage>("Image_Conn")->Visible());
    EXPECT_TRUE(f->Get<TImage>("Image_Disconn")->Visible());
    EXPECT_FALSE(f->Get<TImage>("Image_Trumpet_Off")->Visible());
    EXPECT_FALSE(f->Get<TImage>("Image_Trumpet_On")->Visible());
    EXPECT_FALSE(f->Get<TLabel>("Label1")->Visible());
    EXPECT_FALSE(f->Get<TRadioGroup>("RadioGroup_Title")->Visible());
    auto* t1 = f->Get<TTimer>("Timer1");
    EXPECT_FALSE(t1->Enabled());
    EXPECT_EQ(t1->Interval(), 10u);
    EXPECT_FALSE(f->Get<TTimer>("Timer2")->Enabled());

    // The title edits: labelled CH1 .. CH16 to their left, 3 pixels apart.
    for (int i = 1; i <= 16; i++) {
        auto* e = f->Get<TLabeledEdit>("LabeledEdit_Title" + std::to_string(i));
        EXPECT_EQ(e->EditLabel()->Caption(), "CH" + std::to_string(i));
        EXPECT_EQ(e->EditLabel()->Left() + e->EditLabel()->Width() + 3, e->Left());
        EXPECT_EQ(e->Parent(), f->Get<TPanel>("Panel1"));
    }
}

TEST(MainForm, PagesAndListsHoldTheirTexts)
{
    std::unique_ptr<MainForm> f(Embedded());
    auto* pc = f->Get<TPageControl>("PageControl1");
    EXPECT_FALSE(pc->Visible());
    const char* captions[] = {"System", "Bitrate", "PPPoE", "DDNS", "Mail", "Title", "UPnP"};
    ASSERT_EQ(pc->PageCount(), 7);
    for (int i = 0; i < 7; i++) {
        EXPECT_EQ(pc->Pages(i), f->fields["TabSheet" + std::to_string(i + 1)]);
        EXPECT_EQ(pc->Pages(i)->Caption(), captions[i]);
    }
    EXPECT_EQ(pc->ActivePageIndex(), 0);

    struct List {
        const char* name;
        std::vector<std::string> items;
        int index;
    };
    const List lists[] = {
        {"ComboBox_bitrate",
         {"28.8/36.6 Kbps", "56 Kbps", "112 Kbps", "256 Kbps", "384 Kbps", "512 Kbps", "768 Kbps", "1 Mbps", "1.5 Mbps",
          "Intranet"},
         9},
        {"ComboBox_pppoe1", {"OFF", "ON"}, 0},
        {"ComboBox_upnp", {"OFF", "ON"}, 0},
        {"ComboBox_TFS", {"X-Large", "Large", "Medium", "Small", "X-Small"}, 2},
        {"ComboBox_Title",
         {"0 English", "1 Traditional Chinese", "2 Spanish", "3 Russian", "4 Italian", "5 Simplified Chinese  ",
          "6 Japanese", "7 German", "8 French", "9 Dutch", "10 Czech", "11 Polish", "12 Hebrew", "13 Thai", "14 Danish",
          "15 Finnish", "16 Swedish", "17 Vitnamese article", "18 Korean"},
         0},
    };
    for (const List& l : lists) {
        auto* c = f->Get<TComboBox>(l.name);
        ASSERT_EQ(c->Items()->Count(), (int)l.items.size()) << l.name;
        for (size_t i = 0; i < l.items.size(); i++) EXPECT_EQ(c->Items()->Strings((int)i), l.items[i]) << l.name;
        EXPECT_EQ(c->ItemIndex(), l.index) << l.name;
    }

    struct Caption {
        const char* name;
        const char* text;
    };
    const Caption labels[] = {
        {"LabeledEdit_System1", "Remote IP : "},
        {"LabeledEdit_System2", "Remote Port : "},
        {"LabeledEdit_pppoe2", "PPPoE User Name : "},
        {"LabeledEdit_pppoe3", "PPPoE Password : "},
        {"LabeledEdit_ddns2", "DDNS User Name : "},
        {"LabeledEdit_ddns3", "DDNS Password : "},
        {"LabeledEdit_ddns4", "DDNS Host Name : "},
        {"LabeledEdit_smtp1", "* SMTP Server : "},
        {"LabeledEdit_smtp10", "* SMTP Port : "},
        {"LabeledEdit_smtp2", "SMTP User : "},
        {"LabeledEdit_smtp3", "SMTP Password : "},
        {"LabeledEdit_smtp4", "* Sender's E-mail :  "},
        {"LabeledEdit_smtp5", "* Receiver's E-mail 1 : "},
        {"LabeledEdit_smtp6", "Receiver's E-mail 2 : "},
        {"LabeledEdit_smtp7", "Receiver's E-mail 3 : "},
        {"LabeledEdit_smtp8", "Subject : "},
        {"LabeledEdit_smtp9", "Location : "},
        {"LabeledEdit_upnp", "UPnP Port : "},
    };
    for (const Caption& c : labels) EXPECT_EQ(f->Get<TLabeledEdit>(c.name)->EditLabel()->Caption(), c.text) << c.name;
    const Caption captionsOf[] = {
        {"Label_bitrate", "Bitrate : "},
        {"Label_pppoe1", "PPPoE Status : "},
        {"Label_ddns1", "DDNS Select : "},
        {"Label_ddns2", "Home"},
        {"Label_ddns3", "Create Account"},
        {"Label_smtp1", "Send Mail Status : "},
        {"Label_smtp2", "Interval : "},
        {"Label_smtp3", "Min"},
        {"Label_upnp1", "UPnP Status : "},
        {"Label_Title", "Language"},
        {"CheckBox_SMTP", "Log on using Secure Passwd Authentication"},
        {"Button_Bitrate", "Apply"},
        {"Button_PPPoE", "Apply"},
        {"Button_PPPoE2", "Clear"},
        {"Button_DDNS", "Apply"},
        {"Button_DDNS2", "Clear"},
        {"Button_SMTP", "Apply"},
        {"Button_SMTP2", "Clear"},
        {"Button_SMTP3", "Test Mail"},
        {"Button_Title1", "Apply"},
        {"Button_UPNP", "Apply"},
        {"Button_TLoad", "Load File"},
        {"Button_TSave", "Save File"},
        {"Button_TOption", "Font Option"},
        {"GroupBox1", "Font Size"},
        {"RadioGroup_Title", "Type"},
    };
    for (const Caption& c : captionsOf) EXPECT_EQ(f->Get<TControl>(c.name)->Caption(), c.text) << c.name;
    EXPECT_EQ(f->Get<TLabeledEdit>("LabeledEdit_upnp")->Text(), "65535");
    EXPECT_TRUE(f->Get<TMemo>("Memo_UPNP")->ReadOnly());
    auto* bar = f->Get<TProgressBar>("ProgressBar_title");
    EXPECT_EQ(bar->Min(), 0);
    EXPECT_EQ(bar->Max(), 100);
}

TEST(MainForm, MouseHandlersRunOnRealClicks)
{
    std::unique_ptr<MainForm> f(Embedded());
    Vcl_ShowWindow(f->Handle(), "TavlinX");
    void* h = f->Handle();

    Vcl_ClickAt(h, 676 + 100, 50);
    EXPECT_EQ(f->calls, (std::vector<std::string>{"Image1MouseDown 100,50", "Image1MouseUp 100,50"}));
    f->calls.clear();

    // The video is disabled: moves over it reach the layer above it.
    Vcl_MouseAt(h, vmaMove, mbLeft, 34 + 200, 43 + 100);
    EXPECT_EQ(f->calls, std::vector<std::string>{"Image_Trumpet_BGMouseMove 200,100"});
    f->calls.clear();

    f->Get<TImage>("Image_Trumpet_Off")->Show();
    Vcl_MouseAt(h, vmaMove, mbLeft, 620, 61);
    Vcl_ClickAt(h, 620, 61);
    EXPECT_EQ(f->calls, (std::vector<std::string>{"Image_Trumpet_OffMouseMove 2,2", "Image_Trumpet_OffClick"}));
    f->calls.clear();

    // In Setup the pages cover the video; the user's tab choice is reported.
    auto* pc = f->Get<TPageControl>("PageControl1");
    pc->Show();
    TRect tab = pc->TabRect(3);
    Vcl_ClickAt(h, 34 + (tab.Left + tab.Right) / 2, 43 + (tab.Top + tab.Bottom) / 2);
    EXPECT_EQ(f->calls, std::vector<std::string>{"PageControl1Change"});
    EXPECT_EQ(pc->ActivePageIndex(), 3);

    std::string png = ::testing::TempDir() + "tavlinx.png";
    EXPECT_EQ(Vcl_SaveWindowPng(h, png.c_str()), 0);
    std::remove(png.c_str());
}

} // namespace
