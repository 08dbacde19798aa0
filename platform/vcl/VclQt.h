// Internal to the Qt backend of the class library (included only by the
// .cpp files of platform/vcl): the widget template that routes Qt's mouse,
// key and geometry events into the controls, the per-control record and the
// text, colour and font conversions.
#pragma once
#include "platform/vcl/Controls.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/Graphics.h"

#include <QColor>
#include <QFont>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <exception>

void VclEnsureApplication();
// True when dialogs cannot be shown (no display: offscreen or minimal).
bool VclHeadless();

// 8-bit texts of the library and Qt's strings, in the process code page
// (platform/vcl/CodePage.h).
QString VclToQ(const AnsiString& s);
AnsiString VclFromQ(const QString& s);
// The same in the code page of a font character set.
QString VclToQ(const AnsiString& s, int charset);
AnsiString VclFromQ(const QString& s, int charset);
// False when s holds a character the set's code page cannot write (or the
// replacement character of a byte it could not read).
bool VclInCodePage(const QString& s, int charset);

QColor VclQColor(TColor color);
QFont VclQFont(const TFont& font);

// Runs a handler on behalf of the message loop: exceptions are reported,
// never thrown back into Qt.
template <class F> void VclSafeCall(F&& f)
{
    try {
        f();
    } catch (const std::exception& e) {
        Application_HandleException(e.what());
    } catch (...) {
        Application_HandleException("Unknown exception");
    }
}

struct TGraphic::View {
    // Opaque pixels (or premultiplied with alpha 0 where transparent). An
    // opaque 32-bit bitmap hands over its own image, whose top byte is
    // whatever the bitmap's owner wrote there: Format_RGB32 is drawn as
    // opaque into the widgets' surfaces.
    const QImage* image = nullptr;
};

// The per-control record behind TControl.
struct TControl::Impl {
    QWidget* widget = nullptr;
    TWinControl* parent = nullptr;
    int left = 0, top = 0, width = 0, height = 0;
    bool visible = true, enabled = true;
    bool graphic = false;     // no window of its own in the class library
    bool nativeClick = false; // OnClick comes from the widget, not from the mouse
    bool clicked = false;     // left press seen, click due at release
    int settingBounds = 0;
    AnsiString text, hint;
    bool showHint = false;
    TColor color = clBtnFace;
    bool parentColor = true;
    TFont* font = nullptr;
    bool parentFont = true;
    int fontGuard = 0;
    TCursor cursor = crDefault;
    TAlign align = alNone;
    TAnchors anchors = akLeft | akTop;
    // How Color shows: the palette role it sets and whether the widget
    // fills its background.
    QPalette::ColorRole colorRole = QPalette::Window;
    bool fillBackground = false;
    bool themed = false; // drawn by the style: Color is kept but not shown
};

// The link from a widget back to its control; cleared before the control
// goes, so late Qt events find nothing.
struct VclLink {
    TControl* ctrl = nullptr;
    bool inDoubleClick = false;
    virtual ~VclLink() {}
};

VclLink* VclLinkOf(QWidget* w);
TControl* VclControlOf(QWidget* w);
inline QWidget* VclWidgetOf(const TControl* c) { return c && c->FImpl ? c->FImpl->widget : nullptr; }

// Event routing (Controls.cpp). kind: 0 press, 1 release, 2 double click,
// 3 move. Returns false when the control went away during its handlers.
bool VclMouse(QWidget* w, QMouseEvent* e, int kind);
// false: the key was eaten (Key set to 0); *replacement: a changed key.
bool VclKeyPress(TControl* c, QKeyEvent* e, char* replacement);
void VclGeometryChanged(TControl* c, QWidget* w);
// Tells the repaint observer of the control's form (Vcl_SetRepaintObserver).
void VclNotifyRepaint(const TControl* c);
// Applies Color and Font of the control to its widget.
void VclApplyColor(TControl* c);
void VclApplyFont(TControl* c);

template <class Q> class VclWidget : public Q, public VclLink {
public:
    using Q::Q;

protected:
    void mousePressEvent(QMouseEvent* e) override
    {
        if (!inDoubleClick && !VclMouse(this, e, 0)) return;
        Q::mousePressEvent(e);
        e->accept();
    }
    void mouseReleaseEvent(QMouseEvent* e) override
    {
        QPointer<QWidget> self(this);
        Q::mouseReleaseEvent(e);
        if (!self) return;
        VclMouse(this, e, 1);
        e->accept();
    }
    void mouseDoubleClickEvent(QMouseEvent* e) override
    {
        if (!VclMouse(this, e, 2)) return;
        inDoubleClick = true;
        QPointer<QWidget> self(this);
        Q::mouseDoubleClickEvent(e);
        if (!self) return;
        inDoubleClick = false;
        e->accept();
    }
    void mouseMoveEvent(QMouseEvent* e) override
    {
        if (!VclMouse(this, e, 3)) return;
        Q::mouseMoveEvent(e);
        e->accept();
    }
    void keyPressEvent(QKeyEvent* e) override
    {
        char replacement = 0;
        if (ctrl && !e->text().isEmpty()) {
            QPointer<QWidget> self(this);
            bool pass = VclKeyPress(ctrl, e, &replacement);
            if (!self) return;
            if (!pass) {
                e->accept();
                return;
            }
            if (replacement) {
                QKeyEvent changed(e->type(), e->key(), e->modifiers(), VclToQ(AnsiString(1, replacement)));
                Q::keyPressEvent(&changed);
                return;
            }
        }
        Q::keyPressEvent(e);
    }
    void resizeEvent(QResizeEvent* e) override
    {
        Q::resizeEvent(e);
        if (ctrl) VclGeometryChanged(ctrl, this);
    }
    void moveEvent(QMoveEvent* e) override
    {
        Q::moveEvent(e);
        if (ctrl) VclGeometryChanged(ctrl, this);
    }
};
