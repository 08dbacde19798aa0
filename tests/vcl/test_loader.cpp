// Reading form descriptions: components built, nested and bound to their
// fields, properties set, handlers bound by name and run by a real click,
// and every kind of error reported with its line.
#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/FormLoader.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace {

const char* kSmallForm = R"(// A small form with one of each kind of thing.
object Small: TSmallForm
  Left = 0
  Top = 0
  Width = 400
  Height = 300
  Caption = 'Small ' + 'form'#33
  Color = clBtnFace
  OnCreate = FormCreate
  object Tick: TTimer   // trailing comments are fine
    Enabled = False
    Interval = 25
    OnTimer = TickTimer
  end
  object Box: TPanel
    Left = 10
    Top = 20
    Width = 200
    Height = 100
    BevelOuter = bvNone
    object Go: TButton
      Left = 30
      Top = 40
      Width = 80
      Height = 25
      Caption = 'Go'
      OnClick = GoClick
    end
    object Note: TLabel
      Left = 120
      Top = 44
      Caption = 'It''s here'
      Font.Style = [fsBold, fsItalic]
      Anchors = [akLeft, akBottom]
    end
  end
  object Choice: TComboBox
    Left = 220
    Top = 20
    Width = 120
    Height = 21
    Style = csDropDownList
    ItemIndex = 1
    Items.Strings = (
      'one'
      'two'
      'three')
    OnChange = ChoiceChange
  end
  object Who: TLabeledEdit
    Left = 280
    Top = 60
    Width = 100
    Height = 21
    EditLabel.Caption = 'Name : '
    LabelPosition = lpLeft
    MaxLength = 8
  end
  object Pic: TImage
    Left = 10
    Top = 140
    Width = 50
    Height = 40
    OnMouseDown = PicMouseDown
  end
  object Pages: TPageControl
    Left = 220
    Top = 120
    Width = 160
    Height = 120
    ActivePage = Second
    object First: TTabSheet
      Caption = 'First'
    end
    object Second: TTabSheet
      Caption = 'Second'
    end
  end
end
)";

// The form class of kSmallForm, bound the way a real form binds itself.
struct TSmallForm : TForm {
    TTimer* Tick = nullptr;
    TPanel* Box = nullptr;
    TButton* Go = nullptr;
    TLabel* Note = nullptr;
    TComboBox* Choice = nullptr;
    TLabeledEdit* Who = nullptr;
    TImage* Pic = nullptr;
    TPageControl* Pages = nullptr;
    TTabSheet* Second = nullptr;
    std::vector<std::string> calls;
    int downX = -1, downY = -1;

    explicit TSmallForm(const char* text) : TForm(nullptr)
    {
        TFormBinder b("TSmallForm");
        b.Field("Tick", Tick);
        b.Field("Box", Box);
        b.Field("Go", Go);
        b.Field("Note", Note);
        b.Field("Choice", Choice);
        b.Field("Who", Who);
        b.Field("Pic", Pic);
        b.Field("Pages", Pages);
        b.Field("Second", Second);
        b.Handler("FormCreate", this, &TSmallForm::FormCreate);
        b.Handler("TickTimer", this, &TSmallForm::TickTimer);
        b.Handler("GoClick", this, &TSmallForm::GoClick);
        b.Handler("ChoiceChange", this, &TSmallForm::ChoiceChange);
        b.Handler("PicMouseDown", this, &TSmallForm::PicMouseDown);
        Vcl_ReadForm(this, text, b, "small.form");
    }
    void FormCreate(TObject*) { calls.push_back("FormCreate"); }
    void TickTimer(TObject*) { calls.push_back("TickTimer"); }
    void GoClick(TObject* s) { calls.push_back(s == Go ? "GoClick" : "GoClick?"); }
    void ChoiceChange(TObject*) { calls.push_back("ChoiceChange"); }
    void PicMouseDown(TObject*, TMouseButton b, TShiftState sh, int x, int y)
    {
        calls.push_back(b == mbLeft && (sh & ssLeft) ? "PicMouseDown" : "PicMouseDown?");
        downX = x;
        downY = y;
    }
};

TEST(FormLoader, BuildsBindsAndSetsProperties)
{
    TSmallForm f(kSmallForm);
    EXPECT_EQ(f.Who, f.FindComponent("Who"));
    EXPECT_EQ(f.Who->Owner(), &f);
    EXPECT_EQ(f.Go->Parent(), f.Box);
    EXPECT_EQ(f.Note->Parent(), f.Box);
    EXPECT_EQ(f.Box->Parent(), &f);
    EXPECT_EQ(f.Second->PageControl(), f.Pages);
    EXPECT_EQ(f.Pages->PageCount(), 2);

    EXPECT_EQ(f.Caption(), "Small form!");
    EXPECT_EQ(f.Width(), 400);
    EXPECT_EQ(f.Tick->Interval(), 25u);
    EXPECT_FALSE(f.Tick->Enabled());
    EXPECT_EQ(f.Go->Left(), 30);
    EXPECT_EQ(f.Go->Caption(), "Go");
    EXPECT_EQ(f.Note->Caption(), "It's here");
    EXPECT_EQ(f.Note->Font()->Style(), (TFontStyles)(fsBold | fsItalic));
    EXPECT_EQ(f.Note->Anchors(), (TAnchors)(akLeft | akBottom));
    ASSERT_EQ(f.Choice->Items()->Count(), 3);
    EXPECT_EQ(f.Choice->Items()->Strings(2), "three");
    EXPECT_EQ(f.Choice->ItemIndex(), 1); // given before the items, applied after them
    EXPECT_EQ(f.Who->EditLabel()->Caption(), "Name : ");
    EXPECT_EQ(f.Who->MaxLength(), 8);
    EXPECT_EQ(f.Who->EditLabel()->Parent(), &f);
    EXPECT_EQ(f.Who->EditLabel()->Left() + f.Who->EditLabel()->Width() + 3, f.Who->Left());
    EXPECT_EQ(f.Pages->ActivePage(), f.Second);

    // Handlers are bound but none ran while reading; OnCreate runs after.
    EXPECT_TRUE(f.calls.empty());
    EXPECT_TRUE((bool)f.Tick->OnTimer);
    f.AfterConstruction();
    EXPECT_EQ(f.calls, std::vector<std::string>{"FormCreate"});
}

TEST(FormLoader, HandlersRunOnARealClick)
{
    TSmallForm f(kSmallForm);
    Vcl_ShowWindow(f.Handle(), "small");
    // The button lies at (30, 40) inside the panel at (10, 20).
    EXPECT_EQ(Vcl_ClickAt(f.Handle(), 10 + 30 + 5, 20 + 40 + 5), 0);
    ASSERT_EQ(f.calls, std::vector<std::string>{"GoClick"});
    Vcl_ClickAt(f.Handle(), 10 + 7, 140 + 9);
    ASSERT_EQ(f.calls.size(), 2u);
    EXPECT_EQ(f.calls[1], "PicMouseDown");
    EXPECT_EQ(f.downX, 7);
    EXPECT_EQ(f.downY, 9);
}

TEST(FormLoader, ReadsFromAFile)
{
    std::string path = ::testing::TempDir() + "small.form";
    {
        std::ofstream out(path, std::ios::binary);
        out << kSmallForm;
    }
    TForm f(nullptr);
    TFormBinder b;
    for (const char* h : {"FormCreate", "TickTimer", "GoClick", "ChoiceChange"}) b.Handler(h, [](TObject*) {});
    b.Handler("PicMouseDown", [](TObject*, TMouseButton, TShiftState, int, int) {});
    Vcl_ReadFormFile(&f, path.c_str(), b);
    EXPECT_EQ(f.Name, "Small");
    EXPECT_NE(dynamic_cast<TButton*>(f.FindComponent("Go")), nullptr);
    std::remove(path.c_str());
}

struct ErrorCase {
    const char* what;
    const char* from; // replaced in the small form by
    const char* to;
    const char* expected; // part of the message
    bool atEdit;          // the message names the line of the edit
};

TEST(FormLoader, ReportsErrorsWithTheirLine)
{
    const ErrorCase cases[] = {
        {"unknown class", "object Go: TButton", "object Go: TButtton", "unknown component class 'TButtton'", true},
        {"unknown property", "      Caption = 'Go'", "      Captoin = 'Go'",
         "unknown property 'Captoin' of Go (TButton)", true},
        {"unknown handler", "OnClick = GoClick", "OnClick = GoClik",
         "Go (TButton).OnClick: handler 'GoClik' for OnClick is not in", true},
        {"handler of the wrong kind", "OnClick = GoClick", "OnClick = PicMouseDown", "wrong parameters for OnClick",
         true},
        {"event of another class", "    OnChange = ChoiceChange", "    OnTimer = ChoiceChange",
         "unknown property 'OnTimer' of Choice (TComboBox)", true},
        {"wrong value type", "Interval = 25", "Interval = '25'",
         "Tick (TTimer).Interval: expected an integer, found a string", true},
        {"bad enum", "BevelOuter = bvNone", "BevelOuter = bvFlat", "unknown value 'bvFlat'", true},
        {"bad set member", "[akLeft, akBottom]", "[akLeft, akMiddle]", "unknown set member 'akMiddle'", true},
        {"bad colour", "Color = clBtnFace", "Color = clBtnFase", "unknown colour 'clBtnFase'", true},
        {"duplicate name", "object Note: TLabel", "object Go: TLabel", "a component named Go already exists", true},
        {"field of another class", "object Note: TLabel", "object Note: TButton",
         "field Note of the form does not take a TButton", true},
        {"field without component", "object Pic: TImage", "object Picture: TImage",
         "field Pic of the form has no component", false},
        {"wrong root class", "object Small: TSmallForm", "object Small: TOtherForm",
         "the description is of class TOtherForm", true},
        {"control in a timer", "    OnTimer = TickTimer\n",
         "    OnTimer = TickTimer\n    object Inner: TLabel\n    end\n", "Inner is a control, but", false},
        {"unterminated string", "'Go'", "'Go", "unterminated string", true},
        {"missing end", "  end\nend\n", "  end\n", "expected a property, an object or 'end', found the end", false},
        {"not a page", "ActivePage = Second", "ActivePage = Box", "'Box' is not a page of this page control", true},
    };
    for (const ErrorCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::string text = kSmallForm;
        size_t at = text.rfind(c.from);
        ASSERT_NE(at, std::string::npos);
        text.replace(at, strlen(c.from), c.to);
        int line = 1;
        for (size_t i = 0; i < at; i++) line += text[i] == '\n';
        try {
            TSmallForm f(text.c_str());
            ADD_FAILURE() << "no error";
        } catch (const EReadError& e) {
            std::string msg = e.what();
            EXPECT_NE(msg.find(c.expected), std::string::npos) << msg;
            if (c.atEdit) EXPECT_EQ(msg.rfind("small.form:" + std::to_string(line) + ": ", 0), 0u) << msg;
            else EXPECT_EQ(msg.rfind("small.form:", 0), 0u) << msg;
        }
    }
}

TEST(FormLoader, TryReadGivesTheMessage)
{
    TForm f(nullptr);
    AnsiString error;
    EXPECT_FALSE(Vcl_TryReadForm(&f, "object A: TForm\n  Widht = 3\nend\n", TFormBinder(), &error));
    EXPECT_NE(error.find("form:2: unknown property 'Widht'"), std::string::npos) << error;
    EXPECT_TRUE(Vcl_TryReadForm(&f, "object A: TForm\n  Width = 3\nend\n", TFormBinder(), &error));
    EXPECT_EQ(f.Width(), 3);
}

TEST(FormLoader, PictureDataHoldsABitmap)
{
    // A 3 x 2 bitmap written by the platform, stored as the format stores it.
    TBitmap bmp;
    bmp.SetPixelFormat(pf24bit);
    bmp.SetSize(3, 2);
    auto* row = (uint8_t*)bmp.ScanLine(1);
    row[0] = 0x11; // blue of pixel (0, 1)
    row[1] = 0x22;
    row[2] = 0x33;
    std::string path = ::testing::TempDir() + "pic.bmp";
    bmp.SaveToFile(path);
    std::ifstream in(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::remove(path.c_str());
    std::string data = "\x07TBitmap";
    uint32_t n = (uint32_t)file.size();
    data += std::string{(char)(n & 0xFF), (char)((n >> 8) & 0xFF), (char)((n >> 16) & 0xFF), (char)(n >> 24)};
    data += file;
    std::string hex;
    char buf[3];
    for (unsigned char ch : data) {
        snprintf(buf, sizeof buf, "%02X", ch);
        hex += buf;
        if (hex.size() % 64 == 0) hex += "\n      ";
    }
    std::string text = "object A: TForm\n  object P: TImage\n    AutoSize = True\n    Picture.Data = {\n      " + hex +
                       "}\n  end\nend\n";
    TForm f(nullptr);
    Vcl_ReadForm(&f, text.c_str(), TFormBinder());
    auto* p = dynamic_cast<TImage*>(f.FindComponent("P"));
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->Width(), 3);
    EXPECT_EQ(p->Height(), 2);
    TBitmap* got = p->Picture()->Bitmap();
    EXPECT_EQ(got->PixelFormat(), pf24bit);
    EXPECT_EQ(got->Canvas()->Pixels(0, 1), (TColor)0x112233);
}

TEST(FormLoader, RegisteredClassesAreBuilt)
{
    struct TGauge : TPanel {
        int level = 0;
        explicit TGauge(TComponent* o) : TPanel(o) {}
    };
    Vcl_RegisterClass("TGauge", "TPanel", [](TComponent* o) { return new TGauge(o); });
    Vcl_RegisterProperty("TGauge", "Level",
                         [](TComponent* c, const TFormValue& v) { static_cast<TGauge*>(c)->level = v.AsInt(); });
    EXPECT_TRUE(Vcl_IsClassRegistered("TGauge"));
    TForm f(nullptr);
    Vcl_ReadForm(&f, "object A: TForm\n  object G: TGauge\n    Level = 7\n    Caption = 'x'\n  end\nend\n",
                 TFormBinder());
    auto* g = dynamic_cast<TGauge*>(f.FindComponent("G"));
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->level, 7);
    EXPECT_EQ(g->Caption(), "x");
}

} // namespace
