// Qt backend of TImage (draws the picture's display copy), panels, the
// labeled edit with its bound label, and the radio group. No module state.
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/VclQt.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGroupBox>
#include <QPainter>
#include <QRadioButton>

#include <algorithm>

// --- TImage --------------------------------------------------------------------

namespace {
// Where the picture of pw x ph pixels lands in an image of w x h.
QRect PictureRect(const TImage* img, int w, int h, int pw, int ph)
{
    QRect target(0, 0, pw, ph);
    if (img->Stretch()) {
        target = QRect(0, 0, w, h);
        if (img->Proportional()) {
            double s = std::min((double)w / pw, (double)h / ph);
            int tw = std::max(1, (int)(pw * s)), th = std::max(1, (int)(ph * s));
            target = QRect(img->Center() ? (w - tw) / 2 : 0, img->Center() ? (h - th) / 2 : 0, tw, th);
        }
    } else if (img->Proportional() && (pw > w || ph > h)) {
        double s = std::min((double)w / pw, (double)h / ph);
        int tw = std::max(1, (int)(pw * s)), th = std::max(1, (int)(ph * s));
        target = QRect(img->Center() ? (w - tw) / 2 : 0, img->Center() ? (h - th) / 2 : 0, tw, th);
    } else if (img->Center()) {
        target.moveTo((w - pw) / 2, (h - ph) / 2);
    }
    return target;
}

class VclImageWidget : public VclWidget<QWidget> {
public:
    // An image whose opaque picture covers all of it paints every pixel
    // itself: Qt then draws nothing of the parent or the siblings beneath.
    void UpdateOpaque()
    {
        auto* img = dynamic_cast<TImage*>(ctrl);
        TGraphic* g = img ? img->Picture()->Graphic() : nullptr;
        bool covers = g && !g->Empty() && !g->Transparent() &&
                      PictureRect(img, width(), height(), g->Width(), g->Height()).contains(rect());
        if (testAttribute(Qt::WA_OpaquePaintEvent) != covers) setAttribute(Qt::WA_OpaquePaintEvent, covers);
    }

protected:
    void resizeEvent(QResizeEvent* e) override
    {
        VclWidget<QWidget>::resizeEvent(e);
        UpdateOpaque();
    }
    void paintEvent(QPaintEvent*) override
    {
        auto* img = dynamic_cast<TImage*>(ctrl);
        if (!img) return;
        TGraphic* g = img->Picture()->Graphic();
        if (!g || g->Empty()) return;
        const QImage& pic = *g->Display()->image;
        QRect target = PictureRect(img, width(), height(), pic.width(), pic.height());
        QPainter p(this);
        if (target.size() == pic.size()) p.drawImage(target.topLeft(), pic);
        else p.drawImage(target, pic);
    }
};
} // namespace

TImage::TImage(TComponent* AOwner) : TGraphicControl(AOwner), FPicture(new TPicture)
{
    auto* w = new VclImageWidget();
    FImpl->width = 105;
    FImpl->height = 105;
    AttachWidget(w, true);
    FPicture->OnChange = [this](TObject*) { PictureChanged(); };
}

TImage::~TImage()
{
    FPicture->OnChange = nullptr;
    delete FPicture;
}

void TImage::PictureChanged()
{
    TGraphic* g = FPicture->Graphic();
    if (g && g->Transparent() != FTransparent) {
        g->SetTransparent(FTransparent); // raises this again
        return;
    }
    if (FAutoSize && FPicture->Width() > 0 && FPicture->Height() > 0)
        SetBounds(Left(), Top(), FPicture->Width(), FPicture->Height());
    UpdateOpaque();
    Invalidate();
}

void TImage::UpdateOpaque()
{
    if (auto* w = dynamic_cast<VclImageWidget*>(FImpl->widget)) w->UpdateOpaque();
}

TCanvas* TImage::Canvas()
{
    if (!FPicture->Graphic()) {
        TBitmap* b = FPicture->Bitmap();
        b->SetSize(Width(), Height());
    }
    auto* b = dynamic_cast<TBitmap*>(FPicture->Graphic());
    if (!b) throw EInvalidGraphic("Can only modify an image if it contains a bitmap");
    return b->Canvas();
}

void TImage::SetAutoSize(bool value)
{
    FAutoSize = value;
    PictureChanged();
}

void TImage::SetStretch(bool value)
{
    FStretch = value;
    UpdateOpaque();
    Invalidate();
}

void TImage::SetCenter(bool value)
{
    FCenter = value;
    UpdateOpaque();
    Invalidate();
}

void TImage::SetProportional(bool value)
{
    FProportional = value;
    UpdateOpaque();
    Invalidate();
}

void TImage::SetTransparent(bool value)
{
    FTransparent = value;
    PictureChanged();
}

// --- TCustomPanel ------------------------------------------------------------------

namespace {
class VclPanelWidget : public VclWidget<QFrame> {
protected:
    void paintEvent(QPaintEvent* e) override
    {
        QFrame::paintEvent(e);
        auto* panel = dynamic_cast<TCustomPanel*>(ctrl);
        if (!panel || panel->Caption().empty()) return;
        QPainter p(this);
        p.setFont(font());
        p.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        int pad = frameWidth() + 2;
        Qt::Alignment h = panel->Alignment() == taLeftJustify    ? Qt::AlignLeft
                          : panel->Alignment() == taRightJustify ? Qt::AlignRight
                                                                 : Qt::AlignHCenter;
        p.drawText(rect().adjusted(pad, pad, -pad, -pad), (int)(h | Qt::AlignVCenter), VclToQ(panel->Caption()));
    }
};

QFrame* FrameOf(const TControl* c) { return static_cast<QFrame*>(VclWidgetOf(c)); }

void ApplyBevel(TCustomPanel* p)
{
    QFrame* w = FrameOf(p);
    if (p->BorderStyle() == pbsSingle) {
        w->setFrameStyle(QFrame::Box | QFrame::Plain);
    } else if (p->BevelOuter() == bvNone && p->BevelInner() == bvNone) {
        w->setFrameStyle(QFrame::NoFrame);
    } else {
        TBevelCut cut = p->BevelOuter() != bvNone ? p->BevelOuter() : p->BevelInner();
        w->setFrameStyle(QFrame::Panel | (cut == bvLowered ? QFrame::Sunken : QFrame::Raised));
    }
    w->setLineWidth(std::max(1, p->BevelWidth()));
    w->update();
}
} // namespace

TCustomPanel::TCustomPanel(TComponent* AOwner) : TWinControl(AOwner)
{
    auto* w = new VclPanelWidget();
    FImpl->width = 185;
    FImpl->height = 41;
    FImpl->fillBackground = true;
    AttachWidget(w, false);
    ApplyBevel(this);
}

void TCustomPanel::TextChanged() { Invalidate(); }

TRect TCustomPanel::AlignClientRect() const
{
    int inset = 0;
    if (FBorderStyle == pbsSingle) inset += 1;
    if (FBevelOuter != bvNone) inset += FBevelWidth;
    if (FBevelInner != bvNone) inset += FBevelWidth;
    TRect r = ClientRect();
    return Rect(r.Left + inset, r.Top + inset, std::max(r.Left + inset, r.Right - inset),
                std::max(r.Top + inset, r.Bottom - inset));
}

void TCustomPanel::SetBevelInner(TBevelCut value)
{
    FBevelInner = value;
    ApplyBevel(this);
    Realign();
}

void TCustomPanel::SetBevelOuter(TBevelCut value)
{
    FBevelOuter = value;
    ApplyBevel(this);
    Realign();
}

void TCustomPanel::SetBevelWidth(int value)
{
    FBevelWidth = value;
    ApplyBevel(this);
    Realign();
}

void TCustomPanel::SetBorderStyle(TPanelBorderStyle value)
{
    FBorderStyle = value;
    ApplyBevel(this);
    Realign();
}

void TCustomPanel::SetAlignment(TAlignment value)
{
    FAlignment = value;
    Invalidate();
}

// --- TBoundLabel and TCustomLabeledEdit ---------------------------------------------

TBoundLabel::TBoundLabel(TCustomLabeledEdit* edit) : TCustomLabel(edit), FEdit(edit) { Name = "SubLabel"; }

TBoundLabel::~TBoundLabel()
{
    if (FEdit) FEdit->FEditLabel = nullptr;
}

void TBoundLabel::BoundsChanged()
{
    if (FEdit) FEdit->PlaceLabel();
}

TCustomLabeledEdit::TCustomLabeledEdit(TComponent* AOwner) : TCustomEdit(AOwner) { FEditLabel = new TBoundLabel(this); }

TCustomLabeledEdit::~TCustomLabeledEdit()
{
    if (FEditLabel) FEditLabel->FEdit = nullptr;
}

void TCustomLabeledEdit::PlaceLabel()
{
    if (!FEditLabel || FPlacing) return;
    FPlacing = true;
    int lw = FEditLabel->Width(), lh = FEditLabel->Height();
    int x = Left(), y = Top();
    switch (FLabelPosition) {
    case lpAbove: y = Top() - lh - FLabelSpacing; break;
    case lpBelow: y = Top() + Height() + FLabelSpacing; break;
    case lpLeft:
        x = Left() - lw - FLabelSpacing;
        y = Top() + (Height() - lh) / 2;
        break;
    case lpRight:
        x = Left() + Width() + FLabelSpacing;
        y = Top() + (Height() - lh) / 2;
        break;
    }
    FEditLabel->SetBounds(x, y, lw, lh);
    FPlacing = false;
}

void TCustomLabeledEdit::BoundsChanged() { PlaceLabel(); }

void TCustomLabeledEdit::SetLabelPosition(TLabelPosition value)
{
    FLabelPosition = value;
    PlaceLabel();
}

void TCustomLabeledEdit::SetLabelSpacing(int value)
{
    FLabelSpacing = value;
    PlaceLabel();
}

void TCustomLabeledEdit::SetParent(TWinControl* parent)
{
    TCustomEdit::SetParent(parent);
    if (FEditLabel) {
        FEditLabel->SetParent(parent);
        FEditLabel->SetVisible(Visible());
        FEditLabel->SetEnabled(Enabled());
    }
    PlaceLabel();
}

void TCustomLabeledEdit::SetVisible(bool value)
{
    TCustomEdit::SetVisible(value);
    if (FEditLabel) FEditLabel->SetVisible(value);
}

void TCustomLabeledEdit::SetEnabled(bool value)
{
    TCustomEdit::SetEnabled(value);
    if (FEditLabel) FEditLabel->SetEnabled(value);
}

// --- TRadioGroup ---------------------------------------------------------------------

struct TRadioGroup::RadioImpl {
    QButtonGroup* group = nullptr;
    std::vector<QRadioButton*> buttons;
    int guard = 0;
};

TRadioGroup::TRadioGroup(TComponent* AOwner) : TCustomGroupBox(AOwner), FRadio(new RadioImpl), FItems(new TStringList)
{
    QWidget* w = FImpl->widget;
    FRadio->group = new QButtonGroup(w);
    QObject::connect(FRadio->group, &QButtonGroup::idClicked, w, [this, w](int id) {
        if (!VclControlOf(w) || FRadio->guard || id == FItemIndex) return;
        FItemIndex = id;
        VclSafeCall([&] { Click(); });
    });
    FItems->OnChange = [this](TObject*) { Rebuild(); };
}

TRadioGroup::~TRadioGroup()
{
    FItems->OnChange = nullptr;
    delete FItems;
    delete FRadio;
}

void TRadioGroup::Rebuild()
{
    QWidget* w = FImpl->widget;
    for (QRadioButton* b : FRadio->buttons) delete b;
    FRadio->buttons.clear();
    for (int i = 0; i < FItems->Count(); i++) {
        auto* b = new QRadioButton(VclToQ(FItems->Strings(i)), w);
        FRadio->group->addButton(b, i);
        b->show();
        FRadio->buttons.push_back(b);
    }
    if (FItemIndex >= (int)FRadio->buttons.size()) FItemIndex = (int)FRadio->buttons.size() - 1;
    FRadio->guard++;
    if (FItemIndex >= 0) FRadio->buttons[(size_t)FItemIndex]->setChecked(true);
    FRadio->guard--;
    BoundsChanged();
}

void TRadioGroup::BoundsChanged()
{
    int n = (int)FRadio->buttons.size();
    if (n == 0) return;
    int cols = std::max(1, std::min(FColumns, n));
    int rows = (n + cols - 1) / cols;
    int top = 16, colWidth = std::max(1, (Width() - 16) / cols);
    int rowHeight = std::max(1, (Height() - top - 4) / rows);
    for (int i = 0; i < n; i++) {
        int c = i / rows, r = i % rows;
        FRadio->buttons[(size_t)i]->setGeometry(8 + c * colWidth, top + r * rowHeight, colWidth,
                                                std::min(rowHeight, 20));
    }
}

void TRadioGroup::SetItemIndex(int value)
{
    int n = (int)FRadio->buttons.size();
    if (value < -1) value = -1;
    if (value >= n) value = n - 1;
    if (value == FItemIndex) return;
    FItemIndex = value;
    FRadio->guard++;
    if (value >= 0) {
        FRadio->buttons[(size_t)value]->setChecked(true);
    } else {
        FRadio->group->setExclusive(false);
        for (QRadioButton* b : FRadio->buttons) b->setChecked(false);
        FRadio->group->setExclusive(true);
    }
    FRadio->guard--;
    Click();
}

void TRadioGroup::SetColumns(int value)
{
    FColumns = std::max(1, value);
    BoundsChanged();
}
