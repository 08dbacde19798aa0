// Qt backend of forms (window, activation, painting, closing, key preview)
// and the host helpers that show, grab and click a window. Owns the list of
// forms that preview keys and the widget that holds the mouse between a
// scripted press and its release.
#include "platform/vcl/Forms.h"
#include "platform/vcl/VclQt.h"

#include <QApplication>
#include <QCloseEvent>
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QTimer>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

std::vector<TCustomForm*> gPreviewForms;
QPointer<QWidget> gPressedWidget; // the target of a scripted press

class VclFormWidget : public VclWidget<QWidget> {
protected:
    bool event(QEvent* e) override
    {
        auto* f = dynamic_cast<TCustomForm*>(ctrl);
        if (f) {
            if (e->type() == QEvent::WindowActivate && f->OnActivate) VclSafeCall([&] { f->OnActivate(f); });
            else if (e->type() == QEvent::WindowDeactivate && f->OnDeactivate) VclSafeCall([&] { f->OnDeactivate(f); });
        }
        return VclWidget<QWidget>::event(e);
    }
    void paintEvent(QPaintEvent*) override
    {
        auto* f = dynamic_cast<TCustomForm*>(ctrl);
        if (f && f->OnPaint) VclSafeCall([&] { f->OnPaint(f); });
    }
    void showEvent(QShowEvent* e) override
    {
        VclWidget<QWidget>::showEvent(e);
        auto* f = dynamic_cast<TCustomForm*>(ctrl);
        if (f && f->OnShow && !e->spontaneous()) VclSafeCall([&] { f->OnShow(f); });
    }
    void hideEvent(QHideEvent* e) override
    {
        VclWidget<QWidget>::hideEvent(e);
        auto* f = dynamic_cast<TCustomForm*>(ctrl);
        if (f && !e->spontaneous()) {
            if (isWindow()) f->FImpl->visible = false; // closed by the user or the system
            if (f->OnHide) VclSafeCall([&] { f->OnHide(f); });
        }
    }
    void closeEvent(QCloseEvent* e) override
    {
        auto* f = dynamic_cast<TCustomForm*>(ctrl);
        if (!f) return;
        bool accept = true;
        VclSafeCall([&] { f->DoClose(true, &accept); });
        if (accept) e->accept();
        else e->ignore();
    }
};

// Sees key presses of the whole application for forms with KeyPreview.
class VclKeyPreview : public QObject {
public:
    bool eventFilter(QObject* o, QEvent* e) override
    {
        if (e->type() != QEvent::KeyPress || FBusy) return false;
        auto* target = qobject_cast<QWidget*>(o);
        auto* key = static_cast<QKeyEvent*>(e);
        if (!target || key->text().isEmpty()) return false;
        for (TCustomForm* f : gPreviewForms) {
            auto* fw = static_cast<QWidget*>(f->Handle());
            if (!fw || target == fw || !fw->isAncestorOf(target)) continue;
            char replacement = 0;
            QPointer<QWidget> guard(target);
            bool pass = VclKeyPress(f, key, &replacement);
            if (!pass) return true;
            if (replacement && guard) {
                QKeyEvent changed(key->type(), key->key(), key->modifiers(), QString(QChar((uchar)replacement)));
                FBusy = true;
                QCoreApplication::sendEvent(target, &changed);
                FBusy = false;
                return true;
            }
            return false;
        }
        return false;
    }

private:
    bool FBusy = false;
};

VclKeyPreview* gPreviewFilter = nullptr;

} // namespace

struct TCustomForm::FormImpl {
    std::function<void()> repaintObserver;
};

TCustomForm::TCustomForm(TComponent* AOwner) : TWinControl(AOwner), FForm(new FormImpl)
{
    auto* w = new VclFormWidget();
    FImpl->visible = false;
    FImpl->width = 320;
    FImpl->height = 240;
    FImpl->parentColor = false;
    FImpl->parentFont = false;
    FImpl->color = clBtnFace;
    FImpl->fillBackground = true;
    AttachWidget(w, false);
    w->setAttribute(Qt::WA_DeleteOnClose, false);
    w->setFocusPolicy(Qt::ClickFocus);
}

TCustomForm::~TCustomForm()
{
    gPreviewForms.erase(std::remove(gPreviewForms.begin(), gPreviewForms.end(), this), gPreviewForms.end());
    delete FForm;
}

void TCustomForm::AfterConstruction()
{
    if (FCreated) return;
    FCreated = true;
    if (OnCreate) VclSafeCall([&] { OnCreate(this); });
}

void TCustomForm::DoDestroy()
{
    if (FDestroyed) return;
    FDestroyed = true;
    if (OnDestroy) VclSafeCall([&] { OnDestroy(this); });
}

void TCustomForm::TextChanged()
{
    if (FImpl->widget) FImpl->widget->setWindowTitle(VclToQ(Text()));
}

void TCustomForm::SetBorderStyle(TFormBorderStyle value) { FBorderStyle = value; }

static void ApplyWindowFlags(TCustomForm* f)
{
    QWidget* w = VclWidgetOf(f);
    if (!w || w->parentWidget()) return;
    Qt::WindowFlags flags = Qt::Window;
    switch (f->BorderStyle()) {
    case bsNone: flags |= Qt::FramelessWindowHint; break;
    case bsDialog: flags = Qt::Dialog; break;
    case bsToolWindow:
    case bsSizeToolWin: flags = Qt::Tool; break;
    default: break;
    }
    if (w->windowFlags() != flags) w->setWindowFlags(flags);
}

void TCustomForm::SetVisible(bool value)
{
    if (Parent()) {
        TWinControl::SetVisible(value);
        return;
    }
    FImpl->visible = value;
    QWidget* w = FImpl->widget;
    if (!w) return;
    if (value) {
        if (!w->parentWidget()) {
            ApplyWindowFlags(this);
            FImpl->settingBounds++;
            w->setGeometry(Left(), Top(), Width(), Height());
            FImpl->settingBounds--;
        }
        w->show();
        // New window flags hide a window that was showing (its hide event
        // clears the flag): it is showing again now.
        FImpl->visible = true;
    } else {
        w->hide();
    }
}

void TCustomForm::Show()
{
    SetVisible(true);
    if (FImpl->widget && !FImpl->widget->parentWidget()) {
        if (!VclHeadless()) FImpl->widget->raise();
        FImpl->widget->activateWindow();
    }
}

void TCustomForm::DoClose(bool fromWindow, bool* accept)
{
    TCloseAction action = caHide;
    if (OnClose) OnClose(this, action);
    *accept = false;
    switch (action) {
    case caNone: return;
    case caMinimize:
        if (FImpl->widget) FImpl->widget->showMinimized();
        return;
    case caFree: Release(); break;
    default: break;
    }
    *accept = true;
    if (!fromWindow) Hide();
}

void TCustomForm::Close()
{
    bool accept = false;
    DoClose(false, &accept);
}

void TCustomForm::Release()
{
    QPointer<QWidget> guard(FImpl->widget);
    QTimer::singleShot(0, qApp, [this, guard]() {
        if (!guard || VclControlOf(guard) != this) return;
        DoDestroy();
        delete this;
    });
}

bool TCustomForm::Active() const { return FImpl->widget && FImpl->widget->isActiveWindow(); }

void TCustomForm::SetKeyPreview(bool value)
{
    FKeyPreview = value;
    gPreviewForms.erase(std::remove(gPreviewForms.begin(), gPreviewForms.end(), this), gPreviewForms.end());
    if (!value) return;
    gPreviewForms.push_back(this);
    if (!gPreviewFilter) {
        gPreviewFilter = new VclKeyPreview;
        qApp->installEventFilter(gPreviewFilter);
    }
}

void Application_HandleException(const char* message)
{
    Application_MessageBox(message ? message : "", "Error", MB_OK | MB_ICONSTOP);
}

// --- Host helpers ------------------------------------------------------------

int Vcl_ShowWindow(void* handle, const char* title)
{
    auto* w = static_cast<QWidget*>(handle);
    if (!w) return -1;
    if (title) w->setWindowTitle(QString::fromUtf8(title));
    if (auto* f = dynamic_cast<TCustomForm*>(VclControlOf(w))) {
        f->Show();
        if (title) w->setWindowTitle(QString::fromUtf8(title));
    } else {
        w->show();
        if (!VclHeadless()) w->raise();
    }
    return 0;
}

int Vcl_SetWindowParent(void* handle, void* parent)
{
    auto* w = static_cast<QWidget*>(handle);
    if (!w) return -1;
    bool shown = !w->isHidden();
    w->setParent(static_cast<QWidget*>(parent));
    if (parent) w->move(0, 0);
    if (shown || parent) w->show();
    return 0;
}

void* Vcl_FindWindow(const char* title)
{
    if (!title || !qApp) return nullptr;
    const QString wanted = QString::fromLocal8Bit(title);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowTitle() == wanted) return w;
    return nullptr;
}

int Vcl_SaveWindowPng(void* handle, const char* path)
{
    auto* w = static_cast<QWidget*>(handle);
    if (!w || !path) return -1;
    QPixmap pm = w->grab();
    if (pm.isNull()) return -1;
    return pm.save(QString::fromLocal8Bit(path), "PNG") ? 0 : -1;
}

int Vcl_PaintWindow(void* handle, void* firstRow, int width, int height, int rowStride, int left, int top, int right,
                    int bottom)
{
    auto* w = static_cast<QWidget*>(handle);
    if (!w || !firstRow || width <= 0 || height <= 0 || right <= left || bottom <= top) return -1;
    const int rowBytes = rowStride < 0 ? -rowStride : rowStride;
    if (rowBytes < width * 4) return -1;
    // Rows kept top-down are drawn in place; bottom-up ones through a copy.
    QImage target;
    if (rowStride > 0) target = QImage(static_cast<uchar*>(firstRow), width, height, rowStride, QImage::Format_RGB32);
    else {
        target = QImage(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; y++)
            memcpy(target.scanLine(y), static_cast<uchar*>(firstRow) + (ptrdiff_t)y * rowStride, (size_t)width * 4);
    }
    {
        QPainter p(&target);
        p.setClipRect(QRect(0, 0, width, height));
        p.translate(left, top);
        QSize size = w->size();
        if (size.width() > 0 && size.height() > 0 && (size.width() != right - left || size.height() != bottom - top)) {
            p.setRenderHint(QPainter::SmoothPixmapTransform);
            p.scale((double)(right - left) / size.width(), (double)(bottom - top) / size.height());
        }
        w->render(&p, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);
    }
    if (rowStride < 0)
        for (int y = 0; y < height; y++)
            memcpy(static_cast<uchar*>(firstRow) + (ptrdiff_t)y * rowStride, target.constScanLine(y),
                   (size_t)width * 4);
    return 0;
}

int Vcl_SavePixelsPng(const void* firstRow, int width, int height, int rowStride, const char* path)
{
    if (!firstRow || !path || width <= 0 || height <= 0) return -1;
    const int rowBytes = rowStride < 0 ? -rowStride : rowStride;
    if (rowBytes < width * 4) return -1;
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; y++)
        memcpy(image.scanLine(y), static_cast<const uchar*>(firstRow) + (ptrdiff_t)y * rowStride, (size_t)width * 4);
    return image.save(QString::fromLocal8Bit(path), "PNG") ? 0 : -1;
}

int Vcl_SetRepaintObserver(void* handle, std::function<void()> changed)
{
    auto* f = dynamic_cast<TCustomForm*>(VclControlOf(static_cast<QWidget*>(handle)));
    if (!f) return -1;
    f->FForm->repaintObserver = std::move(changed);
    return 0;
}

void VclNotifyRepaint(const TControl* c)
{
    while (c && c->Parent()) c = c->Parent();
    auto* f = dynamic_cast<const TCustomForm*>(c);
    if (f && f->FForm && f->FForm->repaintObserver) f->FForm->repaintObserver();
}

long Vcl_WindowPixel(void* handle, int x, int y)
{
    auto* w = static_cast<QWidget*>(handle);
    if (!w || x < 0 || y < 0 || x >= w->width() || y >= w->height()) return -1;
    QImage img = w->grab(QRect(x, y, 1, 1)).toImage();
    if (img.isNull()) return -1;
    return (long)(img.pixel(0, 0) & 0xFFFFFF);
}

int Vcl_WindowPixels(void* handle, int x, int y, int w, int h, uint32_t* out)
{
    auto* top = static_cast<QWidget*>(handle);
    if (!top || !out || w <= 0 || h <= 0 || x < 0 || y < 0 || x > top->width() - w || y > top->height() - h) return -1;
    QImage img = top->grab(QRect(x, y, w, h)).toImage().convertToFormat(QImage::Format_RGB32);
    if (img.width() < w || img.height() < h) return -1;
    for (int r = 0; r < h; r++) {
        const QRgb* line = reinterpret_cast<const QRgb*>(img.constScanLine(r));
        for (int c = 0; c < w; c++) out[(size_t)r * (size_t)w + (size_t)c] = line[c] & 0xFFFFFFu;
    }
    return 0;
}

int Vcl_MouseAt(void* handle, TVclMouseAction action, TMouseButton button, int x, int y)
{
    auto* top = static_cast<QWidget*>(handle);
    if (!top) return -1;
    QPoint at(x, y);
    QWidget* target = nullptr;
    if (action == vmaRelease && gPressedWidget) target = gPressedWidget;
    if (!target) {
        target = top->childAt(at);
        if (!target) target = top;
    }
    Qt::MouseButton b = button == mbRight ? Qt::RightButton : button == mbMiddle ? Qt::MiddleButton : Qt::LeftButton;
    QEvent::Type type = QEvent::MouseMove;
    Qt::MouseButtons held = Qt::NoButton;
    Qt::MouseButton which = Qt::NoButton;
    switch (action) {
    case vmaPress:
        type = QEvent::MouseButtonPress;
        held = b;
        which = b;
        break;
    case vmaRelease:
        type = QEvent::MouseButtonRelease;
        which = b;
        break;
    case vmaDoubleClick:
        type = QEvent::MouseButtonDblClick;
        held = b;
        which = b;
        break;
    default:
        if (gPressedWidget) {
            target = gPressedWidget;
            held = b;
        }
        break;
    }
    QPoint local = target->mapFrom(top, at);
    QPointF global = top->mapToGlobal(QPointF(at));
    QPointF scene = top->window() == top ? QPointF(at) : QPointF(top->mapTo(top->window(), at));
    if ((action == vmaPress || action == vmaDoubleClick) && target->isEnabled() &&
        (target->focusPolicy() & Qt::ClickFocus))
        target->setFocus(Qt::MouseFocusReason);
    QPointer<QWidget> guard(target);
    QMouseEvent ev(type, QPointF(local), scene, global, which, held, Qt::NoModifier);
    QApplication::sendEvent(target, &ev);
    if (action == vmaPress) gPressedWidget = guard;
    else if (action == vmaRelease) gPressedWidget = nullptr;
    return 0;
}

int Vcl_ClickAt(void* handle, int x, int y)
{
    if (Vcl_MouseAt(handle, vmaPress, mbLeft, x, y) != 0) return -1;
    return Vcl_MouseAt(handle, vmaRelease, mbLeft, x, y);
}

// The key code of a typed character: letters as their capitals, the rest
// of printable ASCII as itself.
static int KeyCodeOf(char key)
{
    switch (key) {
    case '\r': return Qt::Key_Return;
    case '\b': return Qt::Key_Backspace;
    case 27: return Qt::Key_Escape;
    case '\t': return Qt::Key_Tab;
    default:
        if (key >= 'a' && key <= 'z') return Qt::Key_A + (key - 'a');
        if (key >= ' ' && key <= '~') return key;
        return Qt::Key_unknown;
    }
}

int Vcl_KeyPressAt(void* handle, char key)
{
    auto* top = static_cast<QWidget*>(handle);
    if (!top) return -1;
    QWidget* target = top->window()->focusWidget();
    if (!target || (target != top && !top->isAncestorOf(target))) target = top;
    QString text = VclToQ(AnsiString(1, key));
    QKeyEvent press(QEvent::KeyPress, KeyCodeOf(key), Qt::NoModifier, text);
    QApplication::sendEvent(target, &press);
    QKeyEvent release(QEvent::KeyRelease, KeyCodeOf(key), Qt::NoModifier, text);
    QApplication::sendEvent(target, &release);
    return 0;
}

namespace {

// One key press and release to the widget, as the keyboard delivers it.
void SendKey(QWidget* target, int code, const QString& text, Qt::KeyboardModifiers mods = Qt::NoModifier)
{
    QPointer<QWidget> guard(target);
    QKeyEvent press(QEvent::KeyPress, code, mods, text);
    QApplication::sendEvent(target, &press);
    if (!guard) return;
    QKeyEvent release(QEvent::KeyRelease, code, mods, text);
    QApplication::sendEvent(target, &release);
}

// The focused widget of the window, else the window itself.
QWidget* FocusedIn(QWidget* top)
{
    QWidget* target = top->window()->focusWidget();
    if (!target || (target != top && !top->isAncestorOf(target))) target = top;
    return target;
}

// The text-taking widget at or above w: a line edit, a plain text edit
// (w may be its viewport) or an editable combo box.
QWidget* TextWidgetOf(QWidget* w)
{
    for (; w; w = w->parentWidget()) {
        if (auto* box = qobject_cast<QComboBox*>(w)) return box->isEditable() ? box : nullptr;
        if (auto* box = qobject_cast<QComboBox*>(w->parentWidget())) return box->isEditable() ? box : nullptr;
        if (qobject_cast<QLineEdit*>(w) || qobject_cast<QPlainTextEdit*>(w)) return w;
    }
    return nullptr;
}

} // namespace

int Vcl_TypeTextAt(void* handle, int x, int y, const char* text)
{
    auto* top = static_cast<QWidget*>(handle);
    if (!top || !text) return -1;
    QPointer<QWidget> target = TextWidgetOf(top->childAt(QPoint(x, y)));
    if (!target || !target->isEnabled() || !target->isVisible()) return -1;
    Vcl_ClickAt(handle, x, y);
    if (!target) return -1;
    target->setFocus(Qt::MouseFocusReason);
    SendKey(target, Qt::Key_A, QString(), Qt::ControlModifier); // select all
    // One key per character (a surrogate pair is one character).
    const QString typed = QString::fromUtf8(text);
    for (qsizetype i = 0; i < typed.size() && target; i++) {
        QChar c = typed[i];
        if (c == '\n') {
            SendKey(target, Qt::Key_Return, "\r");
            continue;
        }
        qsizetype n = c.isHighSurrogate() && i + 1 < typed.size() ? 2 : 1;
        SendKey(target, c.unicode() < 0x80 ? KeyCodeOf((char)c.unicode()) : (int)Qt::Key_unknown, typed.mid(i, n));
        i += n - 1;
    }
    if (!target) return 0;
    // An empty text still clears what was there.
    if (!*text) SendKey(target, Qt::Key_Delete, QString());
    return 0;
}

int Vcl_TextAt(void* handle, int x, int y, char* out, int size)
{
    auto* top = static_cast<QWidget*>(handle);
    if (!top || !out || size <= 0) return -1;
    out[0] = 0;
    // Labels may let the mouse through, so the point is looked for in
    // every shown text control; the last one found is drawn on top.
    QWidget* found = nullptr;
    QString text;
    for (QWidget* w : top->findChildren<QWidget*>()) {
        if (!w->isVisible()) continue;
        QRect r(w->mapTo(top, QPoint(0, 0)), w->size());
        if (!r.contains(x, y)) continue;
        if (auto* l = qobject_cast<QLabel*>(w)) found = w, text = l->text();
        else if (auto* e = qobject_cast<QLineEdit*>(w)) found = w, text = e->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(w)) found = w, text = b->text();
    }
    if (!found) return -1;
    QByteArray bytes = text.toUtf8();
    int n = bytes.size() < size - 1 ? (int)bytes.size() : size - 1;
    memcpy(out, bytes.constData(), (size_t)n);
    out[n] = 0;
    return 0;
}

int Vcl_EnabledAt(void* handle, int x, int y)
{
    auto* top = static_cast<QWidget*>(handle);
    if (!top) return -1;
    QWidget* w = top->childAt(QPoint(x, y));
    if (!w || !w->isVisible()) return -1;
    return w->isEnabled() ? 1 : 0;
}

int Vcl_KeyAt(void* handle, const char* name)
{
    auto* top = static_cast<QWidget*>(handle);
    if (!top || !name) return -1;
    struct Key {
        const char* name;
        int code;
        const char* text;
    };
    static const Key keys[] = {
        {"Tab", Qt::Key_Tab, "\t"},         {"Backtab", Qt::Key_Backtab, ""}, {"Enter", Qt::Key_Return, "\r"},
        {"Down", Qt::Key_Down, ""},         {"Up", Qt::Key_Up, ""},           {"Space", Qt::Key_Space, " "},
        {"Escape", Qt::Key_Escape, "\x1b"}, {"Left", Qt::Key_Left, ""},       {"Right", Qt::Key_Right, ""},
        {"Home", Qt::Key_Home, ""},         {"End", Qt::Key_End, ""},
    };
    for (const Key& k : keys)
        if (strcmp(k.name, name) == 0) {
            SendKey(FocusedIn(top), k.code, QString::fromLatin1(k.text));
            return 0;
        }
    return -1;
}
