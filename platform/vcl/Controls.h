// Controls of the class library: TControl (bounds, visibility, enabling,
// colour, font, mouse and click events), the windowless TGraphicControl
// and the container TWinControl with its child list and alignment.
#pragma once
#include "platform/vcl/Classes.h"
#include "platform/vcl/Graphics.h"
#include "platform/vcl/Vcl.h"

#include <functional>
#include <vector>

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// Keys and buttons held during a mouse or key event, as bits.
enum TShiftStateFlag { ssShift = 1, ssAlt = 2, ssCtrl = 4, ssLeft = 8, ssRight = 16, ssMiddle = 32, ssDouble = 64 };
typedef unsigned TShiftState;

typedef std::function<void(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y)> TMouseEvent;
typedef std::function<void(TObject* Sender, TShiftState Shift, int X, int Y)> TMouseMoveEvent;
typedef std::function<void(TObject* Sender, char& Key)> TKeyPressEvent;

enum TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
enum TAnchorKind { akLeft = 1, akTop = 2, akRight = 4, akBottom = 8 };
typedef unsigned TAnchors;
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TImeMode {
    imDisable,
    imClose,
    imOpen,
    imDontCare,
    imSAlpha,
    imAlpha,
    imHira,
    imSKata,
    imKata,
    imChinese,
    imSHanguel,
    imHanguel
};

typedef int TCursor;
enum : int {
    crDefault = 0,
    crNone = -1,
    crArrow = -2,
    crCross = -3,
    crIBeam = -4,
    crSizeNESW = -6,
    crSizeNS = -7,
    crSizeNWSE = -8,
    crSizeWE = -9,
    crUpArrow = -10,
    crHourGlass = -11,
    crDrag = -12,
    crNoDrop = -13,
    crHSplit = -14,
    crVSplit = -15,
    crMultiDrag = -16,
    crSQLWait = -17,
    crNo = -18,
    crAppStart = -19,
    crHelp = -20,
    crHandPoint = -21,
    crSizeAll = -22,
};

class TWinControl;

// Left and Top are relative to the parent's client area. A control without
// a parent is never shown (forms excepted). Handlers run on the
// user-interface thread; an exception escaping a handler that the message
// loop called is reported through Application_HandleException.
//
// Mouse semantics: OnMouseDown on a press, OnMouseMove on every move (the
// pressed control keeps receiving moves and the release), OnClick when the
// left button is released over the control it was pressed on (before
// OnMouseUp), OnDblClick followed by OnMouseDown with ssDouble on a double
// click. A disabled graphic control lets the mouse through to whatever lies
// under it.
class TControl : public TComponent {
public:
    explicit TControl(TComponent* AOwner);
    ~TControl() override;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    TWinControl* Parent() const;
    virtual void SetParent(TWinControl* parent);

    int Left() const;
    int Top() const;
    int Width() const;
    int Height() const;
    void SetLeft(int value);
    void SetTop(int value);
    void SetWidth(int value);
    void SetHeight(int value);
    virtual void SetBounds(int left, int top, int width, int height);
    int ClientWidth() const { return Width(); }
    int ClientHeight() const { return Height(); }
    void SetClientWidth(int value) { SetWidth(value); }
    void SetClientHeight(int value) { SetHeight(value); }
    TRect BoundsRect() const;
    TRect ClientRect() const;

    bool Visible() const;
    virtual void SetVisible(bool value);
    void Show() { SetVisible(true); }
    void Hide() { SetVisible(false); }
    // Visible, and every parent up to a form is too.
    bool Showing() const;
    bool Enabled() const;
    virtual void SetEnabled(bool value);

    // The control's text: the caption of labels, buttons and panels, the
    // contents of edits. Setting it to the same text changes nothing.
    virtual AnsiString Text() const;
    virtual void SetText(const AnsiString& value);
    AnsiString Caption() const { return Text(); }
    void SetCaption(const AnsiString& value) { SetText(value); }

    TColor Color() const;
    void SetColor(TColor value);
    bool ParentColor() const;
    void SetParentColor(bool value);
    // Changes through the font raise the control's repaint; until the
    // control's font is changed it follows its parent's (ParentFont).
    TFont* Font() const;
    bool ParentFont() const;
    void SetParentFont(bool value);

    AnsiString Hint() const;
    void SetHint(const AnsiString& value);
    bool ShowHint() const;
    void SetShowHint(bool value);
    TCursor Cursor() const;
    void SetCursor(TCursor value);
    TAlign Align() const;
    void SetAlign(TAlign value);
    TAnchors Anchors() const;
    void SetAnchors(TAnchors value);

    // Paints at once.
    void Repaint();
    void Refresh() { Repaint(); }
    // Paints on the next pass of the message loop.
    void Invalidate();
    void Update();
    void BringToFront();
    void SendToBack();

    // Raises OnClick.
    virtual void Click();

    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;

    struct Impl;
    Impl* FImpl;

    // Internal: raised after the control's font (own or inherited) changed.
    virtual void FontChanged() {}
    // Internal: raised after the bounds changed, whoever changed them.
    virtual void BoundsChanged() {}

protected:
    // Called by the subclasses' constructors with their backing object.
    void AttachWidget(void* widget, bool graphic);
    virtual void TextChanged() {}
    friend class TWinControl;
};

// A control without a window of its own: drawn on its parent, always below
// the parent's windowed children.
class TGraphicControl : public TControl {
public:
    explicit TGraphicControl(TComponent* AOwner) : TControl(AOwner) {}
};

// A control that can hold children. Destroying it destroys its children.
class TWinControl : public TControl {
public:
    explicit TWinControl(TComponent* AOwner);
    ~TWinControl() override;

    int ControlCount() const { return (int)FControls.size(); }
    TControl* Controls(int index) const;
    // The opaque window handle (the backend's widget).
    void* Handle() const;
    bool DoubleBuffered() const { return FDoubleBuffered; }
    void SetDoubleBuffered(bool value) { FDoubleBuffered = value; }
    int TabOrder() const { return FTabOrder; }
    void SetTabOrder(int value) { FTabOrder = value; }
    bool TabStop() const;
    void SetTabStop(bool value);
    TImeMode ImeMode() const { return FImeMode; }
    void SetImeMode(TImeMode value);
    void SetFocus();
    bool Focused() const;
    // Lays out the aligned children again.
    void Realign();
    // The area aligned children share (the client rect less borders).
    virtual TRect AlignClientRect() const { return ClientRect(); }

    TKeyPressEvent OnKeyPress;

    // Internal: children enter and leave the list through SetParent.
    virtual void InsertControl(TControl* control);
    virtual void RemoveControl(TControl* control);
    // Internal: the backend object that children are placed in.
    virtual void* ClientWidget() const;

private:
    std::vector<TControl*> FControls;
    bool FDoubleBuffered = false;
    int FTabOrder = -1;
    TImeMode FImeMode = imDontCare;
    bool FAligning = false;
    friend class TControl;
};
