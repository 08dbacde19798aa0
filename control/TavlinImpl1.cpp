// The control's form and shell: building TTavlinX from its stored
// description, the start-up Viewer_Init, the main loop Timer1Timer and the
// forwarding of the form's events. Owns gViewerForm, gStartupCount,
// gSkinFolder and the periodic tasks' stopwatch stamps.
#include "control/TavlinImpl1.h"
#include "media/Watermark.h"
#include "control/Session.h"
#include "control/Setup.h"
#include "control/TavlinProj1_TLB.h"
#include "control/Text.h"
#include "control/Version.h"
#include "link/Conn.h"
#include "link/Icmd.h"
#include "link/Ictl.h"
#include "link/Hooks.h"
#include "media/Pbba.h"
#include "link/Tavn.h"
#include "link/Ring.h"
#include "platform/vcl/FormLoader.h"
#include "platform/win/Win.h"
#include "control/Speaker.h"
#include "control/Title.h"
#include "control/View.h"
#include "media/Audio.h"
#include "media/Decoder.h"
#include "media/Display.h"
#include "media/Stream.h"
#include "media/Vido.h"
#include "panel/Ie_com.h"
#include "panel/Yuv2.h"
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>

VCL_DECLARE_EMBEDDED_TEXT(gTavlinImpl1Form);

TTavlinX* gViewerForm = nullptr;
uint32_t gStartupCount = 0;
char gSkinFolder[128];

// Stopwatch stamps of the 1 s, 300 ms and 33 ms tasks.
static uint32_t gTimerStamps[3];

TTavlinX::TTavlinX(TComponent* AOwner) : TForm(AOwner)
{
    TFormBinder b("TTavlinX");
    b.Field("Timer1", Timer1);
    b.Field("Timer2", Timer2);
    b.Field("Image3", Image3);
    b.Field("Image_video", Image_video);
    b.Field("Image_Trumpet_BG", Image_Trumpet_BG);
    b.Field("Image_Trumpet_Off", Image_Trumpet_Off);
    b.Field("Image_Trumpet_On", Image_Trumpet_On);
    b.Field("Image1", Image1);
    b.Field("Image_Conn", Image_Conn);
    b.Field("Image_Disconn", Image_Disconn);
    b.Field("Label_time", Label_time);
    b.Field("Label_Version", Label_Version);
    b.Field("Label1", Label1);
    b.Field("PageControl1", PageControl1);
    b.Field("TabSheet1", TabSheet1);
    b.Field("TabSheet2", TabSheet2);
    b.Field("TabSheet3", TabSheet3);
    b.Field("TabSheet4", TabSheet4);
    b.Field("TabSheet5", TabSheet5);
    b.Field("TabSheet6", TabSheet6);
    b.Field("TabSheet7", TabSheet7);
    b.Field("Label_System1", Label_System1);
    b.Field("Label_System2", Label_System2);
    b.Field("Label_System3", Label_System3);
    b.Field("Label_System4", Label_System4);
    b.Field("Label_System5", Label_System5);
    b.Field("LabeledEdit_System1", LabeledEdit_System1);
    b.Field("LabeledEdit_System2", LabeledEdit_System2);
    b.Field("ComboBox_bitrate", ComboBox_bitrate);
    b.Field("Button_Bitrate", Button_Bitrate);
    b.Field("Memo_Bitrate", Memo_Bitrate);
    b.Field("Label_bitrate", Label_bitrate);
    b.Field("ComboBox_pppoe1", ComboBox_pppoe1);
    b.Field("LabeledEdit_pppoe2", LabeledEdit_pppoe2);
    b.Field("LabeledEdit_pppoe3", LabeledEdit_pppoe3);
    b.Field("Button_PPPoE", Button_PPPoE);
    b.Field("Button_PPPoE2", Button_PPPoE2);
    b.Field("Memo_PPPoE", Memo_PPPoE);
    b.Field("Label_pppoe1", Label_pppoe1);
    b.Field("ComboBox_ddns1", ComboBox_ddns1);
    b.Field("LabeledEdit_ddns2", LabeledEdit_ddns2);
    b.Field("LabeledEdit_ddns3", LabeledEdit_ddns3);
    b.Field("LabeledEdit_ddns4", LabeledEdit_ddns4);
    b.Field("Label_ddns2", Label_ddns2);
    b.Field("Label_ddns3", Label_ddns3);
    b.Field("Button_DDNS", Button_DDNS);
    b.Field("Button_DDNS2", Button_DDNS2);
    b.Field("Memo_DDNS", Memo_DDNS);
    b.Field("Label_ddns1", Label_ddns1);
    b.Field("ComboBox_smtp1", ComboBox_smtp1);
    b.Field("ComboBox_smtp2", ComboBox_smtp2);
    b.Field("LabeledEdit_smtp1", LabeledEdit_smtp1);
    b.Field("LabeledEdit_smtp2", LabeledEdit_smtp2);
    b.Field("LabeledEdit_smtp3", LabeledEdit_smtp3);
    b.Field("LabeledEdit_smtp4", LabeledEdit_smtp4);
    b.Field("LabeledEdit_smtp5", LabeledEdit_smtp5);
    b.Field("LabeledEdit_smtp6", LabeledEdit_smtp6);
    b.Field("LabeledEdit_smtp7", LabeledEdit_smtp7);
    b.Field("LabeledEdit_smtp8", LabeledEdit_smtp8);
    b.Field("LabeledEdit_smtp9", LabeledEdit_smtp9);
    b.Field("LabeledEdit_smtp10", LabeledEdit_smtp10);
    b.Field("CheckBox_SMTP", CheckBox_SMTP);
    b.Field("Button_SMTP", Button_SMTP);
    b.Field("Button_SMTP2", Button_SMTP2);
    b.Field("Button_SMTP3", Button_SMTP3);
    b.Field("Memo_SMTP", Memo_SMTP);
    b.Field("Label_smtp1", Label_smtp1);
    b.Field("Label_smtp2", Label_smtp2);
    b.Field("Label_smtp3", Label_smtp3);
    b.Field("Image_Title1", Image_Title1);
    b.Field("Image_Title2", Image_Title2);
    b.Field("Image_Title3", Image_Title3);
    b.Field("Button_TLoad", Button_TLoad);
    b.Field("Button_TSave", Button_TSave);
    b.Field("RadioGroup_Title", RadioGroup_Title);
    b.Field("Button_TOption", Button_TOption);
    b.Field("ComboBox_TFS", ComboBox_TFS);
    b.Field("Edit_TFS", Edit_TFS);
    b.Field("ScrollBar_TFS", ScrollBar_TFS);
    b.Field("ComboBox_Title", ComboBox_Title);
    b.Field("Button_Title1", Button_Title1);
    b.Field("LabeledEdit_Title1", LabeledEdit_Title1);
    b.Field("LabeledEdit_Title2", LabeledEdit_Title2);
    b.Field("LabeledEdit_Title3", LabeledEdit_Title3);
    b.Field("LabeledEdit_Title4", LabeledEdit_Title4);
    b.Field("LabeledEdit_Title5", LabeledEdit_Title5);
    b.Field("LabeledEdit_Title6", LabeledEdit_Title6);
    b.Field("LabeledEdit_Title7", LabeledEdit_Title7);
    b.Field("LabeledEdit_Title8", LabeledEdit_Title8);
    b.Field("LabeledEdit_Title9", LabeledEdit_Title9);
    b.Field("LabeledEdit_Title10", LabeledEdit_Title10);
    b.Field("LabeledEdit_Title11", LabeledEdit_Title11);
    b.Field("LabeledEdit_Title12", LabeledEdit_Title12);
    b.Field("LabeledEdit_Title13", LabeledEdit_Title13);
    b.Field("LabeledEdit_Title14", LabeledEdit_Title14);
    b.Field("LabeledEdit_Title15", LabeledEdit_Title15);
    b.Field("LabeledEdit_Title16", LabeledEdit_Title16);
    b.Field("ProgressBar_title", ProgressBar_title);
    b.Field("ComboBox_upnp", ComboBox_upnp);
    b.Field("LabeledEdit_upnp", LabeledEdit_upnp);
    b.Field("Button_UPNP", Button_UPNP);
    b.Field("Memo_UPNP", Memo_UPNP);
    b.Field("Label_upnp1", Label_upnp1);
    b.Handler("ActiveFormCreate", this, &TTavlinX::ActiveFormCreate);
    b.Handler("Timer1Timer", this, &TTavlinX::Timer1Timer);
    b.Handler("Timer2Timer", this, &TTavlinX::Timer2Timer);
    b.Handler("Image1MouseDown", this, &TTavlinX::Image1MouseDown);
    b.Handler("Image1MouseMove", this, &TTavlinX::Image1MouseMove);
    b.Handler("Image1MouseUp", this, &TTavlinX::Image1MouseUp);
    b.Handler("Image_Trumpet_BGMouseMove", this, &TTavlinX::Image_Trumpet_BGMouseMove);
    b.Handler("Image_Trumpet_OffMouseMove", this, &TTavlinX::Image_Trumpet_OffMouseMove);
    b.Handler("Image_Trumpet_OnMouseMove", this, &TTavlinX::Image_Trumpet_OnMouseMove);
    b.Handler("Image_Trumpet_OffClick", this, &TTavlinX::Image_Trumpet_OffClick);
    b.Handler("Image_Trumpet_OnClick", this, &TTavlinX::Image_Trumpet_OnClick);
    b.Handler("PageControl1Change", this, &TTavlinX::PageControl1Change);
    b.Handler("Button_PPPoE2Click", this, &TTavlinX::Button_PPPoE2Click);
    b.Handler("Button_DDNS2Click", this, &TTavlinX::Button_DDNS2Click);
    b.Handler("Button_SMTP2Click", this, &TTavlinX::Button_SMTP2Click);
    b.Handler("Button_SMTP3Click", this, &TTavlinX::Button_SMTP3Click);
    b.Handler("ComboBox_ddns1Change", this, &TTavlinX::ComboBox_ddns1Change);
    b.Handler("ComboBox_smtp1Change", this, &TTavlinX::ComboBox_smtp1Change);
    b.Handler("Label_ddns2Click", this, &TTavlinX::Label_ddns2Click);
    b.Handler("Label_ddns3Click", this, &TTavlinX::Label_ddns3Click);
    b.Handler("Button_TLoadClick", this, &TTavlinX::Button_TLoadClick);
    b.Handler("Button_TSaveClick", this, &TTavlinX::Button_TSaveClick);
    b.Handler("Button_TOptionClick", this, &TTavlinX::Button_TOptionClick);
    b.Handler("ComboBox_TFSChange", this, &TTavlinX::ComboBox_TFSChange);
    b.Handler("Edit_TFSChange", this, &TTavlinX::Edit_TFSChange);
    b.Handler("ScrollBar_TFSChange", this, &TTavlinX::ScrollBar_TFSChange);
    b.Handler("ComboBox_TitleChange", this, &TTavlinX::ComboBox_TitleChange);
    Vcl_ReadForm(this, gTavlinImpl1Form, gTavlinImpl1Form_size, b, "TavlinImpl1.form");
}

TTavlinX::~TTavlinX() { DoDestroy(); }

TTavlinX* TavlinX_CreateForm() { return Vcl_CreateForm<TTavlinX>(nullptr); }

void TTavlinX::ActiveFormCreate(TObject*)
{
    Win_Milestone(MILESTONE_FORM_BUILT);
    gViewerForm = this;
    Viewer_Init();
    Timer1->SetEnabled(true);
    Speaker_Reset();
    Audio_StartThread();
}

void Viewer_Init()
{
    if (gStartupCount != 0) exit(1); // one viewer per process
    gStartupCount++;
    TTavlinX* f = gViewerForm;

    Session_CreateSockets(f);
    Video_PrepareImage(f->Image_video);
    f->SetDoubleBuffered(true);
    for (uint32_t channel = 0; channel < 2; channel++) {
        gDecoderChannel = channel;
        if (Decoder_OpenChannel(channel) == -1) {
            f->Label_time->SetCaption("Decode_File Err");
            return;
        }
    }
    f->Label_time->SetCaption("Connecting ...");

    TButton* apply[] = {f->Button_Bitrate, f->Button_PPPoE,  f->Button_DDNS,
                        f->Button_SMTP,    f->Button_Title1, f->Button_UPNP};
    for (TButton* button : apply) button->OnClick = [f](TObject* s) { f->Button_ApplyClick(s); };

    Conn_InitAll();
    Handshake_Init();
    Icmd_Init();
    Vido_Init();
    Stream_Init();
    Title_Init();
    Ictl_Init();
    Ictl_RegisterTavnVariables();
    Watermark_InitKeys();
    Pbba_Init();
    FrameBuf_Init(640, 512);

    Setup_ClearEdits(2);
    Setup_ClearEdits(4);
    Setup_ClearEdits(8);
    Panel_Invalidate();
    IeCom_Init();

    memset(gSkinFolder, 0, sizeof gSkinFolder);
    char root[64] = {0};
    snprintf(root, sizeof root, "%s", Win_GetEnv("systemroot"));
    snprintf(gSkinFolder, sizeof gSkinFolder, "%s\\SysWOW64", root);
    if (FILE* probe = Win_fopen(gSkinFolder, "rb")) fclose(probe);
    else snprintf(gSkinFolder, sizeof gSkinFolder, "%s\\system32", root);

    char name[64];
    snprintf(name, sizeof name, "TavlinKeyForm_%s.YUV2", gVersionText);
    Yuv2_LoadSkin(0, 3, 0, name);

    char background[256];
    snprintf(background, sizeof background, "%s\\TavlinMainForm_%s.bmp", gSkinFolder, gVersionText);
    if (FILE* bmp = Win_fopen(background, "rb")) {
        fclose(bmp);
        try {
            f->Image3->Picture()->LoadFromFile(Win_MapPath(background));
        } catch (const std::exception&) {
            // an unreadable picture leaves the form's own background
        }
    }

    Win_Milestone(MILESTONE_SKINS_LOADED);

    char version[32];
    snprintf(version, sizeof version, "Ver.%s", gVersionText + 2);
    f->Label_Version->SetCaption(version);

    memset(gTimerStamps, 0, sizeof gTimerStamps);
    Stopwatch_Start(1);
}

void TTavlinX::Timer1Timer(TObject*)
{
    Timer1->SetEnabled(false);
    try {
        Session_ReceiveStep();
        uint32_t t = Stopwatch_Now();
        if (t - gTimerStamps[0] > 100000) {
            gTimerStamps[0] = t;
            Backup_TimerStep();
        }
        t = Stopwatch_Now();
        if (t - gTimerStamps[1] > 30000) {
            gTimerStamps[1] = t;
            Title_TimerStep(0, 0);
            Calendar_TimerStep();
        }
        t = Stopwatch_Now();
        if (t - gTimerStamps[2] > 3300) {
            gTimerStamps[2] = t;
            Yuv2_RepeatTick();
            Yuv2_Redraw(gMouseDown);
        }
        Session_PollSockets();
        Stream_TimerStep();
        Speaker_TimerStep();
    } catch (const std::exception& e) {
        Application_HandleException(e.what());
    } catch (...) {
        Application_HandleException("Unknown exception");
    }
    // The main loop goes on whatever a step did.
    Timer1->SetEnabled(true);
}

void TTavlinX::Timer2Timer(TObject*) {}

void TTavlinX::Button_ApplyClick(TObject*) { Setup_ApplyPage(PageControl1->ActivePageIndex()); }

// Connection 0's link icons.
static int gLinkIconShown = 0;
void Viewer_ShowLinkIcon(uint32_t connected)
{
    gLinkIconShown = connected != 0 ? 1 : 0;
    if (!gViewerForm) return;
    gViewerForm->Image_Conn->SetVisible(connected != 0);
    gViewerForm->Image_Disconn->SetVisible(connected == 0);
}
int Viewer_LinkIconShown() { return gViewerForm ? (gViewerForm->Image_Conn->Visible() ? 1 : 0) : gLinkIconShown; }

// The System page shows the address and port as the page gave them.
void System_ShowAddress(const char* address, const char* port)
{
    if (!gViewerForm) return;
    gViewerForm->LabeledEdit_System1->SetText(address);
    gViewerForm->LabeledEdit_System2->SetText(port);
}

// The UPnP tab; without a form (the link's own tests) only the word is kept.
static int gUpnpTabShown = 0;
void Viewer_ShowUpnpTab(int visible)
{
    gUpnpTabShown = visible ? 1 : 0;
    if (gViewerForm) gViewerForm->TabSheet7->SetTabVisible(visible != 0);
}
int Viewer_UpnpTabVisible() { return gViewerForm ? (gViewerForm->TabSheet7->TabVisible() ? 1 : 0) : gUpnpTabShown; }

// Handlers of pages and panels that arrive with their own modules.
// The key panel: the hit test, presses and auto-repeat are the panel's.
void TTavlinX::Image1MouseDown(TObject*, TMouseButton, TShiftState, int X, int Y) { Yuv2_PanelMouseDown(X, Y); }
void TTavlinX::Image1MouseMove(TObject*, TShiftState, int X, int Y) { Yuv2_PanelMouseMove(X, Y); }
void TTavlinX::Image1MouseUp(TObject*, TMouseButton, TShiftState, int X, int Y) { Yuv2_PanelMouseUp(X, Y); }
void TTavlinX::PageControl1Change(TObject*) { Setup_PageEntered(0, PageControl1->ActivePageIndex()); }
void TTavlinX::Button_PPPoE2Click(TObject*) { Setup_ClearEdits(2); }
void TTavlinX::Button_DDNS2Click(TObject*) { Setup_ClearEdits(4); }
void TTavlinX::Button_SMTP2Click(TObject*) { Setup_ClearEdits(8); }
void TTavlinX::Button_SMTP3Click(TObject*) { Setup_ApplyPage(7); }
void TTavlinX::ComboBox_ddns1Change(TObject*) { Ddns_SelectChanged(); }
void TTavlinX::ComboBox_smtp1Change(TObject*) { Setup_UpdateMailControls(); }
void TTavlinX::Label_ddns2Click(TObject*) { Ddns_OpenLink(ComboBox_ddns1->ItemIndex(), 0); }
void TTavlinX::Label_ddns3Click(TObject*) { Ddns_CreateAccount(); }

// --- Events of the COM object ----------------------------------------------

void TavlinX_AttachEvents(TTavlinX* form, TTavlinXEventSink sink)
{
    auto fire = [sink](int dispid) { return [sink, dispid](TObject*) { sink(dispid, nullptr, 0); }; };
    form->OnActivate = fire(DISPID_TXE_OnActivate);
    form->OnClick = fire(DISPID_TXE_OnClick);
    form->OnCreate = fire(DISPID_TXE_OnCreate);
    form->OnDblClick = fire(DISPID_TXE_OnDblClick);
    form->OnDeactivate = fire(DISPID_TXE_OnDeactivate);
    form->OnDestroy = fire(DISPID_TXE_OnDestroy);
    form->OnPaint = fire(DISPID_TXE_OnPaint);
    form->OnKeyPress = [sink](TObject*, char& key) {
        // Key is in/out: the sink's change goes back to the form.
        SHORT k = (SHORT)(unsigned char)key;
        VARIANTARG arg;
        VariantInit(&arg);
        arg.vt = VT_BYREF | VT_I2;
        arg.piVal = &k;
        sink(DISPID_TXE_OnKeyPress, &arg, 1);
        key = (char)k;
    };
}

void TavlinX_DetachEvents(TTavlinX* form)
{
    form->OnActivate = nullptr;
    form->OnClick = nullptr;
    form->OnCreate = nullptr;
    form->OnDblClick = nullptr;
    form->OnDeactivate = nullptr;
    form->OnDestroy = nullptr;
    form->OnPaint = nullptr;
    form->OnKeyPress = nullptr;
}
