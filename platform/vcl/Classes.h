// String lists of the class library: the abstract TStrings that list
// controls expose as Items and Lines, and the stand-alone TStringList.
// Lists hold 8-bit texts as the rest of the library does.
#pragma once
#include "platform/vcl/Vcl.h"

#include <stdexcept>
#include <vector>

// Raised for an index outside a list ("List index out of bounds (5)").
class EStringListError : public std::out_of_range {
public:
    explicit EStringListError(int index);
};

class TStrings : public TObject {
public:
    virtual int Count() const = 0;
    // Throws EStringListError when index is outside 0 .. Count-1.
    virtual AnsiString Strings(int index) const = 0;
    virtual void SetStrings(int index, const AnsiString& s) = 0;
    // Inserts before index (Count appends).
    virtual void Insert(int index, const AnsiString& s) = 0;
    virtual void Delete(int index) = 0;
    virtual void Clear() = 0;

    // Appends s; returns its index.
    int Add(const AnsiString& s);
    void AddStrings(const TStrings& other);
    void Assign(const TStrings& other);
    // First index whose text equals s exactly, or -1.
    int IndexOf(const AnsiString& s) const;
    // The lines joined, each followed by CR LF; SetText splits at CR LF,
    // LF or CR. A list that shows its lines takes the whole text at once.
    AnsiString Text() const;
    virtual void SetText(const AnsiString& text);
    // Kept for callers that bracket many changes; lists update at once.
    void BeginUpdate() {}
    void EndUpdate() {}
    AnsiString operator[](int index) const { return Strings(index); }

protected:
    void CheckIndex(int index, int limit) const;
};

class TStringList : public TStrings {
public:
    int Count() const override { return (int)FItems.size(); }
    AnsiString Strings(int index) const override;
    void SetStrings(int index, const AnsiString& s) override;
    void Insert(int index, const AnsiString& s) override;
    void Delete(int index) override;
    void Clear() override;
    // Raised after every change.
    TNotifyEvent OnChange;

private:
    void Changed();
    std::vector<AnsiString> FItems;
};
