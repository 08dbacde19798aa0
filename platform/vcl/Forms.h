// Forms of the class library (TCustomForm, TForm) and the few calls a host
// program needs to show a form in a window, grab it as a picture and click
// on it the way a user does.
#pragma once
#include "platform/vcl/Controls.h"
#include "platform/vcl/Dialogs.h"

enum TCloseAction { caNone, caHide, caFree, caMinimize };
typedef std::function<void(TObject* Sender, TCloseAction& Action)> TCloseEvent;

enum TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon { biSystemMenu = 1, biMinimize = 2, biMaximize = 4, biHelp = 8 };
typedef unsigned TBorderIcons;
enum TPosition {
    poDesigned,
    poDefault,
    poDefaultPosOnly,
    poDefaultSizeOnly,
    poScreenCenter,
    poDesktopCenter,
    poMainFormCenter,
    poOwnerFormCenter
};
enum TActiveFormBorderStyle { afbNone, afbSingle, afbSunken, afbRaised };
enum TPrintScale { poNone, poProportional, poPrintToFit };

// A form: a top-level window when it has no parent, otherwise a child of
// its parent. Width and Height are its client area. Caption is the window
// title.
//
// Life cycle: the creator calls AfterConstruction() once the derived
// constructor has read the form's description (Vcl_CreateForm does both),
// which raises OnCreate; DoDestroy() raises OnDestroy and is called by
// Release and by derived destructors that want it (the destructor of this
// class cannot, the derived part being gone by then). Exceptions escaping
// OnCreate are reported through Application_HandleException.
class TCustomForm : public TWinControl {
public:
    explicit TCustomForm(TComponent* AOwner);
    ~TCustomForm() override;

    void AfterConstruction();
    void DoDestroy();

    void SetVisible(bool value) override;
    // Shows the form (as a window when it has no parent) and raises it.
    void Show();
    void Hide() { SetVisible(false); }
    // Asks OnClose (Action starts as caHide), then hides or releases.
    void Close();
    // Frees the form on the next pass of the message loop.
    void Release();
    bool Active() const;

    TFormBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TFormBorderStyle value);
    TBorderIcons BorderIcons() const { return FBorderIcons; }
    void SetBorderIcons(TBorderIcons value) { FBorderIcons = value; }
    TPosition Position() const { return FPosition; }
    void SetPosition(TPosition value) { FPosition = value; }
    // With KeyPreview, OnKeyPress sees keys before the focused control.
    bool KeyPreview() const { return FKeyPreview; }
    void SetKeyPreview(bool value);

    // Kept for the host's automation properties; no effect on drawing.
    bool AutoScroll() const { return FAutoScroll; }
    void SetAutoScroll(bool value) { FAutoScroll = value; }
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value) { FAutoSize = value; }
    TActiveFormBorderStyle AxBorderStyle() const { return FAxBorderStyle; }
    void SetAxBorderStyle(TActiveFormBorderStyle value) { FAxBorderStyle = value; }
    int BorderWidth() const { return FBorderWidth; }
    void SetBorderWidth(int value) { FBorderWidth = value; }
    int PixelsPerInch() const { return FPixelsPerInch; }
    void SetPixelsPerInch(int value) { FPixelsPerInch = value; }
    TPrintScale PrintScale() const { return FPrintScale; }
    void SetPrintScale(TPrintScale value) { FPrintScale = value; }
    bool Scaled() const { return FScaled; }
    void SetScaled(bool value) { FScaled = value; }
    bool DropTarget() const { return FDropTarget; }
    void SetDropTarget(bool value) { FDropTarget = value; }
    AnsiString HelpFile() const { return FHelpFile; }
    void SetHelpFile(const AnsiString& value) { FHelpFile = value; }
    bool AlignDisabled() const { return false; }
    int VisibleDockClientCount() const { return 0; }

    TNotifyEvent OnCreate;
    TNotifyEvent OnDestroy;
    TNotifyEvent OnActivate;
    TNotifyEvent OnDeactivate;
    TNotifyEvent OnShow;
    TNotifyEvent OnHide;
    TNotifyEvent OnPaint;
    TNotifyEvent OnResize;
    TCloseEvent OnClose;

    struct FormImpl;
    FormImpl* FForm;

    // Internal: the window's own close request.
    void DoClose(bool fromWindow, bool* accept);

protected:
    void TextChanged() override;

private:
    TFormBorderStyle FBorderStyle = bsSizeable;
    TBorderIcons FBorderIcons = biSystemMenu | biMinimize | biMaximize;
    TPosition FPosition = poDesigned;
    bool FKeyPreview = false, FAutoScroll = true, FAutoSize = false, FScaled = true, FDropTarget = false;
    TActiveFormBorderStyle FAxBorderStyle = afbNone;
    int FBorderWidth = 0, FPixelsPerInch = 96;
    TPrintScale FPrintScale = poProportional;
    AnsiString FHelpFile;
    bool FCreated = false, FDestroyed = false;
    friend struct FormImpl;
};

class TForm : public TCustomForm {
public:
    explicit TForm(TComponent* AOwner) : TCustomForm(AOwner) {}
};

// new T(owner), then AfterConstruction (OnCreate).
template <class T> T* Vcl_CreateForm(TComponent* owner)
{
    T* form = new T(owner);
    form->AfterConstruction();
    return form;
}

// Reports an exception the way the message loop does: a message box with
// the text (through the dialog hook), caption "Error".
void Application_HandleException(const char* message);

// --- Host helpers ------------------------------------------------------
// handle is TWinControl::Handle() of a form (or any windowed control).

// Shows the form as a top-level window of its own size with the title.
int Vcl_ShowWindow(void* handle, const char* title);
// Puts the window inside parent (another handle) at (0, 0); null parent
// makes it top-level again.
int Vcl_SetWindowParent(void* handle, void* parent);
// The showing top-level window with that title (of any form of the
// process, also one made by another copy of the library), or null.
void* Vcl_FindWindow(const char* title);
// Writes the window as it looks now, children included, as a PNG file.
// 0, or -1 when the handle is null or the file cannot be written.
int Vcl_SaveWindowPng(void* handle, const char* path);
// Draws the window as it looks now, children included, into 32-bit pixels
// (0x00RRGGBB little-endian, the top byte set to 0xFF) of width x height:
// firstRow is the top row, rowStride the bytes from a row to the one
// below it (negative for rows kept bottom-up), and the window lands
// scaled on the rectangle left, top, right, bottom of those pixels,
// clipped to them. Also for a hidden window. 0, or -1 for a null handle
// or an empty rectangle.
int Vcl_PaintWindow(void* handle, void* firstRow, int width, int height, int rowStride, int left, int top, int right,
                    int bottom);
// Writes 32-bit pixels laid out as above (top row first) as a PNG file.
int Vcl_SavePixelsPng(const void* firstRow, int width, int height, int rowStride, const char* path);
// Calls changed() whenever the class library repaints the form (a handle
// of a form) or a control on it: Repaint, Invalidate, Update, a picture,
// text, colour, font or visibility change; also while the form is
// hidden. Null stops it. One observer per form; -1 when the handle is not
// a form's.
int Vcl_SetRepaintObserver(void* handle, std::function<void()> changed);
// The colour of one pixel of the window as drawn now (0x00RRGGBB), or -1.
long Vcl_WindowPixel(void* handle, int x, int y);
// The colours of the w x h pixels from x, y of the window as drawn now
// (0x00RRGGBB, row by row) into out, which holds w * h. 0, or -1 when the
// area is not wholly inside the window.
int Vcl_WindowPixels(void* handle, int x, int y, int w, int h, uint32_t* out);

enum TVclMouseAction { vmaPress, vmaRelease, vmaMove, vmaDoubleClick };
// Delivers one mouse event at window coordinates x, y to the child under
// the point, the way the user's mouse does (a release goes to the control
// that took the press). 0, or -1 for a null handle.
int Vcl_MouseAt(void* handle, TVclMouseAction action, TMouseButton button, int x, int y);
// Press and release of the left button at x, y: OnMouseDown, OnClick and
// OnMouseUp of the control under the point run before this returns.
int Vcl_ClickAt(void* handle, int x, int y);
// Types one character into the focused control of the window.
int Vcl_KeyPressAt(void* handle, char key);
// Clicks at x, y, then replaces the text of the edit, memo or editable
// combo box there the way a user does: selects all of it and types text,
// UTF-8, one character after another (so MaxLength, MaxBytes and OnChange
// behave as for typing; "\n" is Enter). -1 when there is no such control
// at the point.
int Vcl_TypeTextAt(void* handle, int x, int y, const char* text);
// The text of the label, edit or button shown at window coordinates x, y
// (the topmost one there), as UTF-8 into out (at most size - 1 bytes and a
// NUL). 0, or -1 when no such control shows at the point.
int Vcl_TextAt(void* handle, int x, int y, char* out, int size);
// Whether the control shown at window coordinates x, y takes input now:
// 1 when it is enabled, 0 when it (or a parent) is greyed, -1 when no
// control but the window itself is there.
int Vcl_EnabledAt(void* handle, int x, int y);
// Presses one named key in the focused control of the window: "Tab",
// "Enter", "Down", "Up", "Space" (and "Backtab", "Escape", "Left",
// "Right", "Home", "End"). -1 for an unknown name.
int Vcl_KeyAt(void* handle, const char* name);
