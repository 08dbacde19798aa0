// Common controls of the class library: the page control with its tab
// sheets and the progress bar.
#pragma once
#include "platform/vcl/Controls.h"

class TPageControl;

// One page of a TPageControl. It becomes a page by getting the page control
// as its parent; its bounds follow the page control's page area.
class TTabSheet : public TWinControl {
public:
    explicit TTabSheet(TComponent* AOwner);
    ~TTabSheet() override;
    TPageControl* PageControl() const { return FPageControl; }
    void SetPageControl(TPageControl* pageControl);
    void SetParent(TWinControl* parent) override;
    // Index among all pages of the page control, -1 without one.
    int PageIndex() const;
    // A sheet with TabVisible false has no tab; when it was the active page
    // the next page with a tab becomes active (without OnChange).
    bool TabVisible() const { return FTabVisible; }
    void SetTabVisible(bool value);
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int value) { FImageIndex = value; }

protected:
    void TextChanged() override;

private:
    TPageControl* FPageControl = nullptr;
    bool FTabVisible = true;
    int FImageIndex = -1;
    friend class TPageControl;
};

// Tabs across the top, the active page below them. Setting ActivePage or
// ActivePageIndex from code raises no event; the user's choice of a tab
// raises OnChange after the new page is active.
class TPageControl : public TWinControl {
public:
    explicit TPageControl(TComponent* AOwner);
    ~TPageControl() override;
    int PageCount() const { return (int)FPages.size(); }
    TTabSheet* Pages(int index) const;
    TTabSheet* ActivePage() const;
    void SetActivePage(TTabSheet* page);
    // -1 when there is no active page; an index outside the pages selects
    // none.
    int ActivePageIndex() const;
    void SetActivePageIndex(int index);
    // The page area inside the control, in its own coordinates.
    TRect DisplayRect() const;
    // The tab of a page, in the control's coordinates (empty when hidden).
    TRect TabRect(int index) const;

    TNotifyEvent OnChange;

    void InsertControl(TControl* control) override;
    void RemoveControl(TControl* control) override;

    struct PageImpl;
    PageImpl* FPage;

    // Internal.
    void UserSelected(int index);
    void SyncTabs();
    void LayoutPages();
    void ShowActive();

protected:
    void BoundsChanged() override;

private:
    std::vector<TTabSheet*> FPages;
    TTabSheet* FActive = nullptr;
    int FGuard = 0;
    friend class TTabSheet;
};

enum TProgressBarOrientation { pbHorizontal, pbVertical };

// Position is held within Min .. Max.
class TProgressBar : public TWinControl {
public:
    explicit TProgressBar(TComponent* AOwner);
    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Position() const { return FPosition; }
    void SetMin(int value);
    void SetMax(int value);
    void SetPosition(int value);
    int Step() const { return FStep; }
    void SetStep(int value) { FStep = value; }
    void StepIt() { SetPosition(FPosition + FStep); }
    bool Smooth() const { return FSmooth; }
    void SetSmooth(bool value) { FSmooth = value; }
    TProgressBarOrientation Orientation() const { return FOrientation; }
    void SetOrientation(TProgressBarOrientation value);

private:
    void Apply();
    int FMin = 0, FMax = 100, FPosition = 0, FStep = 10;
    bool FSmooth = false;
    TProgressBarOrientation FOrientation = pbHorizontal;
};
