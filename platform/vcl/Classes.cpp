// String lists: the shared TStrings operations and the vector-backed
// TStringList. No module state.
#include "platform/vcl/Classes.h"

#include <string>

EStringListError::EStringListError(int index)
    : std::out_of_range("List index out of bounds (" + std::to_string(index) + ")")
{
}

void TStrings::CheckIndex(int index, int limit) const
{
    if (index < 0 || index >= limit) throw EStringListError(index);
}

int TStrings::Add(const AnsiString& s)
{
    int at = Count();
    Insert(at, s);
    return at;
}

void TStrings::AddStrings(const TStrings& other)
{
    if (&other == this) {
        std::vector<AnsiString> copy;
        for (int i = 0; i < other.Count(); i++) copy.push_back(other.Strings(i));
        for (const auto& s : copy) Add(s);
        return;
    }
    for (int i = 0; i < other.Count(); i++) Add(other.Strings(i));
}

void TStrings::Assign(const TStrings& other)
{
    if (&other == this) return;
    Clear();
    AddStrings(other);
}

int TStrings::IndexOf(const AnsiString& s) const
{
    for (int i = 0; i < Count(); i++)
        if (Strings(i) == s) return i;
    return -1;
}

AnsiString TStrings::Text() const
{
    AnsiString out;
    for (int i = 0; i < Count(); i++) {
        out += Strings(i);
        out += "\r\n";
    }
    return out;
}

void TStrings::SetText(const AnsiString& text)
{
    Clear();
    size_t i = 0, n = text.size();
    while (i < n) {
        size_t j = i;
        while (j < n && text[j] != '\r' && text[j] != '\n') j++;
        Add(text.substr(i, j - i));
        if (j < n && text[j] == '\r') j++;
        if (j < n && text[j] == '\n') j++;
        i = j;
    }
}

AnsiString TStringList::Strings(int index) const
{
    CheckIndex(index, Count());
    return FItems[(size_t)index];
}

void TStringList::SetStrings(int index, const AnsiString& s)
{
    CheckIndex(index, Count());
    FItems[(size_t)index] = s;
    Changed();
}

void TStringList::Insert(int index, const AnsiString& s)
{
    CheckIndex(index, Count() + 1);
    FItems.insert(FItems.begin() + index, s);
    Changed();
}

void TStringList::Delete(int index)
{
    CheckIndex(index, Count());
    FItems.erase(FItems.begin() + index);
    Changed();
}

void TStringList::Clear()
{
    if (FItems.empty()) return;
    FItems.clear();
    Changed();
}

void TStringList::Changed()
{
    if (OnChange) OnChange(this);
}
