// Qt backend of the standard controls: each control owns one Qt widget;
// changes made from code are guarded so that only the events the class
// library raises for them are raised. Module state: the sizes texts were
// measured at, and the flag that the fonts-ready milestone was marked.
#include "platform/vcl/StdCtrls.h"
#include "platform/vcl/VclQt.h"
#include "platform/win/Win.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QHash>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>

#include <algorithm>

// A caption as the class library shows it: "&&" is an ampersand, a single
// "&" marks the accelerator and is not drawn.
static QString StripAccel(const QString& s)
{
    QString out;
    out.reserve(s.size());
    for (qsizetype i = 0; i < s.size(); i++) {
        if (s[i] == '&') {
            if (i + 1 < s.size() && s[i + 1] == '&') {
                out += '&';
                i++;
            }
            continue;
        }
        out += s[i];
    }
    return out;
}

static Qt::Alignment HorizontalOf(TAlignment a)
{
    switch (a) {
    case taRightJustify: return Qt::AlignRight;
    case taCenter: return Qt::AlignHCenter;
    default: return Qt::AlignLeft;
    }
}

// --- TCustomLabel ----------------------------------------------------------

TCustomLabel::TCustomLabel(TComponent* AOwner) : TGraphicControl(AOwner)
{
    auto* w = new VclWidget<QLabel>();
    w->setTextFormat(Qt::PlainText);
    FImpl->width = 65;
    FImpl->height = 17;
    FImpl->fillBackground = true;
    AttachWidget(w, true);
    ApplyFlags();
}

static QLabel* LabelOf(const TControl* c) { return static_cast<QLabel*>(VclWidgetOf(c)); }

void TCustomLabel::ApplyFlags()
{
    QLabel* w = LabelOf(this);
    Qt::Alignment v = FLayout == tlCenter ? Qt::AlignVCenter : FLayout == tlBottom ? Qt::AlignBottom : Qt::AlignTop;
    w->setAlignment(HorizontalOf(FAlignment) | v);
    w->setWordWrap(FWordWrap);
    FImpl->fillBackground = !FTransparent;
    VclApplyColor(this);
}

void TCustomLabel::TextChanged()
{
    LabelOf(this)->setText(StripAccel(VclToQ(Text())));
    AdjustBounds();
    Invalidate();
}

// The sizes texts were measured at, by font, wrap width and text: a form's
// labels are measured again whenever their font, colour or caption is set,
// and mostly with the same font and text.
static QHash<QString, QSize> gMeasured;

static QSize MeasureText(const QFont& font, const QString& t, int wrapWidth)
{
    QString key = font.key() + QChar(0x1F) + QString::number(wrapWidth) + QChar(0x1F) + t;
    auto at = gMeasured.constFind(key);
    if (at != gMeasured.constEnd()) return *at;
    QFontMetrics fm(font);
    QRect r = wrapWidth > 0 ? fm.boundingRect(QRect(0, 0, wrapWidth, 100000), Qt::TextWordWrap, t)
                            : fm.boundingRect(QRect(0, 0, 100000, 100000), 0, t);
    if (gMeasured.size() >= 1024) gMeasured.clear();
    gMeasured.insert(key, r.size());
    return r.size();
}

void TCustomLabel::AdjustBounds()
{
    if (!FAutoSize || !FImpl->widget) return;
    QString t = StripAccel(VclToQ(Text()));
    if (t.isEmpty()) t = " ";
    int w, h;
    if (FWordWrap) {
        w = Width();
        h = MeasureText(FImpl->widget->font(), t, std::max(1, Width())).height();
    } else {
        QSize size = MeasureText(FImpl->widget->font(), t, 0);
        w = size.width();
        h = size.height();
    }
    // The first text laid out has made the fonts ready: the font
    // database, the face and its shaping.
    static bool fontsReady = false;
    if (!fontsReady) {
        fontsReady = true;
        Win_Milestone(MILESTONE_FONTS_READY);
    }
    int left = Left();
    if (FAlignment == taRightJustify) left += Width() - w;
    SetBounds(left, Top(), w, h);
}

void TCustomLabel::SetAlignment(TAlignment value)
{
    FAlignment = value;
    ApplyFlags();
}

void TCustomLabel::SetLayout(TTextLayout value)
{
    FLayout = value;
    ApplyFlags();
}

void TCustomLabel::SetAutoSize(bool value)
{
    FAutoSize = value;
    AdjustBounds();
}

void TCustomLabel::SetTransparent(bool value)
{
    FTransparent = value;
    ApplyFlags();
}

void TCustomLabel::SetWordWrap(bool value)
{
    FWordWrap = value;
    ApplyFlags();
    AdjustBounds();
}

// --- TButton -------------------------------------------------------------------

TButton::TButton(TComponent* AOwner) : TWinControl(AOwner)
{
    auto* w = new VclWidget<QPushButton>();
    FImpl->width = 75;
    FImpl->height = 25;
    FImpl->nativeClick = true;
    FImpl->themed = true;
    AttachWidget(w, false);
    QObject::connect(w, &QPushButton::clicked, w, [this, w]() {
        if (VclControlOf(w)) VclSafeCall([&] { Click(); });
    });
}

void TButton::TextChanged() { static_cast<QPushButton*>(FImpl->widget)->setText(VclToQ(Text())); }

void TButton::SetDefault(bool value)
{
    FDefault = value;
    static_cast<QPushButton*>(FImpl->widget)->setDefault(value);
}

// --- TCustomEdit -----------------------------------------------------------------

struct TCustomEdit::EditImpl {
    QString last;  // the text as of the last change event
    int guard = 0; // > 0 while code sets the text
};

static QLineEdit* LineOf(const TControl* c) { return static_cast<QLineEdit*>(VclWidgetOf(c)); }

// The bytes of a text in a character set's code page.
static qsizetype BytesOf(const QString& s, int charset) { return (qsizetype)VclFromQ(s, charset).size(); }

// Cuts what a change inserted into `was` (giving `text`) so that text keeps
// within maxChars characters and maxBytes bytes (0: no limit), but only
// where the change made it longer. Where the cursor goes when text was
// cut (behind what was inserted), else -1.
static qsizetype CutToLimits(const QString& was, QString& text, int maxChars, int maxBytes, int charset)
{
    bool overChars = maxChars > 0 && text.size() > maxChars && text.size() > was.size();
    bool overBytes = false;
    if (maxBytes > 0 && !overChars) {
        qsizetype now = BytesOf(text, charset);
        overBytes = now > maxBytes && now > BytesOf(was, charset);
    }
    if (!overChars && !overBytes) return -1;
    qsizetype pre = 0, suf = 0, lim = std::min(was.size(), text.size());
    while (pre < lim && was[pre] == text[pre]) pre++;
    while (suf < lim - pre && was[was.size() - 1 - suf] == text[text.size() - 1 - suf]) suf++;
    QString inserted = text.mid(pre, text.size() - pre - suf);
    QString kept = text.left(pre) + text.right(suf); // what stays of the old text
    if (maxChars > 0) inserted = inserted.left(std::max<qsizetype>(0, maxChars - kept.size()));
    if (maxBytes > 0) {
        // Whole characters (a surrogate pair is one) while their bytes fit.
        qsizetype room = maxBytes - BytesOf(kept, charset), take = 0;
        while (take < inserted.size()) {
            qsizetype n = inserted[take].isHighSurrogate() && take + 1 < inserted.size() ? 2 : 1;
            qsizetype bytes = BytesOf(inserted.mid(take, n), charset);
            if (bytes > room) break;
            room -= bytes;
            take += n;
        }
        inserted = inserted.left(take);
    }
    text = text.left(pre) + inserted + text.right(suf);
    return pre + inserted.size();
}

TCustomEdit::TCustomEdit(TComponent* AOwner) : TWinControl(AOwner), FEdit(new EditImpl)
{
    auto* w = new VclWidget<QLineEdit>();
    FImpl->width = 121;
    FImpl->height = 21;
    FImpl->colorRole = QPalette::Base;
    FImpl->parentColor = false;
    FImpl->color = clWindow;
    AttachWidget(w, false);
    QObject::connect(w, &QLineEdit::textChanged, w, [this, w](const QString& now) {
        if (!VclControlOf(w) || FEdit->guard) return;
        QString text = now;
        // What the user typed beyond MaxLength or MaxBytes is cut off.
        qsizetype cursor = CutToLimits(FEdit->last, text, FMaxLength, FMaxBytes, Font()->Charset());
        if (cursor >= 0) {
            FEdit->guard++;
            w->setText(text);
            w->setCursorPosition((int)cursor);
            FEdit->guard--;
            if (text == FEdit->last) return;
        }
        FEdit->last = text;
        if (OnChange) VclSafeCall([&] { OnChange(this); });
    });
}

TCustomEdit::~TCustomEdit() { delete FEdit; }

AnsiString TCustomEdit::Text() const { return VclFromQ(LineOf(this)->text(), Font()->Charset()); }

void TCustomEdit::SetText(const AnsiString& value)
{
    QString q = VclToQ(value, Font()->Charset());
    QLineEdit* w = LineOf(this);
    if (w->text() == q) return;
    FEdit->guard++;
    w->setText(q);
    FEdit->guard--;
    FEdit->last = q;
    if (OnChange) OnChange(this);
}

void TCustomEdit::SetMaxLength(int value) { FMaxLength = value < 0 ? 0 : value; }
void TCustomEdit::SetMaxBytes(int value) { FMaxBytes = value < 0 ? 0 : value; }
bool TCustomEdit::TextInCodePage() const { return VclInCodePage(LineOf(this)->text(), Font()->Charset()); }

void TCustomEdit::SetPasswordChar(char value)
{
    FPasswordChar = value;
    QLineEdit* w = LineOf(this);
    if (value) {
        w->setEchoMode(QLineEdit::Password);
        w->setStyleSheet(QString("QLineEdit { lineedit-password-character: %1; }").arg((int)(uchar)value));
    } else {
        w->setEchoMode(QLineEdit::Normal);
        w->setStyleSheet(QString());
    }
}

bool TCustomEdit::ReadOnly() const { return LineOf(this)->isReadOnly(); }
void TCustomEdit::SetReadOnly(bool value) { LineOf(this)->setReadOnly(value); }
void TCustomEdit::SelectAll() { LineOf(this)->selectAll(); }

// --- TComboBox -----------------------------------------------------------------

static QComboBox* ComboOf(const TControl* c) { return static_cast<QComboBox*>(VclWidgetOf(c)); }

namespace {
// The combo box's own list as TStrings; adding items never selects one.
class TComboItems : public TStrings {
public:
    explicit TComboItems(QComboBox* box) : FBox(box) {}
    int Count() const override { return FBox->count(); }
    AnsiString Strings(int index) const override
    {
        CheckIndex(index, Count());
        return VclFromQ(FBox->itemText(index));
    }
    void SetStrings(int index, const AnsiString& s) override
    {
        CheckIndex(index, Count());
        FBox->setItemText(index, VclToQ(s));
    }
    void Insert(int index, const AnsiString& s) override
    {
        CheckIndex(index, Count() + 1);
        int was = FBox->currentIndex();
        QString text = FBox->isEditable() ? FBox->currentText() : QString();
        FBox->insertItem(index, VclToQ(s));
        if (was < 0) {
            FBox->setCurrentIndex(-1);
            if (FBox->isEditable()) FBox->setEditText(text);
        }
    }
    void Delete(int index) override
    {
        CheckIndex(index, Count());
        int was = FBox->currentIndex();
        QString text = FBox->isEditable() ? FBox->currentText() : QString();
        FBox->removeItem(index);
        if (was == index) {
            FBox->setCurrentIndex(-1);
            if (FBox->isEditable()) FBox->setEditText(text);
        }
    }
    void Clear() override { FBox->clear(); }

private:
    QComboBox* FBox;
};
} // namespace

TComboBox::TComboBox(TComponent* AOwner) : TWinControl(AOwner)
{
    auto* w = new VclWidget<QComboBox>();
    FImpl->width = 145;
    FImpl->height = 21;
    FImpl->nativeClick = true;
    FImpl->colorRole = QPalette::Base;
    FImpl->parentColor = false;
    FImpl->color = clWindow;
    AttachWidget(w, false);
    FItems = new TComboItems(w);
    QObject::connect(w, &QComboBox::activated, w, [this, w](int) {
        if (!VclControlOf(w)) return;
        QPointer<QWidget> guard(w);
        VclSafeCall([&] { Click(); });
        if (!guard || !VclControlOf(w)) return;
        if (OnSelect) VclSafeCall([&] { OnSelect(this); });
        else if (OnChange) VclSafeCall([&] { OnChange(this); });
    });
    SetStyle(csDropDown);
}

TComboBox::~TComboBox() { delete FItems; }

int TComboBox::ItemIndex() const { return ComboOf(this)->currentIndex(); }

void TComboBox::SetItemIndex(int value)
{
    QComboBox* w = ComboOf(this);
    if (value < -1 || value >= w->count()) value = -1;
    w->setCurrentIndex(value);
}

AnsiString TComboBox::Text() const { return VclFromQ(ComboOf(this)->currentText()); }

void TComboBox::SetText(const AnsiString& value)
{
    QComboBox* w = ComboOf(this);
    QString q = VclToQ(value);
    if (w->isEditable()) {
        int i = w->findText(q, Qt::MatchExactly);
        if (i >= 0) w->setCurrentIndex(i);
        w->setEditText(q);
    } else {
        w->setCurrentIndex(w->findText(q, Qt::MatchExactly));
    }
}

void TComboBox::SetStyle(TComboBoxStyle value)
{
    FStyle = value;
    QComboBox* w = ComboOf(this);
    bool editable = value == csDropDown || value == csSimple;
    if (w->isEditable() == editable) return;
    int index = w->currentIndex();
    w->setEditable(editable);
    if (editable) {
        w->setInsertPolicy(QComboBox::NoInsert);
        if (FMaxLength > 0) w->lineEdit()->setMaxLength(FMaxLength);
        QObject::connect(w->lineEdit(), &QLineEdit::textEdited, w, [this, w](const QString&) {
            if (VclControlOf(w) && OnChange) VclSafeCall([&] { OnChange(this); });
        });
    }
    w->setCurrentIndex(index);
}

void TComboBox::SetDropDownCount(int value)
{
    FDropDownCount = value;
    ComboOf(this)->setMaxVisibleItems(std::max(1, value));
}

void TComboBox::SetMaxLength(int value)
{
    FMaxLength = value < 0 ? 0 : value;
    QComboBox* w = ComboOf(this);
    if (w->isEditable()) w->lineEdit()->setMaxLength(FMaxLength > 0 ? FMaxLength : 32767);
}

void TComboBox::Clear()
{
    FItems->Clear();
    if (ComboOf(this)->isEditable()) ComboOf(this)->setEditText(QString());
}

// --- TCheckBox -------------------------------------------------------------------

static QCheckBox* CheckOf(const TControl* c) { return static_cast<QCheckBox*>(VclWidgetOf(c)); }

namespace {
int gCheckGuard = 0; // > 0 while code sets a check box
}

TCheckBox::TCheckBox(TComponent* AOwner) : TWinControl(AOwner)
{
    auto* w = new VclWidget<QCheckBox>();
    FImpl->width = 97;
    FImpl->height = 17;
    FImpl->nativeClick = true;
    AttachWidget(w, false);
    QObject::connect(w, &QCheckBox::stateChanged, w, [this, w](int) {
        if (VclControlOf(w) && !gCheckGuard) VclSafeCall([&] { Click(); });
    });
}

void TCheckBox::TextChanged() { CheckOf(this)->setText(VclToQ(Text())); }

bool TCheckBox::Checked() const { return CheckOf(this)->checkState() == Qt::Checked; }

void TCheckBox::SetChecked(bool value) { SetState(value ? cbChecked : cbUnchecked); }

TCheckBoxState TCheckBox::State() const
{
    switch (CheckOf(this)->checkState()) {
    case Qt::Checked: return cbChecked;
    case Qt::PartiallyChecked: return cbGrayed;
    default: return cbUnchecked;
    }
}

void TCheckBox::SetState(TCheckBoxState value)
{
    if (value == State()) return;
    QCheckBox* w = CheckOf(this);
    gCheckGuard++;
    if (value == cbGrayed) w->setTristate(true);
    w->setCheckState(value == cbChecked ? Qt::Checked : value == cbGrayed ? Qt::PartiallyChecked : Qt::Unchecked);
    gCheckGuard--;
    Click();
}

// --- TMemo -------------------------------------------------------------------------

static QPlainTextEdit* MemoOf(const TControl* c) { return static_cast<QPlainTextEdit*>(VclWidgetOf(c)); }

namespace {
int gMemoGuard = 0; // > 0 while code sets a memo's text

// The memo's lines; a change rewrites the text and raises OnChange.
class TMemoLines : public TStrings {
public:
    explicit TMemoLines(TMemo* memo) : FMemo(memo) {}
    int Count() const override { return (int)Lines().size(); }
    AnsiString Strings(int index) const override
    {
        auto v = Lines();
        CheckIndex(index, (int)v.size());
        return VclFromQ(v[index]);
    }
    void SetStrings(int index, const AnsiString& s) override
    {
        auto v = Lines();
        CheckIndex(index, (int)v.size());
        v.removeAt(index);
        Put(v, index, s);
    }
    void Insert(int index, const AnsiString& s) override
    {
        auto v = Lines();
        CheckIndex(index, (int)v.size() + 1);
        Put(v, index, s);
    }
    void Delete(int index) override
    {
        auto v = Lines();
        CheckIndex(index, (int)v.size());
        v.removeAt(index);
        Store(v);
    }
    void Clear() override { Store(QStringList()); }
    // The whole text in one change, as the memo takes a text set from code.
    void SetText(const AnsiString& text) override
    {
        QString q = VclToQ(text);
        q.replace("\r\n", "\n");
        q.replace('\r', '\n');
        QStringList v = q.split('\n');
        if (!v.isEmpty() && v.back().isEmpty()) v.removeLast();
        Store(v);
    }

private:
    QStringList Lines() const
    {
        QString t = MemoOf(FMemo)->toPlainText();
        if (t.isEmpty()) return QStringList();
        QStringList v = t.split('\n');
        if (!v.isEmpty() && v.back().isEmpty()) v.removeLast();
        return v;
    }
    void Put(QStringList& v, int index, const AnsiString& s)
    {
        QString q = VclToQ(s);
        q.replace("\r\n", "\n");
        q.replace('\r', '\n');
        QStringList parts = q.split('\n');
        for (int i = 0; i < parts.size(); i++) v.insert(index + i, parts[i]);
        Store(v);
    }
    void Store(const QStringList& v)
    {
        QString joined = v.join('\n');
        if (joined == MemoOf(FMemo)->toPlainText()) return;
        FMemo->SetTextSilently(VclFromQ(joined));
        FMemo->FireChange();
    }
    TMemo* FMemo;
};
} // namespace

TMemo::TMemo(TComponent* AOwner) : TWinControl(AOwner)
{
    auto* w = new VclWidget<QPlainTextEdit>();
    FImpl->width = 185;
    FImpl->height = 89;
    FImpl->colorRole = QPalette::Base;
    FImpl->parentColor = false;
    FImpl->color = clWindow;
    AttachWidget(w, false);
    FLines = new TMemoLines(this);
    SetScrollBars(ssNone);
    SetWordWrap(true);
    QObject::connect(w, &QPlainTextEdit::textChanged, w, [this, w]() {
        if (VclControlOf(w) && !gMemoGuard && OnChange) VclSafeCall([&] { OnChange(this); });
    });
}

TMemo::~TMemo() { delete FLines; }

AnsiString TMemo::Text() const
{
    QString t = MemoOf(this)->toPlainText();
    t.replace("\n", "\r\n");
    return VclFromQ(t);
}

void TMemo::SetTextSilently(const AnsiString& value)
{
    QString q = VclToQ(value);
    q.replace("\r\n", "\n");
    q.replace('\r', '\n');
    gMemoGuard++;
    MemoOf(this)->setPlainText(q);
    gMemoGuard--;
}

void TMemo::FireChange()
{
    if (OnChange) OnChange(this);
}

void TMemo::SetText(const AnsiString& value)
{
    if (value == Text()) return;
    SetTextSilently(value);
    FireChange();
}

bool TMemo::ReadOnly() const { return MemoOf(this)->isReadOnly(); }
void TMemo::SetReadOnly(bool value) { MemoOf(this)->setReadOnly(value); }

void TMemo::SetWordWrap(bool value)
{
    FWordWrap = value;
    MemoOf(this)->setLineWrapMode(value ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
}

void TMemo::SetScrollBars(TScrollStyle value)
{
    FScrollBars = value;
    QPlainTextEdit* w = MemoOf(this);
    w->setHorizontalScrollBarPolicy(value == ssHorizontal || value == ssBoth ? Qt::ScrollBarAlwaysOn
                                                                             : Qt::ScrollBarAlwaysOff);
    w->setVerticalScrollBarPolicy(value == ssVertical || value == ssBoth ? Qt::ScrollBarAlwaysOn
                                                                         : Qt::ScrollBarAlwaysOff);
}

// --- TCustomGroupBox ---------------------------------------------------------------

TCustomGroupBox::TCustomGroupBox(TComponent* AOwner) : TWinControl(AOwner)
{
    auto* w = new VclWidget<QGroupBox>();
    FImpl->width = 185;
    FImpl->height = 105;
    AttachWidget(w, false);
}

void TCustomGroupBox::TextChanged() { static_cast<QGroupBox*>(FImpl->widget)->setTitle(StripAccel(VclToQ(Text()))); }

// --- TScrollBar ----------------------------------------------------------------------

static QScrollBar* BarOf(const TControl* c) { return static_cast<QScrollBar*>(VclWidgetOf(c)); }

TScrollBar::TScrollBar(TComponent* AOwner) : TWinControl(AOwner)
{
    auto* w = new VclWidget<QScrollBar>(Qt::Horizontal);
    FImpl->width = 121;
    FImpl->height = 17;
    FImpl->nativeClick = true;
    AttachWidget(w, false);
    w->setRange(FMin, FMax);
    w->setValue(FPosition);
    QObject::connect(w, &QScrollBar::valueChanged, w, [this, w](int v) {
        if (VclControlOf(w) && !FInSet) UserMoved(v);
    });
}

void TScrollBar::SetParams(int position, int min, int max)
{
    if (max < min) throw std::invalid_argument("Scroll bar property out of range");
    if (position < min) position = min;
    if (position > max) position = max;
    bool changed = position != FPosition;
    FMin = min;
    FMax = max;
    FPosition = position;
    QScrollBar* w = BarOf(this);
    FInSet = true;
    w->setRange(min, max);
    w->setValue(position);
    FInSet = false;
    if (changed && OnChange) OnChange(this);
}

void TScrollBar::UserMoved(int position)
{
    if (position == FPosition) return;
    FPosition = position;
    if (OnChange) VclSafeCall([&] { OnChange(this); });
}

void TScrollBar::SetKind(TScrollBarKind value)
{
    FKind = value;
    BarOf(this)->setOrientation(value == sbHorizontal ? Qt::Horizontal : Qt::Vertical);
}

void TScrollBar::SetSmallChange(int value)
{
    FSmallChange = value;
    BarOf(this)->setSingleStep(value);
}

void TScrollBar::SetLargeChange(int value)
{
    FLargeChange = value;
    BarOf(this)->setPageStep(value);
}

void TScrollBar::SetPageSize(int value) { FPageSize = value; }

// --- TStaticText -----------------------------------------------------------------------

TStaticText::TStaticText(TComponent* AOwner) : TWinControl(AOwner)
{
    auto* w = new VclWidget<QLabel>();
    w->setTextFormat(Qt::PlainText);
    FImpl->width = 65;
    FImpl->height = 17;
    AttachWidget(w, false);
    SetAlignment(taLeftJustify);
}

void TStaticText::TextChanged()
{
    LabelOf(this)->setText(StripAccel(VclToQ(Text())));
    Fit();
}

void TStaticText::Fit()
{
    if (!FAutoSize || !FImpl->widget) return;
    QFontMetrics fm(FImpl->widget->font());
    QString t = StripAccel(VclToQ(Text()));
    if (t.isEmpty()) t = " ";
    int extra = FBorderStyle == sbsNone ? 0 : 4;
    SetBounds(Left(), Top(), fm.horizontalAdvance(t) + extra, fm.height() + extra);
}

void TStaticText::SetAlignment(TAlignment value)
{
    FAlignment = value;
    LabelOf(this)->setAlignment(HorizontalOf(value) | Qt::AlignTop);
}

void TStaticText::SetAutoSize(bool value)
{
    FAutoSize = value;
    Fit();
}

void TStaticText::SetBorderStyle(TStaticBorderStyle value)
{
    FBorderStyle = value;
    QLabel* w = LabelOf(this);
    w->setFrameStyle(value == sbsNone     ? QFrame::NoFrame
                     : value == sbsSingle ? (QFrame::Box | QFrame::Plain)
                                          : (QFrame::Panel | QFrame::Sunken));
    Fit();
}
