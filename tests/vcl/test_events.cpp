// Event semantics of the controls: which changes from code raise events,
// what a user's click and typing raise and in what order, where a click on
// a disabled picture goes, and how children are laid out and destroyed.
#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/StdCtrls.h"
#include "tests/support/Wait.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A shown form of its own size; controls are made on it.
struct Stage {
    TForm form{nullptr};
    Stage(int w = 400, int h = 300)
    {
        form.SetBounds(0, 0, w, h);
        Vcl_ShowWindow(form.Handle(), "stage");
    }
    template <class T> T* Add(int l, int t, int w, int h, TWinControl* parent = nullptr)
    {
        T* c = new T(&form);
        c->SetParent(parent ? parent : &form);
        c->SetBounds(l, t, w, h);
        return c;
    }
};

TEST(Events, EditTextFromCodeRaisesOnChange)
{
    Stage s;
    auto* e = s.Add<TEdit>(10, 10, 100, 21);
    std::vector<std::string> seen;
    e->OnChange = [&](TObject* sender) {
        EXPECT_EQ(sender, e);
        seen.push_back(e->Text());
    };
    struct Step {
        const char* text;
        std::vector<std::string> after;
    };
    const Step steps[] = {
        {"abc", {"abc"}},
        {"abc", {"abc"}}, // the same text changes nothing
        {"", {"abc", ""}},
        {"x\xE9y", {"abc", "", "x\xE9y"}}, // 8-bit texts pass unchanged
    };
    for (const Step& st : steps) {
        e->SetText(st.text);
        EXPECT_EQ(seen, st.after) << st.text;
    }
    EXPECT_EQ(e->Text(), "x\xE9y");
}

// A memo's lines set as one text from code are the lines a string list
// splits it into (a last empty line aside, which a memo's text cannot end
// in) and change the memo once; the same text again changes nothing.
TEST(Events, MemoLinesTextFromCodeIsOneChange)
{
    Stage s;
    auto* memo = s.Add<TMemo>(10, 10, 150, 60);
    int changes = 0;
    memo->OnChange = [&](TObject*) { changes++; };
    struct Case {
        const char* text;
        int changes;
        std::vector<std::string> lines;
    } const cases[] = {
        {"one\r\ntwo\rthree\nfour", 1, {"one", "two", "three", "four"}},
        {"one\r\ntwo\rthree\nfour", 0, {"one", "two", "three", "four"}},
        {" \r\n  * help", 1, {" ", "  * help"}},
        {"a\r\n\r\nb\r\n", 1, {"a", "", "b"}},
        {"a\r\r\nb", 0, {"a", "", "b"}},
        {"", 1, {}},
        {"\r\n", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        changes = 0;
        memo->Lines()->SetText(c.text);
        EXPECT_EQ(changes, c.changes);
        std::vector<std::string> lines;
        for (int i = 0; i < memo->Lines()->Count(); i++) lines.push_back(memo->Lines()->Strings(i));
        EXPECT_EQ(lines, c.lines);
        TStringList list;
        list.SetText(c.text);
        if (list.Count() > 0 && list.Strings(list.Count() - 1).empty()) list.Delete(list.Count() - 1);
        ASSERT_EQ(list.Count(), (int)c.lines.size());
        for (int i = 0; i < list.Count(); i++) EXPECT_EQ(list.Strings(i), c.lines[(size_t)i]);
    }
}

TEST(Events, TypingRaisesOnChangeAndMaxLengthLimitsIt)
{
    Stage s;
    auto* e = s.Add<TEdit>(10, 10, 100, 21);
    e->SetMaxLength(3);
    int changes = 0;
    e->OnChange = [&](TObject*) { changes++; };
    e->SetFocus();
    for (char c : std::string("abcde")) Vcl_KeyPressAt(s.form.Handle(), c);
    EXPECT_EQ(e->Text(), "abc");
    EXPECT_EQ(changes, 3);
    e->SetText("longer than three"); // code is not limited
    EXPECT_EQ(e->Text(), "longer than three");
    EXPECT_EQ(changes, 4);
}

TEST(Events, TypingAtAPointReplacesTheTextThere)
{
    Stage s;
    auto* e = s.Add<TEdit>(10, 10, 100, 21);
    auto* limited = s.Add<TEdit>(10, 40, 100, 21);
    auto* combo = s.Add<TComboBox>(10, 70, 120, 21);
    auto* memo = s.Add<TMemo>(10, 100, 150, 60);
    auto* label = s.Add<TLabel>(200, 10, 80, 16);
    label->SetCaption("label");
    limited->SetMaxLength(4);
    e->SetText("old text");
    combo->SetText("old");
    memo->SetText("old lines");
    std::vector<std::string> seen;
    e->OnChange = [&](TObject*) { seen.push_back(e->Text()); };

    EXPECT_EQ(Vcl_TypeTextAt(s.form.Handle(), 20, 20, "ab, c"), 0);
    EXPECT_EQ(e->Text(), "ab, c");
    // Select-all then typing: one change per key, as a user's typing.
    EXPECT_EQ(seen, (std::vector<std::string>{"a", "ab", "ab,", "ab, ", "ab, c"}));
    EXPECT_EQ(Vcl_TypeTextAt(s.form.Handle(), 20, 50, "123456"), 0);
    EXPECT_EQ(limited->Text(), "1234") << "typing stops at MaxLength";
    EXPECT_EQ(Vcl_TypeTextAt(s.form.Handle(), 20, 80, "Mail"), 0);
    EXPECT_EQ(combo->Text(), "Mail");
    EXPECT_EQ(Vcl_TypeTextAt(s.form.Handle(), 20, 110, "one\ntwo"), 0);
    EXPECT_EQ(memo->Lines()->Count(), 2);
    EXPECT_EQ(memo->Lines()->Strings(1), "two");
    EXPECT_EQ(Vcl_TypeTextAt(s.form.Handle(), 20, 20, ""), 0);
    EXPECT_EQ(e->Text(), "");
    EXPECT_EQ(seen.back(), "");

    EXPECT_EQ(Vcl_TypeTextAt(s.form.Handle(), 210, 15, "x"), -1) << "a label takes no text";
    EXPECT_EQ(Vcl_TypeTextAt(s.form.Handle(), 390, 290, "x"), -1) << "nothing there";
    e->SetEnabled(false);
    EXPECT_EQ(Vcl_TypeTextAt(s.form.Handle(), 20, 20, "x"), -1);
    EXPECT_EQ(e->Text(), "");
}

TEST(Events, TheTextShownAtAPointIsRead)
{
    Stage s;
    auto* e = s.Add<TEdit>(10, 10, 100, 21);
    auto* label = s.Add<TLabel>(200, 10, 80, 16);
    auto* over = s.Add<TLabel>(200, 60, 80, 16);
    auto* under = s.Add<TEdit>(200, 60, 80, 21);
    auto* button = s.Add<TButton>(10, 70, 80, 25);
    e->SetText("typed");
    label->SetCaption("2026/12/10 10:00:02");
    over->SetCaption("on top");
    under->SetText("below");
    button->SetCaption("OK");
    char text[64];
    struct Case {
        int x, y, result;
        const char* text;
    } const cases[] = {
        {20, 20, 0, "typed"},
        {210, 15, 0, "2026/12/10 10:00:02"},
        {20, 80, 0, "OK"},
        {390, 290, -1, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Vcl_TextAt(s.form.Handle(), c.x, c.y, text, sizeof text), c.result) << c.x << "," << c.y;
        EXPECT_STREQ(text, c.text);
    }
    // Cut to the room given, and a hidden control shows nothing.
    EXPECT_EQ(Vcl_TextAt(s.form.Handle(), 210, 15, text, 5), 0);
    EXPECT_STREQ(text, "2026");
    label->SetVisible(false);
    EXPECT_EQ(Vcl_TextAt(s.form.Handle(), 210, 15, text, sizeof text), -1);
    EXPECT_EQ(Vcl_TextAt(nullptr, 210, 15, text, sizeof text), -1);
    (void)over;
}

TEST(Events, NamedKeysGoToTheFocusedControl)
{
    Stage s;
    auto* first = s.Add<TEdit>(10, 10, 100, 21);
    auto* list = s.Add<TComboBox>(10, 40, 120, 21);
    auto* button = s.Add<TButton>(10, 70, 80, 25);
    list->SetStyle(csDropDownList);
    for (const char* item : {"one", "two", "three"}) list->Items()->Add(item);
    list->SetItemIndex(0);
    int changes = 0, clicks = 0;
    list->OnChange = [&](TObject*) { changes++; };
    button->OnClick = [&](TObject*) { clicks++; };

    // (The offscreen window is never active, so focus shows in where the
    // keys land rather than in Focused.)
    first->SetFocus();
    EXPECT_EQ(Vcl_KeyAt(s.form.Handle(), "Tab"), 0);
    EXPECT_EQ(Vcl_KeyAt(s.form.Handle(), "Down"), 0);
    EXPECT_EQ(Vcl_KeyAt(s.form.Handle(), "Down"), 0);
    EXPECT_EQ(list->ItemIndex(), 2);
    EXPECT_EQ(Vcl_KeyAt(s.form.Handle(), "Up"), 0);
    EXPECT_EQ(list->ItemIndex(), 1);
    EXPECT_EQ(changes, 3) << "each key is the user's choice";
    EXPECT_EQ(Vcl_KeyAt(s.form.Handle(), "Tab"), 0);
    EXPECT_EQ(Vcl_KeyAt(s.form.Handle(), "Space"), 0);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(Vcl_KeyAt(s.form.Handle(), "F13"), -1);
}

TEST(Events, ComboItemIndexFromCodeIsSilent)
{
    Stage s;
    auto* c = s.Add<TComboBox>(10, 10, 120, 21);
    c->SetStyle(csDropDownList);
    int changes = 0;
    c->OnChange = [&](TObject*) { changes++; };
    for (const char* item : {"one", "two", "three"}) c->Items()->Add(item);
    EXPECT_EQ(c->ItemIndex(), -1) << "adding items selects none";
    struct Case {
        int set, expect;
    };
    const Case cases[] = {{1, 1}, {2, 2}, {7, -1}, {-5, -1}, {0, 0}};
    for (const Case& k : cases) {
        c->SetItemIndex(k.set);
        EXPECT_EQ(c->ItemIndex(), k.expect) << k.set;
    }
    c->SetText("three");
    EXPECT_EQ(c->ItemIndex(), 2);
    EXPECT_EQ(changes, 0);

    // The user's choice (typing the first letter picks an item) does raise it.
    c->SetItemIndex(0);
    c->SetFocus();
    Vcl_KeyPressAt(s.form.Handle(), 't');
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(c->Text().substr(0, 1), "t");

    c->Items()->Clear();
    EXPECT_EQ(c->ItemIndex(), -1);
    EXPECT_EQ(changes, 1);
}

TEST(Events, PageChangesFromCodeAreSilentUserTabsRaiseOnChange)
{
    Stage s;
    auto* pc = s.Add<TPageControl>(10, 10, 300, 200);
    std::vector<TTabSheet*> sheets;
    for (const char* cap : {"One", "Two", "Three"}) {
        auto* t = new TTabSheet(&s.form);
        t->SetPageControl(pc);
        t->SetCaption(cap);
        sheets.push_back(t);
    }
    std::vector<int> changes;
    pc->OnChange = [&](TObject*) { changes.push_back(pc->ActivePageIndex()); };
    EXPECT_EQ(pc->PageCount(), 3);
    EXPECT_EQ(pc->ActivePageIndex(), 0);
    pc->SetActivePageIndex(1);
    EXPECT_EQ(pc->ActivePage(), sheets[1]);
    pc->SetActivePageIndex(9);
    EXPECT_EQ(pc->ActivePageIndex(), -1);
    pc->SetActivePage(sheets[1]);
    EXPECT_TRUE(changes.empty());
    EXPECT_TRUE(sheets[1]->Showing());
    EXPECT_FALSE(sheets[0]->Showing());

    TRect tab = pc->TabRect(2);
    ASSERT_GT(tab.Width(), 0);
    Vcl_ClickAt(s.form.Handle(), 10 + (tab.Left + tab.Right) / 2, 10 + (tab.Top + tab.Bottom) / 2);
    EXPECT_EQ(changes, std::vector<int>{2});
    EXPECT_TRUE(sheets[2]->Showing());

    // Hiding the active page's tab moves to another page without an event.
    sheets[2]->SetTabVisible(false);
    EXPECT_NE(pc->ActivePage(), sheets[2]);
    EXPECT_NE(pc->ActivePage(), nullptr);
    EXPECT_EQ(pc->TabRect(2).Width(), 0);
    EXPECT_EQ(changes.size(), 1u);

    // The pages fill the page area.
    TRect area = pc->DisplayRect();
    EXPECT_EQ(sheets[0]->Width(), area.Width());
    EXPECT_EQ(sheets[0]->Top(), area.Top);
}

TEST(Events, CheckedFromCodeRaisesOnClick)
{
    Stage s;
    auto* c = s.Add<TCheckBox>(10, 10, 100, 17);
    int clicks = 0;
    c->OnClick = [&](TObject*) { clicks++; };
    c->SetChecked(true);
    c->SetChecked(true);
    EXPECT_EQ(clicks, 1);
    Vcl_ClickAt(s.form.Handle(), 15, 18);
    EXPECT_FALSE(c->Checked());
    EXPECT_EQ(clicks, 2);
}

TEST(Events, MouseEventsComeInTheirOrderWithLocalPositions)
{
    Stage s;
    auto* img = s.Add<TImage>(50, 60, 40, 30);
    std::vector<std::string> seen;
    img->OnMouseDown = [&](TObject*, TMouseButton b, TShiftState sh, int x, int y) {
        seen.push_back("down " + std::to_string(b) + (sh & ssDouble ? " double " : " ") + std::to_string(x) + "," +
                       std::to_string(y));
    };
    img->OnMouseUp = [&](TObject*, TMouseButton b, TShiftState, int x, int y) {
        seen.push_back("up " + std::to_string(b) + " " + std::to_string(x) + "," + std::to_string(y));
    };
    img->OnMouseMove = [&](TObject*, TShiftState sh, int x, int y) {
        seen.push_back(std::string(sh & ssLeft ? "drag " : "move ") + std::to_string(x) + "," + std::to_string(y));
    };
    img->OnClick = [&](TObject*) { seen.push_back("click"); };
    img->OnDblClick = [&](TObject*) { seen.push_back("dblclick"); };
    void* h = s.form.Handle();

    Vcl_ClickAt(h, 55, 66);
    EXPECT_EQ(seen, (std::vector<std::string>{"down 0 5,6", "click", "up 0 5,6"}));
    seen.clear();

    // Moves while pressed go to the pressed control, also outside it; a
    // release outside gives no click.
    Vcl_MouseAt(h, vmaMove, mbLeft, 60, 70);
    Vcl_MouseAt(h, vmaPress, mbLeft, 60, 70);
    Vcl_MouseAt(h, vmaMove, mbLeft, 150, 70);
    Vcl_MouseAt(h, vmaRelease, mbLeft, 150, 70);
    EXPECT_EQ(seen, (std::vector<std::string>{"move 10,10", "down 0 10,10", "drag 100,10", "up 0 100,10"}));
    seen.clear();

    Vcl_MouseAt(h, vmaPress, mbRight, 51, 61);
    Vcl_MouseAt(h, vmaRelease, mbRight, 51, 61);
    Vcl_MouseAt(h, vmaDoubleClick, mbLeft, 52, 62);
    Vcl_MouseAt(h, vmaRelease, mbLeft, 52, 62);
    EXPECT_EQ(seen, (std::vector<std::string>{"down 1 1,1", "up 1 1,1", "dblclick", "down 0 double 2,2", "up 0 2,2"}));
}

TEST(Events, DisabledPictureLetsTheClickThrough)
{
    struct Case {
        bool topEnabled;
        bool bottomExists;
        const char* receiver;
    };
    const Case cases[] = {
        {true, true, "top"},
        {false, true, "bottom"},
        {false, false, "form"},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.receiver);
        Stage s;
        std::string got;
        int gotX = -1;
        auto record = [&](const char* who) {
            return [&got, &gotX, who](TObject*, TMouseButton, TShiftState, int x, int) {
                got += who;
                gotX = x;
            };
        };
        s.form.OnMouseDown = record("form");
        if (k.bottomExists) s.Add<TImage>(20, 20, 100, 100)->OnMouseDown = record("bottom");
        auto* top = s.Add<TImage>(40, 40, 60, 60);
        top->OnMouseDown = record("top");
        top->SetEnabled(k.topEnabled);
        Vcl_ClickAt(s.form.Handle(), 50, 50);
        EXPECT_EQ(got, k.receiver);
        EXPECT_EQ(gotX, std::string(k.receiver) == "top" ? 10 : std::string(k.receiver) == "bottom" ? 30 : 50);
    }
}

TEST(Events, PicturesStayBelowWindowedControls)
{
    Stage s;
    auto* panel = s.Add<TPanel>(10, 10, 100, 100);
    auto* img = s.Add<TImage>(0, 0, 200, 200); // made later, still below
    int panelDown = 0, imgDown = 0;
    panel->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { panelDown++; };
    img->OnMouseDown = [&](TObject*, TMouseButton, TShiftState, int, int) { imgDown++; };
    Vcl_ClickAt(s.form.Handle(), 50, 50);
    Vcl_ClickAt(s.form.Handle(), 150, 150);
    EXPECT_EQ(panelDown, 1);
    EXPECT_EQ(imgDown, 1);
}

TEST(Events, LabelsFitTheirCaption)
{
    Stage s;
    auto* left = s.Add<TLabel>(10, 10, 5, 5);
    auto* right = s.Add<TLabel>(100, 40, 50, 5);
    right->SetAlignment(taRightJustify);
    left->SetCaption("short");
    int shortWidth = left->Width();
    left->SetCaption("a rather longer caption");
    EXPECT_GT(left->Width(), shortWidth);
    EXPECT_EQ(left->Left(), 10);
    EXPECT_GT(left->Height(), 5);
    int rightEdge = right->Left() + right->Width();
    right->SetCaption("right aligned text");
    EXPECT_EQ(right->Left() + right->Width(), rightEdge);
    auto* fixed = s.Add<TLabel>(10, 80, 300, 13);
    fixed->SetAutoSize(false);
    fixed->SetCaption("x");
    EXPECT_EQ(fixed->Width(), 300);
}

// A label fits its caption again whenever its font or caption changes,
// and comes back to the same size with the same font and caption.
TEST(Events, LabelsRefitWhenTheirFontChanges)
{
    Stage s;
    auto* label = s.Add<TLabel>(10, 10, 5, 5);
    auto* twin = s.Add<TLabel>(10, 40, 5, 5);
    label->SetCaption("caption");
    const int w = label->Width(), h = label->Height(), height = label->Font()->Height();
    label->Font()->SetHeight(-30);
    EXPECT_GT(label->Width(), w);
    EXPECT_GT(label->Height(), h);
    label->Font()->SetStyle(fsBold);
    const int bold = label->Width();
    label->Font()->SetStyle(0);
    EXPECT_LT(label->Width(), bold);
    label->Font()->SetHeight(height);
    EXPECT_EQ(label->Width(), w);
    EXPECT_EQ(label->Height(), h);
    twin->SetCaption("caption");
    EXPECT_EQ(twin->Width(), w);
    twin->SetCaption("caption!");
    EXPECT_GT(twin->Width(), w);
    label->SetWordWrap(true);
    label->SetWidth(20);
    label->SetCaption("several words to wrap");
    EXPECT_EQ(label->Width(), 20);
    EXPECT_GT(label->Height(), 2 * h);
}

TEST(Events, AlignedChildrenShareTheParent)
{
    Stage s;
    auto* p = s.Add<TPanel>(0, 0, 300, 200);
    p->SetBevelOuter(bvNone);
    struct Case {
        TAlign align;
        int size; // height or width as placed
        TRect expect;
    };
    const Case cases[] = {
        {alTop, 30, Rect(0, 0, 300, 30)},      {alBottom, 20, Rect(0, 180, 300, 200)},
        {alLeft, 50, Rect(0, 30, 50, 180)},    {alRight, 40, Rect(260, 30, 300, 180)},
        {alClient, 0, Rect(50, 30, 260, 180)},
    };
    std::vector<TPanel*> kids;
    for (const Case& k : cases) {
        auto* c = s.Add<TPanel>(0, 0, k.size, k.size, p);
        c->SetAlign(k.align);
        kids.push_back(c);
    }
    for (size_t i = 0; i < kids.size(); i++) {
        TRect r = kids[i]->BoundsRect();
        EXPECT_EQ(r.Left, cases[i].expect.Left) << i;
        EXPECT_EQ(r.Top, cases[i].expect.Top) << i;
        EXPECT_EQ(r.Right, cases[i].expect.Right) << i;
        EXPECT_EQ(r.Bottom, cases[i].expect.Bottom) << i;
    }
    p->SetWidth(400); // the parent's size carries through
    EXPECT_EQ(kids[4]->Width(), 400 - 50 - 40);
    kids[0]->Hide(); // hidden ones take no room
    EXPECT_EQ(kids[4]->Top(), 0);
}

TEST(Events, BoundLabelFollowsItsEdit)
{
    struct Case {
        TLabelPosition pos;
        bool labelLeftOfEdit, labelAbove;
    };
    const Case cases[] = {{lpLeft, true, false}, {lpAbove, false, true}};
    for (const Case& k : cases) {
        Stage s;
        auto* e = s.Add<TLabeledEdit>(150, 100, 100, 21);
        e->SetLabelPosition(k.pos);
        e->EditLabel()->SetCaption("Name : ");
        TBoundLabel* l = e->EditLabel();
        if (k.labelLeftOfEdit) {
            EXPECT_EQ(l->Left() + l->Width() + 3, e->Left());
            EXPECT_EQ(l->Top(), e->Top() + (e->Height() - l->Height()) / 2);
        }
        if (k.labelAbove) {
            EXPECT_EQ(l->Left(), e->Left());
            EXPECT_EQ(l->Top() + l->Height() + 3, e->Top());
        }
        e->SetLeft(200);
        if (k.labelLeftOfEdit) {
            EXPECT_EQ(l->Left() + l->Width() + 3, 200);
        }
        e->Hide();
        EXPECT_FALSE(l->Visible());
        e->SetEnabled(false);
        EXPECT_FALSE(l->Enabled());
    }
}

TEST(Events, ChildrenGoWithTheirParent)
{
    auto* form = new TForm(nullptr);
    auto* panel = new TPanel(form);
    panel->SetParent(form);
    auto* inner = new TPanel(form);
    inner->SetParent(panel);
    auto* edit = new TLabeledEdit(form);
    edit->SetParent(inner);
    auto* sheetHolder = new TPageControl(form);
    sheetHolder->SetParent(panel);
    auto* sheet = new TTabSheet(form);
    sheet->SetPageControl(sheetHolder);
    new TButton(form); // owned, never parented
    EXPECT_EQ(form->ComponentCount(), 6);
    delete panel;
    EXPECT_EQ(form->ComponentCount(), 1);
    EXPECT_EQ(form->ControlCount(), 0);
    delete form;
}

TEST(Events, AHandlerMayReleaseItsForm)
{
    auto* form = new TForm(nullptr);
    form->SetBounds(0, 0, 100, 100);
    Vcl_ShowWindow(form->Handle(), "gone");
    auto* b = new TButton(form);
    b->SetParent(form);
    b->SetBounds(10, 10, 50, 20);
    bool destroyed = false;
    form->OnDestroy = [&](TObject*) { destroyed = true; };
    b->OnClick = [&](TObject*) { form->Release(); };
    Vcl_ClickAt(form->Handle(), 20, 20);
    EXPECT_FALSE(destroyed);
    EXPECT_TRUE(Application_ProcessMessagesUntil([&] { return destroyed; }, kWaitLimitMs));
}

TEST(Events, CloseAsksOnClose)
{
    TForm form(nullptr);
    Vcl_ShowWindow(form.Handle(), "close");
    TCloseAction answer = caNone;
    int asked = 0;
    form.OnClose = [&](TObject*, TCloseAction& a) {
        EXPECT_EQ(a, caHide);
        a = answer;
        asked++;
    };
    form.Close();
    EXPECT_TRUE(form.Visible());
    answer = caHide;
    form.Close();
    EXPECT_FALSE(form.Visible());
    EXPECT_EQ(asked, 2);
}

TEST(Events, KeyPreviewSeesAndChangesKeys)
{
    Stage s;
    auto* e = s.Add<TEdit>(10, 10, 100, 21);
    s.form.SetKeyPreview(true);
    std::string seen;
    s.form.OnKeyPress = [&](TObject*, char& key) {
        seen += key;
        if (key == 'x') key = 0;        // eaten
        else if (key == 'a') key = 'A'; // changed
    };
    e->SetFocus();
    for (char c : std::string("axb")) Vcl_KeyPressAt(s.form.Handle(), c);
    EXPECT_EQ(seen, "axb");
    EXPECT_EQ(e->Text(), "Ab");
}

} // namespace
