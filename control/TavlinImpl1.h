// The control's form TTavlinX: its components (built from the stored
// description TavlinImpl1.form, named by role), its handlers, the start-up
// Viewer_Init and the 10 ms main loop. gViewerForm is the one instance.
#pragma once
#include "platform/com/OleAuto.h"
#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"
#include <functional>

class TTavlinX : public TForm {
public:
    explicit TTavlinX(TComponent* AOwner);
    ~TTavlinX() override;

    TTimer* Timer1 = nullptr;
    TTimer* Timer2 = nullptr;
    TImage* Image3 = nullptr;
    TImage* Image_video = nullptr;
    TImage* Image_Trumpet_BG = nullptr;
    TImage* Image_Trumpet_Off = nullptr;
    TImage* Image_Trumpet_On = nullptr;
    TImage* Image1 = nullptr;
    TImage* Image_Conn = nullptr;
    TImage* Image_Disconn = nullptr;
    TLabel* Label_time = nullptr;
    TLabel* Label_Version = nullptr;
    TLabel* Label1 = nullptr;
    TPageControl* PageControl1 = nullptr;
    TTabSheet* TabSheet1 = nullptr;
    TTabSheet* TabSheet2 = nullptr;
    TTabSheet* TabSheet3 = nullptr;
    TTabSheet* TabSheet4 = nullptr;
    TTabSheet* TabSheet5 = nullptr;
    TTabSheet* TabSheet6 = nullptr;
    TTabSheet* TabSheet7 = nullptr;
    // System
    TLabel* Label_System1 = nullptr;
    TLabel* Label_System2 = nullptr;
    TLabel* Label_System3 = nullptr;
    TLabel* Label_System4 = nullptr;
    TLabel* Label_System5 = nullptr;
    TLabeledEdit* LabeledEdit_System1 = nullptr;
    TLabeledEdit* LabeledEdit_System2 = nullptr;
    // Bitrate
    TMemo* Memo_Bitrate = nullptr;
    TLabel* Label_bitrate = nullptr;
    TComboBox* ComboBox_bitrate = nullptr;
    TButton* Button_Bitrate = nullptr;
    // PPPoE
    TMemo* Memo_PPPoE = nullptr;
    TLabel* Label_pppoe1 = nullptr;
    TComboBox* ComboBox_pppoe1 = nullptr;
    TLabeledEdit* LabeledEdit_pppoe2 = nullptr;
    TLabeledEdit* LabeledEdit_pppoe3 = nullptr;
    TButton* Button_PPPoE = nullptr;
    TButton* Button_PPPoE2 = nullptr;
    // DDNS
    TMemo* Memo_DDNS = nullptr;
    TLabel* Label_ddns1 = nullptr;
    TComboBox* ComboBox_ddns1 = nullptr;
    TLabeledEdit* LabeledEdit_ddns2 = nullptr;
    TLabeledEdit* LabeledEdit_ddns3 = nullptr;
    TLabeledEdit* LabeledEdit_ddns4 = nullptr;
    TLabel* Label_ddns2 = nullptr;
    TLabel* Label_ddns3 = nullptr;
    TButton* Button_DDNS = nullptr;
    TButton* Button_DDNS2 = nullptr;
    // Mail
    TMemo* Memo_SMTP = nullptr;
    TLabel* Label_smtp1 = nullptr;
    TLabel* Label_smtp2 = nullptr;
    TLabel* Label_smtp3 = nullptr;
    TComboBox* ComboBox_smtp1 = nullptr;
    TComboBox* ComboBox_smtp2 = nullptr;
    TLabeledEdit* LabeledEdit_smtp1 = nullptr;
    TLabeledEdit* LabeledEdit_smtp2 = nullptr;
    TLabeledEdit* LabeledEdit_smtp3 = nullptr;
    TLabeledEdit* LabeledEdit_smtp4 = nullptr;
    TLabeledEdit* LabeledEdit_smtp5 = nullptr;
    TLabeledEdit* LabeledEdit_smtp6 = nullptr;
    TLabeledEdit* LabeledEdit_smtp7 = nullptr;
    TLabeledEdit* LabeledEdit_smtp8 = nullptr;
    TLabeledEdit* LabeledEdit_smtp9 = nullptr;
    TLabeledEdit* LabeledEdit_smtp10 = nullptr;
    TCheckBox* CheckBox_SMTP = nullptr;
    TButton* Button_SMTP = nullptr;
    TButton* Button_SMTP2 = nullptr;
    TButton* Button_SMTP3 = nullptr;
    // Titles
    TImage* Image_Title1 = nullptr;
    TImage* Image_Title2 = nullptr;
    TImage* Image_Title3 = nullptr;
    TButton* Button_TLoad = nullptr;
    TButton* Button_TSave = nullptr;
    TRadioGroup* RadioGroup_Title = nullptr;
    TButton* Button_TOption = nullptr;
    TComboBox* ComboBox_TFS = nullptr;
    TEdit* Edit_TFS = nullptr;
    TScrollBar* ScrollBar_TFS = nullptr;
    TComboBox* ComboBox_Title = nullptr;
    TButton* Button_Title1 = nullptr;
    TLabeledEdit* LabeledEdit_Title1 = nullptr;
    TLabeledEdit* LabeledEdit_Title2 = nullptr;
    TLabeledEdit* LabeledEdit_Title3 = nullptr;
    TLabeledEdit* LabeledEdit_Title4 = nullptr;
    TLabeledEdit* LabeledEdit_Title5 = nullptr;
    TLabeledEdit* LabeledEdit_Title6 = nullptr;
    TLabeledEdit* LabeledEdit_Title7 = nullptr;
    TLabeledEdit* LabeledEdit_Title8 = nullptr;
    TLabeledEdit* LabeledEdit_Title9 = nullptr;
    TLabeledEdit* LabeledEdit_Title10 = nullptr;
    TLabeledEdit* LabeledEdit_Title11 = nullptr;
    TLabeledEdit* LabeledEdit_Title12 = nullptr;
    TLabeledEdit* LabeledEdit_Title13 = nullptr;
    TLabeledEdit* LabeledEdit_Title14 = nullptr;
    TLabeledEdit* LabeledEdit_Title15 = nullptr;
    TLabeledEdit* LabeledEdit_Title16 = nullptr;
    TProgressBar* ProgressBar_title = nullptr;
    // UPnP
    TMemo* Memo_UPNP = nullptr;
    TLabel* Label_upnp1 = nullptr;
    TComboBox* ComboBox_upnp = nullptr;
    TLabeledEdit* LabeledEdit_upnp = nullptr;
    TButton* Button_UPNP = nullptr;

    void ActiveFormCreate(TObject* Sender);
    void Timer1Timer(TObject* Sender);
    void Timer2Timer(TObject* Sender);
    void Button_ApplyClick(TObject* Sender);
    void Image1MouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void Image1MouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    void Image1MouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
    void Image_Trumpet_BGMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    void Image_Trumpet_OffMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    void Image_Trumpet_OnMouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
    void Image_Trumpet_OffClick(TObject* Sender);
    void Image_Trumpet_OnClick(TObject* Sender);
    void PageControl1Change(TObject* Sender);
    void Button_PPPoE2Click(TObject* Sender);
    void Button_DDNS2Click(TObject* Sender);
    void Button_SMTP2Click(TObject* Sender);
    void Button_SMTP3Click(TObject* Sender);
    void ComboBox_ddns1Change(TObject* Sender);
    void ComboBox_smtp1Change(TObject* Sender);
    void Label_ddns2Click(TObject* Sender);
    void Label_ddns3Click(TObject* Sender);
    void Button_TLoadClick(TObject* Sender);
    void Button_TSaveClick(TObject* Sender);
    void Button_TOptionClick(TObject* Sender);
    void ComboBox_TFSChange(TObject* Sender);
    void Edit_TFSChange(TObject* Sender);
    void ScrollBar_TFSChange(TObject* Sender);
    void ComboBox_TitleChange(TObject* Sender);
};

extern TTavlinX* gViewerForm;
// Times Viewer_Init ran in this process.
extern uint32_t gStartupCount;
// The folder of the skin files and the background picture.
extern char gSkinFolder[128];

void Viewer_Init();
// The System page shows the address and port the hosting page gave.
void System_ShowAddress(const char* address, const char* port);
// 1 while the UPnP tab (TabSheet7) shows, else 0.
int Viewer_UpnpTabVisible();
// 1 while the link lamp is lit (Image_Conn shown), else 0.
int Viewer_LinkIconShown();

// For the COM object: builds the form (its OnCreate runs the start-up),
// and points the form's eight events at one forwarder (dispid, arguments
// in parameter order, count) or away from it again.
TTavlinX* TavlinX_CreateForm();
typedef std::function<void(int dispid, VARIANTARG* args, unsigned count)> TTavlinXEventSink;
void TavlinX_AttachEvents(TTavlinX* form, TTavlinXEventSink sink);
void TavlinX_DetachEvents(TTavlinX* form);
