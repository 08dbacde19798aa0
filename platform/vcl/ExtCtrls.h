// Extra controls of the class library: the picture control TImage, panels,
// the edit with a bound label TLabeledEdit and the radio group.
#pragma once
#include "platform/vcl/StdCtrls.h"

// Shows Picture: at its own size from the top left, centred (Center) or
// scaled to the bounds (Stretch, keeping the aspect with Proportional).
// AutoSize fits the bounds to the picture whenever it changes. Transparent
// leaves out the colour of the bitmap's bottom-left pixel. An image without
// a picture draws nothing, so what lies below shows through.
class TImage : public TGraphicControl {
public:
    explicit TImage(TComponent* AOwner);
    ~TImage() override;
    TPicture* Picture() const { return FPicture; }
    // The canvas of Picture's bitmap; an empty picture first becomes a
    // bitmap of the control's size.
    TCanvas* Canvas();
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    bool Stretch() const { return FStretch; }
    void SetStretch(bool value);
    bool Center() const { return FCenter; }
    void SetCenter(bool value);
    bool Proportional() const { return FProportional; }
    void SetProportional(bool value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);

private:
    void PictureChanged();
    // Opaque painting while a non-transparent picture covers the image.
    void UpdateOpaque();
    TPicture* FPicture;
    bool FAutoSize = false, FStretch = false, FCenter = false, FProportional = false, FTransparent = false;
};

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TPanelBorderStyle { pbsNone, pbsSingle };

// A container with an optional centred caption and bevels.
class TCustomPanel : public TWinControl {
public:
    explicit TCustomPanel(TComponent* AOwner);
    TBevelCut BevelInner() const { return FBevelInner; }
    void SetBevelInner(TBevelCut value);
    TBevelCut BevelOuter() const { return FBevelOuter; }
    void SetBevelOuter(TBevelCut value);
    int BevelWidth() const { return FBevelWidth; }
    void SetBevelWidth(int value);
    TPanelBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TPanelBorderStyle value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    // Inside the border and each bevel.
    TRect AlignClientRect() const override;

protected:
    void TextChanged() override;

private:
    TBevelCut FBevelInner = bvNone, FBevelOuter = bvRaised;
    int FBevelWidth = 1;
    TPanelBorderStyle FBorderStyle = pbsNone;
    TAlignment FAlignment = taCenter;
};

class TPanel : public TCustomPanel {
public:
    explicit TPanel(TComponent* AOwner) : TCustomPanel(AOwner) {}
};

enum TLabelPosition { lpAbove, lpBelow, lpLeft, lpRight };

class TCustomLabeledEdit;

// The label of a TLabeledEdit: owned by the edit, placed beside it in the
// edit's parent, shown and enabled with it.
class TBoundLabel : public TCustomLabel {
public:
    explicit TBoundLabel(TCustomLabeledEdit* edit);
    ~TBoundLabel() override;
    TCustomLabeledEdit* Edit() const { return FEdit; }

protected:
    void BoundsChanged() override;

private:
    TCustomLabeledEdit* FEdit;
    friend class TCustomLabeledEdit;
};

class TCustomLabeledEdit : public TCustomEdit {
public:
    explicit TCustomLabeledEdit(TComponent* AOwner);
    ~TCustomLabeledEdit() override;
    TBoundLabel* EditLabel() const { return FEditLabel; }
    TLabelPosition LabelPosition() const { return FLabelPosition; }
    void SetLabelPosition(TLabelPosition value);
    int LabelSpacing() const { return FLabelSpacing; }
    void SetLabelSpacing(int value);
    void SetParent(TWinControl* parent) override;
    void SetVisible(bool value) override;
    void SetEnabled(bool value) override;
    // Internal: places the label after a move of either.
    void PlaceLabel();

protected:
    void BoundsChanged() override;

private:
    TBoundLabel* FEditLabel;
    TLabelPosition FLabelPosition = lpAbove;
    int FLabelSpacing = 3;
    bool FPlacing = false;
    friend class TBoundLabel;
};

class TLabeledEdit : public TCustomLabeledEdit {
public:
    explicit TLabeledEdit(TComponent* AOwner) : TCustomLabeledEdit(AOwner) {}
};

// A group of radio buttons, one per item. OnClick when ItemIndex changes.
class TRadioGroup : public TCustomGroupBox {
public:
    explicit TRadioGroup(TComponent* AOwner);
    ~TRadioGroup() override;
    TStrings* Items() const { return FItems; }
    int ItemIndex() const { return FItemIndex; }
    void SetItemIndex(int value);
    int Columns() const { return FColumns; }
    void SetColumns(int value);

    struct RadioImpl;
    RadioImpl* FRadio;

protected:
    void BoundsChanged() override;

private:
    void Rebuild();
    TStringList* FItems;
    int FItemIndex = -1;
    int FColumns = 1;
    friend struct RadioImpl;
};
