// Qt backend of the page control (a tab bar over a framed page area whose
// pages it shows one at a time), the tab sheets and the progress bar. No
// module state.
#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/VclQt.h"

#include <QPainter>
#include <QProgressBar>
#include <QTabBar>

#include <algorithm>

namespace {
const int kTabHeight = 24; // the tab row; the page area starts below it
const int kInset = 4;      // page area inset from the control's edges

class VclPageWidget : public VclWidget<QWidget> {
protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        QRect r(0, kTabHeight - 2, width() - 1, height() - kTabHeight + 1);
        p.setPen(palette().color(QPalette::Light));
        p.drawLine(r.topLeft(), r.topRight());
        p.drawLine(r.topLeft(), r.bottomLeft());
        p.setPen(palette().color(QPalette::Dark));
        p.drawLine(r.bottomLeft(), r.bottomRight());
        p.drawLine(r.topRight(), r.bottomRight());
    }
};
} // namespace

struct TPageControl::PageImpl {
    QTabBar* bar = nullptr;
};

// --- TTabSheet ---------------------------------------------------------------------

TTabSheet::TTabSheet(TComponent* AOwner) : TWinControl(AOwner)
{
    auto* w = new VclWidget<QWidget>();
    FImpl->fillBackground = true;
    FImpl->parentColor = false; // pages have the face colour, whatever the form's
    FImpl->color = clBtnFace;
    AttachWidget(w, false);
}

TTabSheet::~TTabSheet() {}

void TTabSheet::SetPageControl(TPageControl* pageControl) { SetParent(pageControl); }

void TTabSheet::SetParent(TWinControl* parent)
{
    TWinControl::SetParent(parent);
    FPageControl = dynamic_cast<TPageControl*>(Parent());
}

int TTabSheet::PageIndex() const
{
    if (!FPageControl) return -1;
    auto& v = FPageControl->FPages;
    auto it = std::find(v.begin(), v.end(), this);
    return it == v.end() ? -1 : (int)(it - v.begin());
}

void TTabSheet::SetTabVisible(bool value)
{
    if (FTabVisible == value) return;
    FTabVisible = value;
    if (FPageControl) FPageControl->SyncTabs();
}

void TTabSheet::TextChanged()
{
    if (!FPageControl) return;
    int i = PageIndex();
    if (i >= 0) FPageControl->FPage->bar->setTabText(i, VclToQ(Text()));
}

// --- TPageControl ----------------------------------------------------------------

TPageControl::TPageControl(TComponent* AOwner) : TWinControl(AOwner), FPage(new PageImpl)
{
    auto* w = new VclPageWidget();
    FImpl->width = 289;
    FImpl->height = 193;
    // The tab row and the frame are painted in the face colour, as the
    // library's page control is, so nothing beneath shows through them.
    FImpl->fillBackground = true;
    FImpl->parentColor = false;
    FImpl->color = clBtnFace;
    AttachWidget(w, false);
    FPage->bar = new QTabBar(w);
    FPage->bar->setDrawBase(false);
    FPage->bar->setExpanding(false);
    FPage->bar->setGeometry(2, 0, std::max(0, Width() - 4), kTabHeight);
    FPage->bar->show();
    QObject::connect(FPage->bar, &QTabBar::currentChanged, w, [this, w](int index) {
        if (!VclControlOf(w) || FGuard) return;
        UserSelected(index);
    });
}

TPageControl::~TPageControl() { delete FPage; }

TTabSheet* TPageControl::Pages(int index) const
{
    if (index < 0 || index >= (int)FPages.size()) return nullptr;
    return FPages[(size_t)index];
}

TTabSheet* TPageControl::ActivePage() const { return FActive; }

int TPageControl::ActivePageIndex() const { return FActive ? FActive->PageIndex() : -1; }

void TPageControl::SetActivePageIndex(int index) { SetActivePage(Pages(index)); }

void TPageControl::SetActivePage(TTabSheet* page)
{
    if (page && page->FPageControl != this) return;
    FActive = page;
    FGuard++;
    FPage->bar->setCurrentIndex(page ? page->PageIndex() : -1);
    FGuard--;
    ShowActive();
}

TRect TPageControl::DisplayRect() const
{
    return Rect(kInset, kTabHeight, std::max(kInset, Width() - kInset), std::max(kTabHeight, Height() - kInset));
}

TRect TPageControl::TabRect(int index) const
{
    if (index < 0 || index >= (int)FPages.size() || !FPages[(size_t)index]->TabVisible()) return TRect();
    QRect r = FPage->bar->tabRect(index);
    r.translate(FPage->bar->pos());
    return Rect(r.left(), r.top(), r.left() + r.width(), r.top() + r.height());
}

void TPageControl::InsertControl(TControl* control)
{
    TWinControl::InsertControl(control);
    auto* sheet = dynamic_cast<TTabSheet*>(control);
    if (!sheet) return;
    FPages.push_back(sheet);
    sheet->FPageControl = this;
    int i = (int)FPages.size() - 1;
    FGuard++;
    FPage->bar->insertTab(i, VclToQ(sheet->Text()));
    FPage->bar->setTabVisible(i, sheet->TabVisible());
    FGuard--;
    if (!FActive && sheet->TabVisible()) FActive = sheet;
    SetActivePage(FActive);
    LayoutPages();
}

void TPageControl::RemoveControl(TControl* control)
{
    auto it = std::find(FPages.begin(), FPages.end(), control);
    if (it != FPages.end()) {
        int i = (int)(it - FPages.begin());
        FPages.erase(it);
        FGuard++;
        FPage->bar->removeTab(i);
        FGuard--;
        if (FActive == control) FActive = Pages(FPage->bar->currentIndex());
        ShowActive();
    }
    TWinControl::RemoveControl(control);
}

void TPageControl::UserSelected(int index)
{
    FActive = Pages(index);
    ShowActive();
    if (OnChange) VclSafeCall([&] { OnChange(this); });
}

// Tab visibility follows the sheets; hiding the active sheet's tab makes
// the tab bar's next visible tab the active page.
void TPageControl::SyncTabs()
{
    FGuard++;
    for (int i = 0; i < (int)FPages.size(); i++) FPage->bar->setTabVisible(i, FPages[(size_t)i]->TabVisible());
    FGuard--;
    if (FActive && !FActive->TabVisible()) {
        TTabSheet* next = Pages(FPage->bar->currentIndex());
        FActive = next && next->TabVisible() ? next : nullptr;
    } else if (!FActive) {
        for (TTabSheet* s : FPages)
            if (s->TabVisible()) {
                FActive = s;
                break;
            }
    }
    SetActivePage(FActive);
}

void TPageControl::LayoutPages()
{
    FPage->bar->setGeometry(2, 0, std::max(0, Width() - 4), kTabHeight);
    TRect r = DisplayRect();
    for (TTabSheet* s : FPages) s->SetBounds(r.Left, r.Top, r.Width(), r.Height());
}

void TPageControl::ShowActive()
{
    for (TTabSheet* s : FPages) {
        s->FImpl->visible = s == FActive;
        if (QWidget* w = VclWidgetOf(s)) w->setVisible(s == FActive);
    }
}

void TPageControl::BoundsChanged() { LayoutPages(); }

// --- TProgressBar ------------------------------------------------------------------

TProgressBar::TProgressBar(TComponent* AOwner) : TWinControl(AOwner)
{
    auto* w = new VclWidget<QProgressBar>();
    w->setTextVisible(false);
    FImpl->width = 150;
    FImpl->height = 17;
    AttachWidget(w, false);
    Apply();
}

void TProgressBar::Apply()
{
    auto* w = static_cast<QProgressBar*>(FImpl->widget);
    w->setRange(FMin, FMax);
    w->setValue(FPosition);
}

void TProgressBar::SetMin(int value)
{
    FMin = value;
    if (FMax < FMin) FMax = FMin;
    FPosition = std::clamp(FPosition, FMin, FMax);
    Apply();
}

void TProgressBar::SetMax(int value)
{
    FMax = value;
    if (FMin > FMax) FMin = FMax;
    FPosition = std::clamp(FPosition, FMin, FMax);
    Apply();
}

void TProgressBar::SetPosition(int value)
{
    FPosition = std::clamp(value, FMin, FMax);
    Apply();
}

void TProgressBar::SetOrientation(TProgressBarOrientation value)
{
    FOrientation = value;
    static_cast<QProgressBar*>(FImpl->widget)->setOrientation(value == pbHorizontal ? Qt::Horizontal : Qt::Vertical);
}
