// Standard controls of the class library: labels, buttons, edits, combo
// boxes, check boxes, memos, group boxes, scroll bars and static texts.
//
// Change events follow the class library: setting an edit's Text, a memo's
// text or a scroll bar's Position from code raises OnChange (when the
// value differs) just as typing does; setting a combo box's ItemIndex or
// Text from code raises nothing, only a user's choice raises OnChange;
// setting Checked raises OnClick.
#pragma once
#include "platform/vcl/Controls.h"

enum TTextLayout { tlTop, tlCenter, tlBottom };

// Draws its caption; AutoSize fits the bounds to the text (a right-aligned
// label keeps its right edge). Not Transparent fills its bounds with Color.
class TCustomLabel : public TGraphicControl {
public:
    explicit TCustomLabel(TComponent* AOwner);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    TTextLayout Layout() const { return FLayout; }
    void SetLayout(TTextLayout value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    bool Transparent() const { return FTransparent; }
    void SetTransparent(bool value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);
    // Internal: fits the bounds to the text when AutoSize.
    void AdjustBounds();
    void FontChanged() override { AdjustBounds(); }

protected:
    void TextChanged() override;

private:
    void ApplyFlags();
    TAlignment FAlignment = taLeftJustify;
    TTextLayout FLayout = tlTop;
    bool FAutoSize = true, FTransparent = false, FWordWrap = false;
};

class TLabel : public TCustomLabel {
public:
    explicit TLabel(TComponent* AOwner) : TCustomLabel(AOwner) {}
};

// OnClick on a mouse click or the space key.
class TButton : public TWinControl {
public:
    explicit TButton(TComponent* AOwner);
    bool Default() const { return FDefault; }
    void SetDefault(bool value);
    bool Cancel() const { return FCancel; }
    void SetCancel(bool value) { FCancel = value; }
    int ModalResult() const { return FModalResult; }
    void SetModalResult(int value) { FModalResult = value; }

protected:
    void TextChanged() override;

private:
    bool FDefault = false, FCancel = false;
    int FModalResult = 0;
};

enum TEditCharCase { ecNormal, ecUpperCase, ecLowerCase };

// A one-line edit. MaxLength (0 = none) limits the characters the user
// types, MaxBytes (0 = none) the bytes Text takes in the code page of the
// edit's font character set: a character that would pass either limit is
// not taken. Text set from code is taken whole. PasswordChar other than 0
// hides the text.
class TCustomEdit : public TWinControl {
public:
    explicit TCustomEdit(TComponent* AOwner);
    AnsiString Text() const override;
    void SetText(const AnsiString& value) override;
    int MaxLength() const { return FMaxLength; }
    void SetMaxLength(int value);
    int MaxBytes() const { return FMaxBytes; }
    void SetMaxBytes(int value);
    // False when the text shown holds a character the code page of the
    // edit's font character set cannot write (Text has '?' in its place).
    bool TextInCodePage() const;
    char PasswordChar() const { return FPasswordChar; }
    void SetPasswordChar(char value);
    bool ReadOnly() const;
    void SetReadOnly(bool value);
    TEditCharCase CharCase() const { return FCharCase; }
    void SetCharCase(TEditCharCase value) { FCharCase = value; }
    void SelectAll();
    void Clear() { SetText(""); }

    TNotifyEvent OnChange;

    struct EditImpl;
    EditImpl* FEdit;
    ~TCustomEdit() override;

private:
    int FMaxLength = 0;
    int FMaxBytes = 0;
    char FPasswordChar = 0;
    TEditCharCase FCharCase = ecNormal;
};

class TEdit : public TCustomEdit {
public:
    explicit TEdit(TComponent* AOwner) : TCustomEdit(AOwner) {}
};

enum TComboBoxStyle { csDropDown, csSimple, csDropDownList, csOwnerDrawFixed, csOwnerDrawVariable };

// Items is the list; ItemIndex -1 means no selection and an index outside
// the list selects nothing.
class TComboBox : public TWinControl {
public:
    explicit TComboBox(TComponent* AOwner);
    ~TComboBox() override;
    TStrings* Items() const { return FItems; }
    int ItemIndex() const;
    void SetItemIndex(int value);
    AnsiString Text() const override;
    void SetText(const AnsiString& value) override;
    TComboBoxStyle Style() const { return FStyle; }
    void SetStyle(TComboBoxStyle value);
    int DropDownCount() const { return FDropDownCount; }
    void SetDropDownCount(int value);
    int MaxLength() const { return FMaxLength; }
    void SetMaxLength(int value);
    void Clear();

    TNotifyEvent OnChange;
    TNotifyEvent OnSelect;

private:
    TStrings* FItems;
    TComboBoxStyle FStyle = csDropDown;
    int FDropDownCount = 8;
    int FMaxLength = 0;
};

enum TCheckBoxState { cbUnchecked, cbChecked, cbGrayed };

class TCheckBox : public TWinControl {
public:
    explicit TCheckBox(TComponent* AOwner);
    bool Checked() const;
    // Raises OnClick when the state changes.
    void SetChecked(bool value);
    TCheckBoxState State() const;
    void SetState(TCheckBoxState value);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value) { FAlignment = value; }

protected:
    void TextChanged() override;

private:
    TAlignment FAlignment = taRightJustify;
};

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };

// Lines: one entry per line; Text joins them with CR LF.
class TMemo : public TWinControl {
public:
    explicit TMemo(TComponent* AOwner);
    ~TMemo() override;
    TStrings* Lines() const { return FLines; }
    AnsiString Text() const override;
    void SetText(const AnsiString& value) override;
    bool ReadOnly() const;
    void SetReadOnly(bool value);
    bool WordWrap() const { return FWordWrap; }
    void SetWordWrap(bool value);
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle value);
    int MaxLength() const { return FMaxLength; }
    void SetMaxLength(int value) { FMaxLength = value < 0 ? 0 : value; }
    void Clear() { SetText(""); }

    TNotifyEvent OnChange;

    // Internal: one guarded change of the whole text.
    void SetTextSilently(const AnsiString& value);
    void FireChange();

private:
    TStrings* FLines;
    bool FWordWrap = true;
    TScrollStyle FScrollBars = ssNone;
    int FMaxLength = 0;
};

// A frame with a title; children are placed relative to its top left.
class TCustomGroupBox : public TWinControl {
public:
    explicit TCustomGroupBox(TComponent* AOwner);

protected:
    void TextChanged() override;
};

class TGroupBox : public TCustomGroupBox {
public:
    explicit TGroupBox(TComponent* AOwner) : TCustomGroupBox(AOwner) {}
};

enum TScrollBarKind { sbHorizontal, sbVertical };

// OnChange whenever Position changes, from code or from the user.
class TScrollBar : public TWinControl {
public:
    explicit TScrollBar(TComponent* AOwner);
    int Min() const { return FMin; }
    int Max() const { return FMax; }
    int Position() const { return FPosition; }
    void SetMin(int value) { SetParams(FPosition, value, FMax); }
    void SetMax(int value) { SetParams(FPosition, FMin, value); }
    // Held within Min .. Max.
    void SetPosition(int value) { SetParams(value, FMin, FMax); }
    void SetParams(int position, int min, int max);
    TScrollBarKind Kind() const { return FKind; }
    void SetKind(TScrollBarKind value);
    int SmallChange() const { return FSmallChange; }
    void SetSmallChange(int value);
    int LargeChange() const { return FLargeChange; }
    void SetLargeChange(int value);
    int PageSize() const { return FPageSize; }
    void SetPageSize(int value);

    TNotifyEvent OnChange;

    // Internal: the user moved the bar.
    void UserMoved(int position);

private:
    int FMin = 0, FMax = 100, FPosition = 0;
    TScrollBarKind FKind = sbHorizontal;
    int FSmallChange = 1, FLargeChange = 1, FPageSize = 0;
    bool FInSet = false;
};

enum TStaticBorderStyle { sbsNone, sbsSingle, sbsSunken };

class TStaticText : public TWinControl {
public:
    explicit TStaticText(TComponent* AOwner);
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    bool AutoSize() const { return FAutoSize; }
    void SetAutoSize(bool value);
    TStaticBorderStyle BorderStyle() const { return FBorderStyle; }
    void SetBorderStyle(TStaticBorderStyle value);

    void FontChanged() override { Fit(); }

protected:
    void TextChanged() override;

private:
    void Fit();
    TAlignment FAlignment = taLeftJustify;
    bool FAutoSize = true;
    TStaticBorderStyle FBorderStyle = sbsNone;
};
