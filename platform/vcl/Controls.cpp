// Qt backend of TControl and TWinControl: bounds, visibility, colour and
// font inheritance, alignment of children, and the routing of Qt's mouse
// and key events into the controls' events, and the 8-bit texts' way to
// and from Qt's strings.
#include "platform/vcl/Forms.h"
#include "platform/vcl/VclQt.h"

#include <QApplication>
#include <QGuiApplication>
#include "platform/vcl/CodePage.h"

#include <algorithm>
#include <memory>

// --- Application and texts -------------------------------------------------

void VclEnsureApplication()
{
    static int argc = 1;
    static char name[] = "tavlin";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) Application_Initialize(argc, argv);
}

bool VclHeadless()
{
    VclEnsureApplication();
    QString p = QGuiApplication::platformName();
    return p == "offscreen" || p == "minimal" || p.isEmpty();
}

// Texts of the process code page, and of a character set's code page.
QString VclToQ(const AnsiString& s) { return VclToQ(s, DEFAULT_CHARSET); }
AnsiString VclFromQ(const QString& s) { return VclFromQ(s, DEFAULT_CHARSET); }

QString VclToQ(const AnsiString& s, int charset)
{
    std::string u = Vcl_AnsiToUtf8(s.data(), s.size(), charset);
    return QString::fromUtf8(u.data(), (qsizetype)u.size());
}

AnsiString VclFromQ(const QString& s, int charset)
{
    QByteArray u = s.toUtf8();
    return Vcl_Utf8ToAnsi(u.constData(), (size_t)u.size(), charset);
}

bool VclInCodePage(const QString& s, int charset)
{
    QByteArray u = s.toUtf8();
    bool lossy = false;
    Vcl_Utf8ToAnsi(u.constData(), (size_t)u.size(), charset, &lossy);
    return !lossy && !s.contains(QChar(0xFFFD));
}

QColor VclQColor(TColor color)
{
    TColor c = ColorToRGB(color);
    return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF);
}

QFont VclQFont(const TFont& font)
{
    QFont f(VclToQ(font.Name()));
    int h = font.Height();
    int px = h < 0 ? -h : (h * 100 + 60) / 120; // a cell height holds about 1.2 ems
    f.setPixelSize(px < 1 ? 1 : px);
    TFontStyles st = font.Style();
    f.setBold(st & fsBold);
    f.setItalic(st & fsItalic);
    f.setUnderline(st & fsUnderline);
    f.setStrikeOut(st & fsStrikeOut);
    if (font.Quality() == fqNonAntialiased || font.Quality() == fqDraft) f.setStyleStrategy(QFont::NoAntialias);
    else if (font.Quality() == fqAntialiased || font.Quality() == fqClearType)
        f.setStyleStrategy(QFont::PreferAntialias);
    return f;
}

VclLink* VclLinkOf(QWidget* w) { return w ? dynamic_cast<VclLink*>(w) : nullptr; }

TControl* VclControlOf(QWidget* w)
{
    VclLink* l = VclLinkOf(w);
    return l ? l->ctrl : nullptr;
}

// --- Event routing -----------------------------------------------------------

static TShiftState ShiftOf(Qt::KeyboardModifiers m, Qt::MouseButtons b)
{
    TShiftState s = 0;
    if (m & Qt::ShiftModifier) s |= ssShift;
    if (m & Qt::AltModifier) s |= ssAlt;
    if (m & Qt::ControlModifier) s |= ssCtrl;
    if (b & Qt::LeftButton) s |= ssLeft;
    if (b & Qt::RightButton) s |= ssRight;
    if (b & Qt::MiddleButton) s |= ssMiddle;
    return s;
}

bool VclMouse(QWidget* w, QMouseEvent* e, int kind)
{
    VclLink* link = VclLinkOf(w);
    TControl* c = link ? link->ctrl : nullptr;
    if (!c) return true;
    QPointer<QWidget> guard(w);
    auto alive = [&] { return !guard.isNull() && link->ctrl == c; };
    int x = (int)e->position().x(), y = (int)e->position().y();
    TShiftState shift = ShiftOf(e->modifiers(), e->buttons());
    TMouseButton button = mbLeft;
    if (e->button() == Qt::RightButton) button = mbRight;
    else if (e->button() == Qt::MiddleButton) button = mbMiddle;
    bool known = e->button() == Qt::LeftButton || e->button() == Qt::RightButton || e->button() == Qt::MiddleButton;

    switch (kind) {
    case 0:
        if (!known) return true;
        if (button == mbLeft && !c->FImpl->nativeClick) c->FImpl->clicked = true;
        if (c->OnMouseDown) VclSafeCall([&] { c->OnMouseDown(c, button, shift, x, y); });
        break;
    case 1:
        if (!known) return true;
        if (button == mbLeft && c->FImpl->clicked) {
            c->FImpl->clicked = false;
            if (x >= 0 && y >= 0 && x < w->width() && y < w->height()) VclSafeCall([&] { c->Click(); });
            if (!alive()) return false;
        }
        if (c->OnMouseUp) VclSafeCall([&] { c->OnMouseUp(c, button, shift, x, y); });
        break;
    case 2:
        if (!known) return true;
        if (button == mbLeft && c->OnDblClick) VclSafeCall([&] { c->OnDblClick(c); });
        if (!alive()) return false;
        if (c->OnMouseDown) VclSafeCall([&] { c->OnMouseDown(c, button, shift | ssDouble, x, y); });
        break;
    default:
        if (c->OnMouseMove) VclSafeCall([&] { c->OnMouseMove(c, shift, x, y); });
        break;
    }
    return alive();
}

bool VclKeyPress(TControl* c, QKeyEvent* e, char* replacement)
{
    auto* wc = dynamic_cast<TWinControl*>(c);
    if (!wc || !wc->OnKeyPress) return true;
    AnsiString t = VclFromQ(e->text().left(1));
    if (t.empty()) return true;
    char key = t[0], before = key;
    VclSafeCall([&] { wc->OnKeyPress(wc, key); });
    if (key == 0) return false;
    if (key != before) *replacement = key;
    return true;
}

void VclGeometryChanged(TControl* c, QWidget* w)
{
    TControl::Impl* d = c->FImpl;
    if (d->settingBounds) return;
    QRect g = w->geometry();
    if (g.x() == d->left && g.y() == d->top && g.width() == d->width && g.height() == d->height) return;
    bool resized = g.width() != d->width || g.height() != d->height;
    d->left = g.x();
    d->top = g.y();
    d->width = g.width();
    d->height = g.height();
    if (resized)
        if (auto* wc = dynamic_cast<TWinControl*>(c)) wc->Realign();
    VclSafeCall([&] { c->BoundsChanged(); });
}

// --- Colour and font -------------------------------------------------------

void VclApplyColor(TControl* c)
{
    QWidget* w = VclWidgetOf(c);
    if (!w || c->FImpl->themed) return;
    QPalette pal = w->palette();
    pal.setColor(c->FImpl->colorRole, VclQColor(c->FImpl->color));
    w->setPalette(pal);
    w->setAutoFillBackground(c->FImpl->fillBackground);
    w->update();
    VclNotifyRepaint(c);
}

void VclApplyFont(TControl* c)
{
    QWidget* w = VclWidgetOf(c);
    if (!w) return;
    w->setFont(VclQFont(*c->FImpl->font));
    QPalette pal = w->palette();
    // Disabled text keeps the style's grey.
    QColor text = VclQColor(c->FImpl->font->Color());
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(g, QPalette::WindowText, text);
        pal.setColor(g, QPalette::Text, text);
        pal.setColor(g, QPalette::ButtonText, text);
    }
    w->setPalette(pal);
    w->update();
    VclNotifyRepaint(c);
    VclSafeCall([&] { c->FontChanged(); });
}

// Children that follow their parent's colour or font take it again.
static void InheritFrom(TWinControl* parent, TControl* c)
{
    if (c->FImpl->parentColor && c->FImpl->color != parent->FImpl->color) {
        c->FImpl->color = parent->FImpl->color;
        VclApplyColor(c);
    }
    if (c->FImpl->parentFont) {
        c->FImpl->fontGuard++;
        c->FImpl->font->Assign(*parent->FImpl->font); // applies it
        c->FImpl->fontGuard--;
    }
    if (auto* wc = dynamic_cast<TWinControl*>(c))
        for (int i = 0; i < wc->ControlCount(); i++) InheritFrom(wc, wc->Controls(i));
}

static void PassOn(TControl* c)
{
    if (auto* wc = dynamic_cast<TWinControl*>(c))
        for (int i = 0; i < wc->ControlCount(); i++) InheritFrom(wc, wc->Controls(i));
}

// --- TControl ------------------------------------------------------------------

TControl::TControl(TComponent* AOwner) : TComponent(AOwner), FImpl(new Impl)
{
    VclEnsureApplication();
    FImpl->font = new TFont;
    FImpl->font->OnChange = [this](TObject*) {
        VclApplyFont(this);
        if (FImpl->fontGuard) return; // inherited: the caller passes it on
        FImpl->parentFont = false;
        PassOn(this);
    };
}

TControl::~TControl()
{
    QWidget* w = FImpl->widget;
    if (VclLink* l = VclLinkOf(w)) l->ctrl = nullptr;
    if (FImpl->parent) {
        TWinControl* p = FImpl->parent;
        FImpl->parent = nullptr;
        p->RemoveControl(this);
    }
    FImpl->widget = nullptr;
    delete w;
    delete FImpl->font;
    delete FImpl;
}

void TControl::AttachWidget(void* widget, bool graphic)
{
    QWidget* w = static_cast<QWidget*>(widget);
    FImpl->widget = w;
    FImpl->graphic = graphic;
    if (VclLink* l = VclLinkOf(w)) l->ctrl = this;
    w->setMouseTracking(true);
    w->setGeometry(FImpl->left, FImpl->top, FImpl->width, FImpl->height);
    VclApplyFont(this);
    VclApplyColor(this);
}

TWinControl* TControl::Parent() const { return FImpl->parent; }

void TControl::SetParent(TWinControl* parent)
{
    if (parent == FImpl->parent || parent == this) return;
    TWinControl* old = FImpl->parent;
    if (old) {
        FImpl->parent = nullptr;
        old->RemoveControl(this);
    }
    FImpl->parent = parent;
    QWidget* w = FImpl->widget;
    if (parent) {
        parent->InsertControl(this);
    } else if (w && !dynamic_cast<TCustomForm*>(this)) {
        w->hide();
        w->setParent(nullptr);
    } else if (w) {
        bool shown = FImpl->visible;
        w->setParent(nullptr);
        w->setGeometry(FImpl->left, FImpl->top, FImpl->width, FImpl->height);
        w->setVisible(shown);
    }
    if (old && FImpl->align != alNone) old->Realign();
}

int TControl::Left() const { return FImpl->left; }
int TControl::Top() const { return FImpl->top; }
int TControl::Width() const { return FImpl->width; }
int TControl::Height() const { return FImpl->height; }
void TControl::SetLeft(int v) { SetBounds(v, FImpl->top, FImpl->width, FImpl->height); }
void TControl::SetTop(int v) { SetBounds(FImpl->left, v, FImpl->width, FImpl->height); }
void TControl::SetWidth(int v) { SetBounds(FImpl->left, FImpl->top, v, FImpl->height); }
void TControl::SetHeight(int v) { SetBounds(FImpl->left, FImpl->top, FImpl->width, v); }

void TControl::SetBounds(int left, int top, int width, int height)
{
    if (width < 0) width = 0;
    if (height < 0) height = 0;
    Impl* d = FImpl;
    if (left == d->left && top == d->top && width == d->width && height == d->height) return;
    bool resized = width != d->width || height != d->height;
    d->left = left;
    d->top = top;
    d->width = width;
    d->height = height;
    if (d->widget) {
        d->settingBounds++;
        d->widget->setGeometry(left, top, width, height);
        d->settingBounds--;
    }
    if (resized)
        if (auto* wc = dynamic_cast<TWinControl*>(this)) wc->Realign();
    if (d->align != alNone && d->parent) d->parent->Realign();
    BoundsChanged();
}

TRect TControl::BoundsRect() const
{
    return Rect(FImpl->left, FImpl->top, FImpl->left + FImpl->width, FImpl->top + FImpl->height);
}

TRect TControl::ClientRect() const { return Rect(0, 0, FImpl->width, FImpl->height); }

bool TControl::Visible() const { return FImpl->visible; }

void TControl::SetVisible(bool value)
{
    if (FImpl->visible == value) return;
    FImpl->visible = value;
    if (FImpl->widget && FImpl->parent) FImpl->widget->setVisible(value);
    if (FImpl->align != alNone && FImpl->parent) FImpl->parent->Realign();
    VclNotifyRepaint(this);
}

bool TControl::Showing() const
{
    if (!FImpl->visible) return false;
    if (FImpl->parent) return FImpl->parent->Showing();
    return dynamic_cast<const TCustomForm*>(this) && FImpl->widget && FImpl->widget->isVisible();
}

bool TControl::Enabled() const { return FImpl->enabled; }

void TControl::SetEnabled(bool value)
{
    if (FImpl->enabled == value) return;
    FImpl->enabled = value;
    if (!FImpl->widget) return;
    FImpl->widget->setEnabled(value);
    if (FImpl->graphic) FImpl->widget->setAttribute(Qt::WA_TransparentForMouseEvents, !value);
    if (!value) FImpl->clicked = false;
}

AnsiString TControl::Text() const { return FImpl->text; }

void TControl::SetText(const AnsiString& value)
{
    if (FImpl->text == value) return;
    FImpl->text = value;
    TextChanged();
    VclNotifyRepaint(this);
}

TColor TControl::Color() const { return FImpl->color; }

void TControl::SetColor(TColor value)
{
    FImpl->parentColor = false;
    if (FImpl->color == value) return;
    FImpl->color = value;
    VclApplyColor(this);
    PassOn(this);
}

bool TControl::ParentColor() const { return FImpl->parentColor; }

void TControl::SetParentColor(bool value)
{
    FImpl->parentColor = value;
    if (value && FImpl->parent) InheritFrom(FImpl->parent, this);
}

TFont* TControl::Font() const { return FImpl->font; }
bool TControl::ParentFont() const { return FImpl->parentFont; }

void TControl::SetParentFont(bool value)
{
    FImpl->parentFont = value;
    if (value && FImpl->parent) InheritFrom(FImpl->parent, this);
}

AnsiString TControl::Hint() const { return FImpl->hint; }

void TControl::SetHint(const AnsiString& value)
{
    FImpl->hint = value;
    if (FImpl->widget) FImpl->widget->setToolTip(FImpl->showHint ? VclToQ(value) : QString());
}

bool TControl::ShowHint() const { return FImpl->showHint; }

void TControl::SetShowHint(bool value)
{
    FImpl->showHint = value;
    SetHint(FImpl->hint);
}

TCursor TControl::Cursor() const { return FImpl->cursor; }

void TControl::SetCursor(TCursor value)
{
    FImpl->cursor = value;
    QWidget* w = FImpl->widget;
    if (!w) return;
    Qt::CursorShape shape = Qt::ArrowCursor;
    switch (value) {
    case crDefault: w->unsetCursor(); return;
    case crNone: shape = Qt::BlankCursor; break;
    case crCross: shape = Qt::CrossCursor; break;
    case crIBeam: shape = Qt::IBeamCursor; break;
    case crSizeNESW: shape = Qt::SizeBDiagCursor; break;
    case crSizeNS:
    case crVSplit: shape = Qt::SizeVerCursor; break;
    case crSizeNWSE: shape = Qt::SizeFDiagCursor; break;
    case crSizeWE:
    case crHSplit: shape = Qt::SizeHorCursor; break;
    case crUpArrow: shape = Qt::UpArrowCursor; break;
    case crHourGlass:
    case crSQLWait: shape = Qt::WaitCursor; break;
    case crAppStart: shape = Qt::BusyCursor; break;
    case crNo:
    case crNoDrop: shape = Qt::ForbiddenCursor; break;
    case crHelp: shape = Qt::WhatsThisCursor; break;
    case crHandPoint: shape = Qt::PointingHandCursor; break;
    case crSizeAll: shape = Qt::SizeAllCursor; break;
    case crDrag:
    case crMultiDrag: shape = Qt::DragCopyCursor; break;
    default: break;
    }
    w->setCursor(shape);
}

TAlign TControl::Align() const { return FImpl->align; }

void TControl::SetAlign(TAlign value)
{
    if (FImpl->align == value) return;
    FImpl->align = value;
    if (FImpl->parent) FImpl->parent->Realign();
}

TAnchors TControl::Anchors() const { return FImpl->anchors; }
void TControl::SetAnchors(TAnchors value) { FImpl->anchors = value; }

void TControl::Repaint()
{
    if (FImpl->widget) FImpl->widget->repaint();
    VclNotifyRepaint(this);
}

void TControl::Invalidate()
{
    if (FImpl->widget) FImpl->widget->update();
    VclNotifyRepaint(this);
}

void TControl::Update()
{
    if (FImpl->widget) FImpl->widget->repaint();
    VclNotifyRepaint(this);
}

// Graphic controls stay below the parent's windowed children.
static void Restack(TControl* c)
{
    QWidget* w = VclWidgetOf(c);
    if (!w || !c->FImpl->graphic || !w->parentWidget()) return;
    for (QObject* o : w->parentWidget()->children()) {
        auto* sib = qobject_cast<QWidget*>(o);
        if (!sib || sib == w) continue;
        TControl* sc = VclControlOf(sib);
        if (!sc || !sc->FImpl->graphic) {
            w->stackUnder(sib);
            return;
        }
    }
}

void TControl::BringToFront()
{
    if (!FImpl->widget) return;
    FImpl->widget->raise();
    Restack(this);
}

void TControl::SendToBack()
{
    if (FImpl->widget) FImpl->widget->lower();
}

void TControl::Click()
{
    if (OnClick) OnClick(this);
}

// --- TWinControl -----------------------------------------------------------

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner) {}

TWinControl::~TWinControl()
{
    // Children go first; late events of our own widget find no control.
    if (VclLink* l = VclLinkOf(FImpl->widget)) l->ctrl = nullptr;
    while (!FControls.empty()) {
        TControl* c = FControls.back();
        delete c;
        if (!FControls.empty() && FControls.back() == c) FControls.pop_back();
    }
}

TControl* TWinControl::Controls(int index) const
{
    if (index < 0 || index >= (int)FControls.size()) return nullptr;
    return FControls[(size_t)index];
}

void* TWinControl::Handle() const { return FImpl->widget; }
void* TWinControl::ClientWidget() const { return FImpl->widget; }

void TWinControl::InsertControl(TControl* c)
{
    FControls.push_back(c);
    QWidget* w = VclWidgetOf(c);
    auto* cw = static_cast<QWidget*>(ClientWidget());
    if (w && cw) {
        w->setParent(cw);
        c->FImpl->settingBounds++;
        w->setGeometry(c->FImpl->left, c->FImpl->top, c->FImpl->width, c->FImpl->height);
        c->FImpl->settingBounds--;
        Restack(c);
    }
    InheritFrom(this, c);
    if (w) w->setVisible(c->FImpl->visible);
    if (c->FImpl->align != alNone) Realign();
}

void TWinControl::RemoveControl(TControl* c)
{
    FControls.erase(std::remove(FControls.begin(), FControls.end(), c), FControls.end());
}

bool TWinControl::TabStop() const { return FImpl->widget && (FImpl->widget->focusPolicy() & Qt::TabFocus); }

void TWinControl::SetTabStop(bool value)
{
    if (!FImpl->widget) return;
    Qt::FocusPolicy p = FImpl->widget->focusPolicy();
    if (value) FImpl->widget->setFocusPolicy(Qt::StrongFocus);
    else if (p != Qt::NoFocus) FImpl->widget->setFocusPolicy(Qt::ClickFocus);
}

void TWinControl::SetImeMode(TImeMode value)
{
    FImeMode = value;
    if (!FImpl->widget) return;
    // A closed input method is one the user may still open (to type a
    // title in Chinese, say); only a disabled one is gone.
    if (value == imDisable) FImpl->widget->setAttribute(Qt::WA_InputMethodEnabled, false);
    else if (value == imOpen || value == imClose) FImpl->widget->setAttribute(Qt::WA_InputMethodEnabled, true);
}

void TWinControl::SetFocus()
{
    if (FImpl->widget) FImpl->widget->setFocus(Qt::OtherFocusReason);
}

bool TWinControl::Focused() const { return FImpl->widget && FImpl->widget->hasFocus(); }

// Top-aligned children stack from the top in the order of their Top,
// bottom-aligned ones from the bottom, then left, right, and client-aligned
// ones take what is left.
void TWinControl::Realign()
{
    if (FAligning) return;
    auto* cw = static_cast<QWidget*>(ClientWidget());
    if (!cw) return;
    FAligning = true;
    TRect area = AlignClientRect();
    int l = area.Left, t = area.Top, r = area.Right, b = area.Bottom;
    auto pick = [&](TAlign a) {
        std::vector<TControl*> v;
        for (TControl* c : FControls)
            if (c->FImpl->align == a && c->FImpl->visible) v.push_back(c);
        std::stable_sort(v.begin(), v.end(), [a](TControl* x, TControl* y) {
            switch (a) {
            case alTop: return x->Top() < y->Top();
            case alBottom: return x->Top() + x->Height() > y->Top() + y->Height();
            case alLeft: return x->Left() < y->Left();
            case alRight: return x->Left() + x->Width() > y->Left() + y->Width();
            default: return false;
            }
        });
        return v;
    };
    for (TControl* c : pick(alTop)) {
        c->SetBounds(l, t, std::max(0, r - l), c->Height());
        t += c->Height();
    }
    for (TControl* c : pick(alBottom)) {
        b -= c->Height();
        c->SetBounds(l, b, std::max(0, r - l), c->Height());
    }
    for (TControl* c : pick(alLeft)) {
        c->SetBounds(l, t, c->Width(), std::max(0, b - t));
        l += c->Width();
    }
    for (TControl* c : pick(alRight)) {
        r -= c->Width();
        c->SetBounds(r, t, c->Width(), std::max(0, b - t));
    }
    for (TControl* c : pick(alClient)) c->SetBounds(l, t, std::max(0, r - l), std::max(0, b - t));
    FAligning = false;
}
