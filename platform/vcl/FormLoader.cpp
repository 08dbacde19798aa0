// The form description reader: a tokenizer and parser of the text form
// format into a tree of objects, and the loader that builds components
// from it. Owns the class registry (class name -> factory, base class and
// property setters), filled with the platform's classes on first use.
#include "platform/vcl/FormLoader.h"

#include "platform/vcl/ComCtrls.h"
#include "platform/vcl/Dialogs.h"
#include "platform/vcl/ExtCtrls.h"
#include "platform/vcl/StdCtrls.h"

#include <cctype>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

// --- Values --------------------------------------------------------------------

static const char* KindName(TFormValue::TKind k)
{
    switch (k) {
    case TFormValue::fvInteger: return "an integer";
    case TFormValue::fvFloat: return "a number";
    case TFormValue::fvString: return "a string";
    case TFormValue::fvIdent: return "an identifier";
    case TFormValue::fvSet: return "a set";
    case TFormValue::fvList: return "a list";
    case TFormValue::fvBinary: return "binary data";
    default: return "a collection";
    }
}

static EReadError Expected(const TFormValue& v, const std::string& what)
{
    return EReadError("expected " + what + ", found " + KindName(v.Kind));
}

int TFormValue::AsInt() const
{
    if (Kind != fvInteger) throw Expected(*this, "an integer");
    if (Int < INT_MIN || Int > INT_MAX) throw EReadError("integer out of range: " + std::to_string(Int));
    return (int)Int;
}

bool TFormValue::AsBool() const
{
    if (Kind == fvIdent) {
        std::string s;
        for (char c : Str) s += (char)tolower((unsigned char)c);
        if (s == "true") return true;
        if (s == "false") return false;
        throw EReadError("expected True or False, found '" + Str + "'");
    }
    throw Expected(*this, "True or False");
}

AnsiString TFormValue::AsString() const
{
    if (Kind != fvString) throw Expected(*this, "a string");
    return Str;
}

AnsiString TFormValue::AsIdent() const
{
    if (Kind != fvIdent) throw Expected(*this, "an identifier");
    return Str;
}

TColor TFormValue::AsColor() const
{
    if (Kind == fvInteger) return (TColor)(uint32_t)Int;
    if (Kind == fvIdent) {
        TColor c;
        if (IdentToColor(Str, c)) return c;
        throw EReadError("unknown colour '" + Str + "'");
    }
    throw Expected(*this, "a colour");
}

static std::string NamesOf(const TFormValue::TEnumName* table)
{
    std::string s;
    for (const auto* e = table; e->Name; e++) s += std::string(s.empty() ? "" : ", ") + e->Name;
    return s;
}

int TFormValue::AsEnum(const TEnumName* table) const
{
    if (Kind != fvIdent) throw Expected(*this, "one of " + NamesOf(table));
    for (const auto* e = table; e->Name; e++)
        if (Str == e->Name) return e->Value;
    throw EReadError("unknown value '" + Str + "' (one of " + NamesOf(table) + ")");
}

unsigned TFormValue::AsSet(const TEnumName* table) const
{
    if (Kind != fvSet) throw Expected(*this, "a set of " + NamesOf(table));
    unsigned bits = 0;
    for (const AnsiString& id : Idents) {
        const TEnumName* e = table;
        for (; e->Name; e++)
            if (id == e->Name) break;
        if (!e->Name) throw EReadError("unknown set member '" + id + "' (one of " + NamesOf(table) + ")");
        bits |= (unsigned)e->Value;
    }
    return bits;
}

std::vector<AnsiString> TFormValue::AsStringList() const
{
    if (Kind != fvList) throw Expected(*this, "a list of strings");
    std::vector<AnsiString> out;
    for (const TFormValue& v : Items) out.push_back(v.AsString());
    return out;
}

// --- Tokens ------------------------------------------------------------------------

namespace {

struct Token {
    enum Kind { End, Ident, Integer, Float, String, Binary, Punct } kind = End;
    std::string text; // identifier, string contents, punctuation character
    int64_t integer = 0;
    double number = 0;
    std::vector<uint8_t> bytes;
    int line = 1;
};

class Lexer {
public:
    Lexer(const char* text, size_t length, std::string source) : p(text), end(text + length), src(std::move(source)) {}

    EReadError Error(int at, const std::string& msg) const
    {
        return EReadError(src + ":" + std::to_string(at) + ": " + msg);
    }

    Token Next()
    {
        SkipSpace();
        Token t;
        t.line = line;
        if (p >= end) return t;
        char c = *p;
        if (isalpha((unsigned char)c) || c == '_') {
            t.kind = Token::Ident;
            while (p < end && (isalnum((unsigned char)*p) || *p == '_')) t.text += *p++;
            return t;
        }
        if (isdigit((unsigned char)c) || c == '$' ||
            (c == '-' && p + 1 < end && (isdigit((unsigned char)p[1]) || p[1] == '$')))
            return Number(t);
        if (c == '\'' || c == '#') return Str(t);
        if (c == '{') return Bin(t);
        t.kind = Token::Punct;
        t.text = std::string(1, c);
        p++;
        return t;
    }

private:
    void SkipSpace()
    {
        while (p < end) {
            if (*p == '\n') {
                line++;
                p++;
            } else if (isspace((unsigned char)*p)) {
                p++;
            } else if (*p == '/' && p + 1 < end && p[1] == '/') {
                while (p < end && *p != '\n') p++;
            } else {
                break;
            }
        }
    }

    Token Number(Token& t)
    {
        bool neg = false;
        if (*p == '-') {
            neg = true;
            p++;
        }
        std::string digits;
        if (*p == '$') {
            p++;
            while (p < end && isxdigit((unsigned char)*p)) digits += *p++;
            if (digits.empty() || digits.size() > 16) throw Error(t.line, "bad hexadecimal number");
            t.kind = Token::Integer;
            t.integer = (int64_t)std::stoull(digits, nullptr, 16);
            if (neg) t.integer = -t.integer;
            return t;
        }
        bool isFloat = false;
        while (p < end && (isdigit((unsigned char)*p) || *p == '.' || *p == 'e' || *p == 'E' ||
                           ((*p == '+' || *p == '-') && (p[-1] == 'e' || p[-1] == 'E')))) {
            if (!isdigit((unsigned char)*p)) isFloat = true;
            digits += *p++;
        }
        try {
            if (isFloat) {
                t.kind = Token::Float;
                t.number = std::stod(digits) * (neg ? -1 : 1);
            } else {
                if (digits.size() > 18) throw Error(t.line, "number too long");
                t.kind = Token::Integer;
                t.integer = std::stoll(digits) * (neg ? -1 : 1);
            }
        } catch (const std::logic_error&) {
            throw Error(t.line, "bad number '" + digits + "'");
        }
        return t;
    }

    // 'quoted' pieces and #code characters, one after another without space.
    Token Str(Token& t)
    {
        t.kind = Token::String;
        while (p < end && (*p == '\'' || *p == '#')) {
            if (*p == '\'') {
                p++;
                for (;;) {
                    if (p >= end || *p == '\n') throw Error(t.line, "unterminated string");
                    if (*p == '\'') {
                        if (p + 1 < end && p[1] == '\'') {
                            t.text += '\'';
                            p += 2;
                            continue;
                        }
                        p++;
                        break;
                    }
                    t.text += *p++;
                }
            } else {
                p++;
                std::string digits;
                if (p < end && *p == '$') {
                    p++;
                    while (p < end && isxdigit((unsigned char)*p)) digits += *p++;
                    if (digits.empty() || digits.size() > 4) throw Error(t.line, "bad character code");
                    t.text += (char)(std::stoul(digits, nullptr, 16) & 0xFF);
                } else {
                    while (p < end && isdigit((unsigned char)*p)) digits += *p++;
                    if (digits.empty() || digits.size() > 5) throw Error(t.line, "bad character code");
                    unsigned long code = std::stoul(digits);
                    if (code > 255) throw Error(t.line, "character code above 255: #" + digits);
                    t.text += (char)code;
                }
            }
        }
        return t;
    }

    Token Bin(Token& t)
    {
        t.kind = Token::Binary;
        p++;
        std::string hex;
        for (;;) {
            if (p >= end) throw Error(t.line, "unterminated binary data");
            char c = *p++;
            if (c == '}') break;
            if (c == '\n') line++;
            if (isspace((unsigned char)c)) continue;
            if (!isxdigit((unsigned char)c)) throw Error(line, "bad character in binary data");
            hex += c;
        }
        if (hex.size() % 2) throw Error(t.line, "odd number of hex digits in binary data");
        for (size_t i = 0; i < hex.size(); i += 2)
            t.bytes.push_back((uint8_t)std::stoul(hex.substr(i, 2), nullptr, 16));
        return t;
    }

    const char* p;
    const char* end;
    std::string src;
    int line = 1;
};

// --- Object tree ---------------------------------------------------------------

struct FProp {
    std::string name;
    TFormValue value;
    int line;
};

struct FObject {
    std::string name, className;
    int line = 0;
    std::vector<FProp> props;
    std::vector<FObject> children;
};

class Parser {
public:
    explicit Parser(Lexer& lex) : L(lex) { Advance(); }

    FObject ParseRoot()
    {
        FObject o = ParseObject();
        if (cur.kind != Token::End) throw L.Error(cur.line, "text after the final 'end'");
        return o;
    }

private:
    void Advance() { cur = L.Next(); }
    bool IsIdent(const char* word) const { return cur.kind == Token::Ident && cur.text == word; }
    bool IsPunct(char c) const { return cur.kind == Token::Punct && cur.text[0] == c; }
    void Expect(char c)
    {
        if (!IsPunct(c)) throw L.Error(cur.line, std::string("expected '") + c + "'" + Found());
        Advance();
    }
    std::string Found() const
    {
        switch (cur.kind) {
        case Token::End: return ", found the end of the text";
        case Token::Ident: return ", found '" + cur.text + "'";
        case Token::Punct: return ", found '" + cur.text + "'";
        default: return "";
        }
    }
    std::string Ident(const char* what)
    {
        if (cur.kind != Token::Ident) throw L.Error(cur.line, std::string("expected ") + what + Found());
        std::string s = cur.text;
        Advance();
        return s;
    }

    FObject ParseObject()
    {
        if (!IsIdent("object") && !IsIdent("inherited") && !IsIdent("inline"))
            throw L.Error(cur.line, "expected 'object'" + Found());
        FObject o;
        o.line = cur.line;
        Advance();
        std::string first = Ident("a component name");
        if (IsPunct(':')) {
            Advance();
            o.name = first;
            o.className = Ident("a class name");
        } else {
            o.className = first;
        }
        if (IsPunct('[')) { // an index in inherited forms
            Advance();
            if (cur.kind != Token::Integer) throw L.Error(cur.line, "expected an index");
            Advance();
            Expect(']');
        }
        for (;;) {
            if (IsIdent("end")) {
                Advance();
                return o;
            }
            if (IsIdent("object") || IsIdent("inherited") || IsIdent("inline")) {
                o.children.push_back(ParseObject());
                continue;
            }
            if (cur.kind != Token::Ident) throw L.Error(cur.line, "expected a property, an object or 'end'" + Found());
            FProp prop;
            prop.line = cur.line;
            prop.name = Ident("a property name");
            while (IsPunct('.')) {
                Advance();
                prop.name += "." + Ident("a property name");
            }
            Expect('=');
            prop.value = ParseValue();
            o.props.push_back(std::move(prop));
        }
    }

    TFormValue ParseValue()
    {
        TFormValue v;
        v.Line = cur.line;
        switch (cur.kind) {
        case Token::Integer:
            v.Kind = TFormValue::fvInteger;
            v.Int = cur.integer;
            Advance();
            return v;
        case Token::Float:
            v.Kind = TFormValue::fvFloat;
            v.Float = cur.number;
            Advance();
            return v;
        case Token::String:
            v.Kind = TFormValue::fvString;
            v.Str = cur.text;
            Advance();
            while (IsPunct('+')) {
                Advance();
                if (cur.kind != Token::String) throw L.Error(cur.line, "expected a string after '+'");
                v.Str += cur.text;
                Advance();
            }
            return v;
        case Token::Ident:
            v.Kind = TFormValue::fvIdent;
            v.Str = cur.text;
            Advance();
            return v;
        case Token::Binary:
            v.Kind = TFormValue::fvBinary;
            v.Bytes = cur.bytes;
            Advance();
            return v;
        default: break;
        }
        if (IsPunct('[')) {
            v.Kind = TFormValue::fvSet;
            Advance();
            if (IsPunct(']')) {
                Advance();
                return v;
            }
            for (;;) {
                v.Idents.push_back(Ident("a set member"));
                if (IsPunct(']')) {
                    Advance();
                    return v;
                }
                Expect(',');
            }
        }
        if (IsPunct('(')) {
            v.Kind = TFormValue::fvList;
            Advance();
            while (!IsPunct(')')) {
                if (cur.kind == Token::End) throw L.Error(v.Line, "unterminated list");
                v.Items.push_back(ParseValue());
            }
            Advance();
            return v;
        }
        if (IsPunct('<')) {
            v.Kind = TFormValue::fvCollection;
            Advance();
            while (!IsPunct('>')) {
                if (!IsIdent("item")) throw L.Error(cur.line, "expected 'item'" + Found());
                Advance();
                TFormValue item;
                item.Kind = TFormValue::fvList;
                while (!IsIdent("end")) {
                    if (cur.kind == Token::End) throw L.Error(v.Line, "unterminated collection");
                    Ident("a property name");
                    while (IsPunct('.')) {
                        Advance();
                        Ident("a property name");
                    }
                    Expect('=');
                    item.Items.push_back(ParseValue());
                }
                Advance();
                v.Items.push_back(item);
            }
            Advance();
            return v;
        }
        throw L.Error(cur.line, "expected a value" + Found());
    }

    Lexer& L;
    Token cur;
};

// --- Registry ----------------------------------------------------------------------

struct LoadContext;
typedef std::function<void(TComponent*, const TFormValue&, LoadContext&)> DeferredSetter;

struct PropEntry {
    TPropertySetter now;     // applied while the object is read
    DeferredSetter deferred; // applied once every component exists
};

struct ClassDef {
    std::string name, base;
    TComponentFactory factory;
    std::map<std::string, PropEntry> props;
};

std::map<std::string, ClassDef>& Registry();

const PropEntry* FindProp(const std::string& cls, const std::string& prop)
{
    auto& reg = Registry();
    std::string c = cls;
    for (int depth = 0; depth < 32 && !c.empty(); depth++) {
        auto it = reg.find(c);
        if (it == reg.end()) return nullptr;
        auto p = it->second.props.find(prop);
        if (p != it->second.props.end()) return &p->second;
        c = it->second.base;
    }
    return nullptr;
}

struct LoadContext {
    TComponent* root;
    const TFormBinder& binder;
    std::string source;
    struct Pending {
        TComponent* comp;
        std::string owner; // "Name (Class)"
        const FProp* prop;
        const DeferredSetter* set;
    };
    std::vector<Pending> pending;
    std::set<std::string> names;
    std::set<std::string> filled;

    EReadError Error(int line, const std::string& msg) const
    {
        return EReadError(source + ":" + std::to_string(line) + ": " + msg);
    }
};

template <class T> void Prop(ClassDef& d, const char* name, std::function<void(T*, const TFormValue&)> f)
{
    std::string n = name;
    d.props[n].now = [f, n](TComponent* c, const TFormValue& v) {
        T* t = dynamic_cast<T*>(c);
        if (!t) throw EReadError("property " + n + " does not apply to this component");
        f(t, v);
    };
}

// Accepted and kept by nobody: design-time properties of the format.
void Ignored(ClassDef& d, const char* name)
{
    d.props[name].now = [](TComponent*, const TFormValue&) {};
}

template <class T, class E> void Event(ClassDef& d, const char* name, E T::*member)
{
    std::string n = name;
    d.props[n].deferred = [member, n](TComponent* c, const TFormValue& v, LoadContext& ctx) {
        T* t = dynamic_cast<T*>(c);
        if (!t) throw EReadError("event " + n + " does not apply to this component");
        std::string h = v.AsIdent();
        auto it = ctx.binder.Handlers.find(h);
        if (it == ctx.binder.Handlers.end())
            throw EReadError("handler '" + h + "' for " + n + " is not in the form's handler table");
        const E* fn = std::get_if<E>(&it->second);
        if (!fn) throw EReadError("handler '" + h + "' has the wrong parameters for " + n);
        t->*member = *fn;
    };
}

template <class T> void Later(ClassDef& d, const char* name, std::function<void(T*, const TFormValue&, LoadContext&)> f)
{
    std::string n = name;
    d.props[n].deferred = [f, n](TComponent* c, const TFormValue& v, LoadContext& ctx) {
        T* t = dynamic_cast<T*>(c);
        if (!t) throw EReadError("property " + n + " does not apply to this component");
        f(t, v, ctx);
    };
}

typedef TFormValue::TEnumName EN;
const EN kAlign[] = {{"alNone", alNone},   {"alTop", alTop},       {"alBottom", alBottom}, {"alLeft", alLeft},
                     {"alRight", alRight}, {"alClient", alClient}, {"alCustom", alCustom}, {nullptr, 0}};
const EN kAnchors[] = {
    {"akLeft", akLeft}, {"akTop", akTop}, {"akRight", akRight}, {"akBottom", akBottom}, {nullptr, 0}};
const EN kAlignment[] = {
    {"taLeftJustify", taLeftJustify}, {"taRightJustify", taRightJustify}, {"taCenter", taCenter}, {nullptr, 0}};
const EN kLayout[] = {{"tlTop", tlTop}, {"tlCenter", tlCenter}, {"tlBottom", tlBottom}, {nullptr, 0}};
const EN kFontStyles[] = {{"fsBold", fsBold},
                          {"fsItalic", fsItalic},
                          {"fsUnderline", fsUnderline},
                          {"fsStrikeOut", fsStrikeOut},
                          {nullptr, 0}};
const EN kQuality[] = {{"fqDefault", fqDefault},
                       {"fqDraft", fqDraft},
                       {"fqProof", fqProof},
                       {"fqNonAntialiased", fqNonAntialiased},
                       {"fqAntialiased", fqAntialiased},
                       {"fqClearType", fqClearType},
                       {nullptr, 0}};
const EN kCharsets[] = {{"ANSI_CHARSET", ANSI_CHARSET},
                        {"DEFAULT_CHARSET", DEFAULT_CHARSET},
                        {"SYMBOL_CHARSET", SYMBOL_CHARSET},
                        {"MAC_CHARSET", MAC_CHARSET},
                        {"SHIFTJIS_CHARSET", SHIFTJIS_CHARSET},
                        {"HANGEUL_CHARSET", HANGEUL_CHARSET},
                        {"JOHAB_CHARSET", JOHAB_CHARSET},
                        {"GB2312_CHARSET", GB2312_CHARSET},
                        {"CHINESEBIG5_CHARSET", CHINESEBIG5_CHARSET},
                        {"GREEK_CHARSET", GREEK_CHARSET},
                        {"TURKISH_CHARSET", TURKISH_CHARSET},
                        {"VIETNAMESE_CHARSET", VIETNAMESE_CHARSET},
                        {"HEBREW_CHARSET", HEBREW_CHARSET},
                        {"ARABIC_CHARSET", ARABIC_CHARSET},
                        {"BALTIC_CHARSET", BALTIC_CHARSET},
                        {"RUSSIAN_CHARSET", RUSSIAN_CHARSET},
                        {"THAI_CHARSET", THAI_CHARSET},
                        {"EASTEUROPE_CHARSET", EASTEUROPE_CHARSET},
                        {"OEM_CHARSET", OEM_CHARSET},
                        {nullptr, 0}};
const EN kCursors[] = {{"crDefault", crDefault},
                       {"crNone", crNone},
                       {"crArrow", crArrow},
                       {"crCross", crCross},
                       {"crIBeam", crIBeam},
                       {"crSizeNESW", crSizeNESW},
                       {"crSizeNS", crSizeNS},
                       {"crSizeNWSE", crSizeNWSE},
                       {"crSizeWE", crSizeWE},
                       {"crUpArrow", crUpArrow},
                       {"crHourGlass", crHourGlass},
                       {"crDrag", crDrag},
                       {"crNoDrop", crNoDrop},
                       {"crHSplit", crHSplit},
                       {"crVSplit", crVSplit},
                       {"crMultiDrag", crMultiDrag},
                       {"crSQLWait", crSQLWait},
                       {"crNo", crNo},
                       {"crAppStart", crAppStart},
                       {"crHelp", crHelp},
                       {"crHandPoint", crHandPoint},
                       {"crSizeAll", crSizeAll},
                       {nullptr, 0}};
const EN kImeMode[] = {{"imDisable", imDisable},
                       {"imClose", imClose},
                       {"imOpen", imOpen},
                       {"imDontCare", imDontCare},
                       {"imSAlpha", imSAlpha},
                       {"imAlpha", imAlpha},
                       {"imHira", imHira},
                       {"imSKata", imSKata},
                       {"imKata", imKata},
                       {"imChinese", imChinese},
                       {"imSHanguel", imSHanguel},
                       {"imHanguel", imHanguel},
                       {nullptr, 0}};
const EN kFormBorder[] = {{"bsNone", bsNone},
                          {"bsSingle", bsSingle},
                          {"bsSizeable", bsSizeable},
                          {"bsDialog", bsDialog},
                          {"bsToolWindow", bsToolWindow},
                          {"bsSizeToolWin", bsSizeToolWin},
                          {nullptr, 0}};
const EN kBorderIcons[] = {{"biSystemMenu", biSystemMenu},
                           {"biMinimize", biMinimize},
                           {"biMaximize", biMaximize},
                           {"biHelp", biHelp},
                           {nullptr, 0}};
const EN kPosition[] = {{"poDesigned", poDesigned},
                        {"poDefault", poDefault},
                        {"poDefaultPosOnly", poDefaultPosOnly},
                        {"poDefaultSizeOnly", poDefaultSizeOnly},
                        {"poScreenCenter", poScreenCenter},
                        {"poDesktopCenter", poDesktopCenter},
                        {"poMainFormCenter", poMainFormCenter},
                        {"poOwnerFormCenter", poOwnerFormCenter},
                        {nullptr, 0}};
const EN kAxBorder[] = {
    {"afbNone", afbNone}, {"afbSingle", afbSingle}, {"afbSunken", afbSunken}, {"afbRaised", afbRaised}, {nullptr, 0}};
const EN kPrintScale[] = {
    {"poNone", poNone}, {"poProportional", poProportional}, {"poPrintToFit", poPrintToFit}, {nullptr, 0}};
const EN kModal[] = {{"mrNone", 0}, {"mrOk", 1}, {"mrCancel", 2}, {"mrAbort", 3},   {"mrRetry", 4},     {"mrIgnore", 5},
                     {"mrYes", 6},  {"mrNo", 7}, {"mrAll", 8},    {"mrNoToAll", 9}, {"mrYesToAll", 10}, {nullptr, 0}};
const EN kCharCase[] = {
    {"ecNormal", ecNormal}, {"ecUpperCase", ecUpperCase}, {"ecLowerCase", ecLowerCase}, {nullptr, 0}};
const EN kLabelPos[] = {
    {"lpAbove", lpAbove}, {"lpBelow", lpBelow}, {"lpLeft", lpLeft}, {"lpRight", lpRight}, {nullptr, 0}};
const EN kComboStyle[] = {{"csDropDown", csDropDown},
                          {"csSimple", csSimple},
                          {"csDropDownList", csDropDownList},
                          {"csOwnerDrawFixed", csOwnerDrawFixed},
                          {"csOwnerDrawVariable", csOwnerDrawVariable},
                          {nullptr, 0}};
const EN kCheckState[] = {{"cbUnchecked", cbUnchecked}, {"cbChecked", cbChecked}, {"cbGrayed", cbGrayed}, {nullptr, 0}};
const EN kScrollStyle[] = {
    {"ssNone", ssNone}, {"ssHorizontal", ssHorizontal}, {"ssVertical", ssVertical}, {"ssBoth", ssBoth}, {nullptr, 0}};
const EN kBevel[] = {
    {"bvNone", bvNone}, {"bvLowered", bvLowered}, {"bvRaised", bvRaised}, {"bvSpace", bvSpace}, {nullptr, 0}};
const EN kPanelBorder[] = {{"bsNone", pbsNone}, {"bsSingle", pbsSingle}, {nullptr, 0}};
const EN kBarKind[] = {{"sbHorizontal", sbHorizontal}, {"sbVertical", sbVertical}, {nullptr, 0}};
const EN kStaticBorder[] = {{"sbsNone", sbsNone}, {"sbsSingle", sbsSingle}, {"sbsSunken", sbsSunken}, {nullptr, 0}};
const EN kOrientation[] = {{"pbHorizontal", pbHorizontal}, {"pbVertical", pbVertical}, {nullptr, 0}};
const EN kOpenOptions[] = {{"ofReadOnly", ofReadOnly},
                           {"ofOverwritePrompt", ofOverwritePrompt},
                           {"ofHideReadOnly", ofHideReadOnly},
                           {"ofNoChangeDir", ofNoChangeDir},
                           {"ofShowHelp", ofShowHelp},
                           {"ofNoValidate", ofNoValidate},
                           {"ofAllowMultiSelect", ofAllowMultiSelect},
                           {"ofExtensionDifferent", ofExtensionDifferent},
                           {"ofPathMustExist", ofPathMustExist},
                           {"ofFileMustExist", ofFileMustExist},
                           {"ofCreatePrompt", ofCreatePrompt},
                           {"ofEnableSizing", ofEnableSizing},
                           {nullptr, 0}};

// Font.Name, Font.Height and so on, for any font a class reaches.
template <class T> void FontProps(ClassDef& d, const std::string& prefix, TFont* (*font)(T*))
{
    Prop<T>(d, (prefix + "Name").c_str(), [font](T* t, const TFormValue& v) { font(t)->SetName(v.AsString()); });
    Prop<T>(d, (prefix + "Height").c_str(), [font](T* t, const TFormValue& v) { font(t)->SetHeight(v.AsInt()); });
    Prop<T>(d, (prefix + "Size").c_str(), [font](T* t, const TFormValue& v) { font(t)->SetSize(v.AsInt()); });
    Prop<T>(d, (prefix + "Color").c_str(), [font](T* t, const TFormValue& v) { font(t)->SetColor(v.AsColor()); });
    Prop<T>(d, (prefix + "Style").c_str(),
            [font](T* t, const TFormValue& v) { font(t)->SetStyle(v.AsSet(kFontStyles)); });
    Prop<T>(d, (prefix + "Charset").c_str(), [font](T* t, const TFormValue& v) {
        font(t)->SetCharset(v.Kind == TFormValue::fvInteger ? v.AsInt() : v.AsEnum(kCharsets));
    });
    Prop<T>(d, (prefix + "Quality").c_str(),
            [font](T* t, const TFormValue& v) { font(t)->SetQuality((TFontQuality)v.AsEnum(kQuality)); });
    Ignored(d, (prefix + "Pitch").c_str());
}

ClassDef& Define(const char* name, const char* base, TComponentFactory factory)
{
    ClassDef& d = Registry()[name];
    d.name = name;
    d.base = base ? base : "";
    d.factory = std::move(factory);
    return d;
}

template <class T> TComponentFactory Make()
{
    return [](TComponent* owner) -> TComponent* { return new T(owner); };
}

char OneChar(const TFormValue& v)
{
    if (v.Kind == TFormValue::fvInteger) return (char)v.AsInt();
    AnsiString s = v.AsString();
    if (s.size() > 1) throw EReadError("expected one character");
    return s.empty() ? 0 : s[0];
}

void RegisterBuiltins(std::map<std::string, ClassDef>&)
{
    {
        ClassDef& d = Define("TComponent", nullptr, nullptr);
        Prop<TComponent>(d, "Tag", [](TComponent* c, const TFormValue& v) { c->Tag = v.AsInt(); });
    }
    {
        ClassDef& d = Define("TControl", "TComponent", nullptr);
        Prop<TControl>(d, "Left", [](TControl* c, const TFormValue& v) { c->SetLeft(v.AsInt()); });
        Prop<TControl>(d, "Top", [](TControl* c, const TFormValue& v) { c->SetTop(v.AsInt()); });
        Prop<TControl>(d, "Width", [](TControl* c, const TFormValue& v) { c->SetWidth(v.AsInt()); });
        Prop<TControl>(d, "Height", [](TControl* c, const TFormValue& v) { c->SetHeight(v.AsInt()); });
        Prop<TControl>(d, "Visible", [](TControl* c, const TFormValue& v) { c->SetVisible(v.AsBool()); });
        Prop<TControl>(d, "Enabled", [](TControl* c, const TFormValue& v) { c->SetEnabled(v.AsBool()); });
        Prop<TControl>(d, "Color", [](TControl* c, const TFormValue& v) { c->SetColor(v.AsColor()); });
        Prop<TControl>(d, "ParentColor", [](TControl* c, const TFormValue& v) { c->SetParentColor(v.AsBool()); });
        Prop<TControl>(d, "ParentFont", [](TControl* c, const TFormValue& v) { c->SetParentFont(v.AsBool()); });
        FontProps<TControl>(d, "Font.", [](TControl* c) { return c->Font(); });
        Prop<TControl>(d, "Hint", [](TControl* c, const TFormValue& v) { c->SetHint(v.AsString()); });
        Prop<TControl>(d, "ShowHint", [](TControl* c, const TFormValue& v) { c->SetShowHint(v.AsBool()); });
        Prop<TControl>(d, "Cursor", [](TControl* c, const TFormValue& v) {
            c->SetCursor(v.Kind == TFormValue::fvInteger ? v.AsInt() : v.AsEnum(kCursors));
        });
        Prop<TControl>(d, "Align", [](TControl* c, const TFormValue& v) { c->SetAlign((TAlign)v.AsEnum(kAlign)); });
        Prop<TControl>(d, "Anchors", [](TControl* c, const TFormValue& v) { c->SetAnchors(v.AsSet(kAnchors)); });
        Ignored(d, "ParentShowHint");
        Event(d, "OnClick", &TControl::OnClick);
        Event(d, "OnDblClick", &TControl::OnDblClick);
        Event(d, "OnMouseDown", &TControl::OnMouseDown);
        Event(d, "OnMouseUp", &TControl::OnMouseUp);
        Event(d, "OnMouseMove", &TControl::OnMouseMove);
    }
    auto caption = [](ClassDef& d) {
        Prop<TControl>(d, "Caption", [](TControl* c, const TFormValue& v) { c->SetCaption(v.AsString()); });
    };
    {
        ClassDef& d = Define("TWinControl", "TControl", nullptr);
        Prop<TWinControl>(d, "DoubleBuffered",
                          [](TWinControl* c, const TFormValue& v) { c->SetDoubleBuffered(v.AsBool()); });
        Prop<TWinControl>(d, "TabOrder", [](TWinControl* c, const TFormValue& v) { c->SetTabOrder(v.AsInt()); });
        Prop<TWinControl>(d, "TabStop", [](TWinControl* c, const TFormValue& v) { c->SetTabStop(v.AsBool()); });
        Prop<TWinControl>(d, "ImeMode",
                          [](TWinControl* c, const TFormValue& v) { c->SetImeMode((TImeMode)v.AsEnum(kImeMode)); });
        Ignored(d, "ImeName");
        Ignored(d, "ParentDoubleBuffered");
        Event(d, "OnKeyPress", &TWinControl::OnKeyPress);
    }
    {
        ClassDef& d = Define("TForm", "TWinControl", Make<TForm>());
        caption(d);
        Prop<TCustomForm>(d, "ClientWidth", [](TCustomForm* c, const TFormValue& v) { c->SetClientWidth(v.AsInt()); });
        Prop<TCustomForm>(d, "ClientHeight",
                          [](TCustomForm* c, const TFormValue& v) { c->SetClientHeight(v.AsInt()); });
        Prop<TCustomForm>(d, "BorderStyle", [](TCustomForm* c, const TFormValue& v) {
            c->SetBorderStyle((TFormBorderStyle)v.AsEnum(kFormBorder));
        });
        Prop<TCustomForm>(d, "BorderIcons",
                          [](TCustomForm* c, const TFormValue& v) { c->SetBorderIcons(v.AsSet(kBorderIcons)); });
        Prop<TCustomForm>(d, "Position",
                          [](TCustomForm* c, const TFormValue& v) { c->SetPosition((TPosition)v.AsEnum(kPosition)); });
        Prop<TCustomForm>(d, "KeyPreview", [](TCustomForm* c, const TFormValue& v) { c->SetKeyPreview(v.AsBool()); });
        Prop<TCustomForm>(d, "AutoScroll", [](TCustomForm* c, const TFormValue& v) { c->SetAutoScroll(v.AsBool()); });
        Prop<TCustomForm>(d, "AutoSize", [](TCustomForm* c, const TFormValue& v) { c->SetAutoSize(v.AsBool()); });
        Prop<TCustomForm>(d, "AxBorderStyle", [](TCustomForm* c, const TFormValue& v) {
            c->SetAxBorderStyle((TActiveFormBorderStyle)v.AsEnum(kAxBorder));
        });
        Prop<TCustomForm>(d, "BorderWidth", [](TCustomForm* c, const TFormValue& v) { c->SetBorderWidth(v.AsInt()); });
        Prop<TCustomForm>(d, "PixelsPerInch",
                          [](TCustomForm* c, const TFormValue& v) { c->SetPixelsPerInch(v.AsInt()); });
        Prop<TCustomForm>(d, "PrintScale", [](TCustomForm* c, const TFormValue& v) {
            c->SetPrintScale((TPrintScale)v.AsEnum(kPrintScale));
        });
        Prop<TCustomForm>(d, "Scaled", [](TCustomForm* c, const TFormValue& v) { c->SetScaled(v.AsBool()); });
        Prop<TCustomForm>(d, "DropTarget", [](TCustomForm* c, const TFormValue& v) { c->SetDropTarget(v.AsBool()); });
        Prop<TCustomForm>(d, "HelpFile", [](TCustomForm* c, const TFormValue& v) { c->SetHelpFile(v.AsString()); });
        Ignored(d, "OldCreateOrder");
        Ignored(d, "TextHeight");
        Event(d, "OnCreate", &TCustomForm::OnCreate);
        Event(d, "OnDestroy", &TCustomForm::OnDestroy);
        Event(d, "OnActivate", &TCustomForm::OnActivate);
        Event(d, "OnDeactivate", &TCustomForm::OnDeactivate);
        Event(d, "OnShow", &TCustomForm::OnShow);
        Event(d, "OnHide", &TCustomForm::OnHide);
        Event(d, "OnPaint", &TCustomForm::OnPaint);
        Event(d, "OnResize", &TCustomForm::OnResize);
        Event(d, "OnClose", &TCustomForm::OnClose);
    }
    {
        ClassDef& d = Define("TImage", "TControl", Make<TImage>());
        Prop<TImage>(d, "AutoSize", [](TImage* c, const TFormValue& v) { c->SetAutoSize(v.AsBool()); });
        Prop<TImage>(d, "Stretch", [](TImage* c, const TFormValue& v) { c->SetStretch(v.AsBool()); });
        Prop<TImage>(d, "Center", [](TImage* c, const TFormValue& v) { c->SetCenter(v.AsBool()); });
        Prop<TImage>(d, "Proportional", [](TImage* c, const TFormValue& v) { c->SetProportional(v.AsBool()); });
        Prop<TImage>(d, "Transparent", [](TImage* c, const TFormValue& v) { c->SetTransparent(v.AsBool()); });
        Prop<TImage>(d, "Picture.Data", [](TImage* c, const TFormValue& v) {
            if (v.Kind != TFormValue::fvBinary) throw Expected(v, "binary data");
            try {
                c->Picture()->LoadFromStoredData(v.Bytes.data(), v.Bytes.size());
            } catch (const EInvalidGraphic& e) {
                throw EReadError(std::string("picture: ") + e.what());
            }
        });
    }
    // Caption, Alignment and so on of a label, or of the label a class holds.
    auto labelProps = [&](ClassDef& d, const std::string& pre, TCustomLabel* (*lab)(TControl*)) {
        auto label = [lab](TControl* c) {
            TCustomLabel* l = lab(c);
            if (!l) throw EReadError("no label");
            return l;
        };
        Prop<TControl>(d, (pre + "Caption").c_str(),
                       [label](TControl* c, const TFormValue& v) { label(c)->SetCaption(v.AsString()); });
        Prop<TControl>(d, (pre + "Alignment").c_str(), [label](TControl* c, const TFormValue& v) {
            label(c)->SetAlignment((TAlignment)v.AsEnum(kAlignment));
        });
        Prop<TControl>(d, (pre + "Layout").c_str(), [label](TControl* c, const TFormValue& v) {
            label(c)->SetLayout((TTextLayout)v.AsEnum(kLayout));
        });
        Prop<TControl>(d, (pre + "AutoSize").c_str(),
                       [label](TControl* c, const TFormValue& v) { label(c)->SetAutoSize(v.AsBool()); });
        Prop<TControl>(d, (pre + "Transparent").c_str(),
                       [label](TControl* c, const TFormValue& v) { label(c)->SetTransparent(v.AsBool()); });
        Prop<TControl>(d, (pre + "WordWrap").c_str(),
                       [label](TControl* c, const TFormValue& v) { label(c)->SetWordWrap(v.AsBool()); });
        Ignored(d, (pre + "ShowAccelChar").c_str());
    };
    {
        ClassDef& d = Define("TLabel", "TControl", Make<TLabel>());
        labelProps(d, "", [](TControl* c) -> TCustomLabel* { return dynamic_cast<TCustomLabel*>(c); });
    }
    {
        ClassDef& d = Define("TButton", "TWinControl", Make<TButton>());
        caption(d);
        Prop<TButton>(d, "Default", [](TButton* c, const TFormValue& v) { c->SetDefault(v.AsBool()); });
        Prop<TButton>(d, "Cancel", [](TButton* c, const TFormValue& v) { c->SetCancel(v.AsBool()); });
        Prop<TButton>(d, "ModalResult", [](TButton* c, const TFormValue& v) {
            c->SetModalResult(v.Kind == TFormValue::fvInteger ? v.AsInt() : v.AsEnum(kModal));
        });
    }
    {
        ClassDef& d = Define("TEdit", "TWinControl", Make<TEdit>());
        Prop<TCustomEdit>(d, "Text", [](TCustomEdit* c, const TFormValue& v) { c->SetText(v.AsString()); });
        Prop<TCustomEdit>(d, "MaxLength", [](TCustomEdit* c, const TFormValue& v) { c->SetMaxLength(v.AsInt()); });
        Prop<TCustomEdit>(d, "PasswordChar",
                          [](TCustomEdit* c, const TFormValue& v) { c->SetPasswordChar(OneChar(v)); });
        Prop<TCustomEdit>(d, "ReadOnly", [](TCustomEdit* c, const TFormValue& v) { c->SetReadOnly(v.AsBool()); });
        Prop<TCustomEdit>(d, "CharCase", [](TCustomEdit* c, const TFormValue& v) {
            c->SetCharCase((TEditCharCase)v.AsEnum(kCharCase));
        });
        Ignored(d, "AutoSelect");
        Ignored(d, "AutoSize");
        Event(d, "OnChange", &TCustomEdit::OnChange);
    }
    {
        ClassDef& d = Define("TLabeledEdit", "TEdit", Make<TLabeledEdit>());
        labelProps(d, "EditLabel.", [](TControl* c) -> TCustomLabel* {
            auto* e = dynamic_cast<TCustomLabeledEdit*>(c);
            return e ? e->EditLabel() : nullptr;
        });
        Prop<TCustomLabeledEdit>(d, "EditLabel.Width", [](TCustomLabeledEdit* c, const TFormValue& v) {
            c->EditLabel()->SetWidth(v.AsInt());
        });
        Prop<TCustomLabeledEdit>(d, "EditLabel.Height", [](TCustomLabeledEdit* c, const TFormValue& v) {
            c->EditLabel()->SetHeight(v.AsInt());
        });
        FontProps<TCustomLabeledEdit>(d, "EditLabel.Font.",
                                      [](TCustomLabeledEdit* c) { return c->EditLabel()->Font(); });
        Prop<TCustomLabeledEdit>(d, "EditLabel.ParentFont", [](TCustomLabeledEdit* c, const TFormValue& v) {
            c->EditLabel()->SetParentFont(v.AsBool());
        });
        Prop<TCustomLabeledEdit>(d, "LabelPosition", [](TCustomLabeledEdit* c, const TFormValue& v) {
            c->SetLabelPosition((TLabelPosition)v.AsEnum(kLabelPos));
        });
        Prop<TCustomLabeledEdit>(d, "LabelSpacing",
                                 [](TCustomLabeledEdit* c, const TFormValue& v) { c->SetLabelSpacing(v.AsInt()); });
    }
    {
        ClassDef& d = Define("TComboBox", "TWinControl", Make<TComboBox>());
        Prop<TComboBox>(d, "Items.Strings", [](TComboBox* c, const TFormValue& v) {
            c->Items()->Clear();
            for (const AnsiString& s : v.AsStringList()) c->Items()->Add(s);
        });
        // After the items, whatever the order in the text.
        Later<TComboBox>(d, "ItemIndex",
                         [](TComboBox* c, const TFormValue& v, LoadContext&) { c->SetItemIndex(v.AsInt()); });
        Later<TComboBox>(d, "Text", [](TComboBox* c, const TFormValue& v, LoadContext&) { c->SetText(v.AsString()); });
        Prop<TComboBox>(d, "Style",
                        [](TComboBox* c, const TFormValue& v) { c->SetStyle((TComboBoxStyle)v.AsEnum(kComboStyle)); });
        Prop<TComboBox>(d, "DropDownCount", [](TComboBox* c, const TFormValue& v) { c->SetDropDownCount(v.AsInt()); });
        Prop<TComboBox>(d, "MaxLength", [](TComboBox* c, const TFormValue& v) { c->SetMaxLength(v.AsInt()); });
        Ignored(d, "ItemHeight");
        Event(d, "OnChange", &TComboBox::OnChange);
        Event(d, "OnSelect", &TComboBox::OnSelect);
    }
    {
        ClassDef& d = Define("TCheckBox", "TWinControl", Make<TCheckBox>());
        caption(d);
        Prop<TCheckBox>(d, "Checked", [](TCheckBox* c, const TFormValue& v) { c->SetChecked(v.AsBool()); });
        Prop<TCheckBox>(d, "State",
                        [](TCheckBox* c, const TFormValue& v) { c->SetState((TCheckBoxState)v.AsEnum(kCheckState)); });
        Prop<TCheckBox>(d, "Alignment",
                        [](TCheckBox* c, const TFormValue& v) { c->SetAlignment((TAlignment)v.AsEnum(kAlignment)); });
    }
    {
        ClassDef& d = Define("TMemo", "TWinControl", Make<TMemo>());
        Prop<TMemo>(d, "Lines.Strings", [](TMemo* c, const TFormValue& v) {
            c->Lines()->Clear();
            for (const AnsiString& s : v.AsStringList()) c->Lines()->Add(s);
        });
        Prop<TMemo>(d, "ReadOnly", [](TMemo* c, const TFormValue& v) { c->SetReadOnly(v.AsBool()); });
        Prop<TMemo>(d, "WordWrap", [](TMemo* c, const TFormValue& v) { c->SetWordWrap(v.AsBool()); });
        Prop<TMemo>(d, "ScrollBars",
                    [](TMemo* c, const TFormValue& v) { c->SetScrollBars((TScrollStyle)v.AsEnum(kScrollStyle)); });
        Prop<TMemo>(d, "MaxLength", [](TMemo* c, const TFormValue& v) { c->SetMaxLength(v.AsInt()); });
        Event(d, "OnChange", &TMemo::OnChange);
    }
    {
        ClassDef& d = Define("TGroupBox", "TWinControl", Make<TGroupBox>());
        caption(d);
    }
    {
        ClassDef& d = Define("TPanel", "TWinControl", Make<TPanel>());
        caption(d);
        Prop<TCustomPanel>(d, "BevelInner",
                           [](TCustomPanel* c, const TFormValue& v) { c->SetBevelInner((TBevelCut)v.AsEnum(kBevel)); });
        Prop<TCustomPanel>(d, "BevelOuter",
                           [](TCustomPanel* c, const TFormValue& v) { c->SetBevelOuter((TBevelCut)v.AsEnum(kBevel)); });
        Prop<TCustomPanel>(d, "BevelWidth", [](TCustomPanel* c, const TFormValue& v) { c->SetBevelWidth(v.AsInt()); });
        Prop<TCustomPanel>(d, "BorderStyle", [](TCustomPanel* c, const TFormValue& v) {
            c->SetBorderStyle((TPanelBorderStyle)v.AsEnum(kPanelBorder));
        });
        Prop<TCustomPanel>(d, "Alignment", [](TCustomPanel* c, const TFormValue& v) {
            c->SetAlignment((TAlignment)v.AsEnum(kAlignment));
        });
        Ignored(d, "ParentBackground");
    }
    {
        ClassDef& d = Define("TRadioGroup", "TWinControl", Make<TRadioGroup>());
        caption(d);
        Prop<TRadioGroup>(d, "Items.Strings", [](TRadioGroup* c, const TFormValue& v) {
            c->Items()->Clear();
            for (const AnsiString& s : v.AsStringList()) c->Items()->Add(s);
        });
        Later<TRadioGroup>(d, "ItemIndex",
                           [](TRadioGroup* c, const TFormValue& v, LoadContext&) { c->SetItemIndex(v.AsInt()); });
        Prop<TRadioGroup>(d, "Columns", [](TRadioGroup* c, const TFormValue& v) { c->SetColumns(v.AsInt()); });
    }
    {
        ClassDef& d = Define("TScrollBar", "TWinControl", Make<TScrollBar>());
        Prop<TScrollBar>(d, "Min", [](TScrollBar* c, const TFormValue& v) {
            c->SetParams(c->Position(), v.AsInt(), std::max(v.AsInt(), c->Max()));
        });
        Prop<TScrollBar>(d, "Max", [](TScrollBar* c, const TFormValue& v) {
            c->SetParams(c->Position(), std::min(v.AsInt(), c->Min()), v.AsInt());
        });
        Prop<TScrollBar>(d, "Position", [](TScrollBar* c, const TFormValue& v) { c->SetPosition(v.AsInt()); });
        Prop<TScrollBar>(d, "Kind",
                         [](TScrollBar* c, const TFormValue& v) { c->SetKind((TScrollBarKind)v.AsEnum(kBarKind)); });
        Prop<TScrollBar>(d, "SmallChange", [](TScrollBar* c, const TFormValue& v) { c->SetSmallChange(v.AsInt()); });
        Prop<TScrollBar>(d, "LargeChange", [](TScrollBar* c, const TFormValue& v) { c->SetLargeChange(v.AsInt()); });
        Prop<TScrollBar>(d, "PageSize", [](TScrollBar* c, const TFormValue& v) { c->SetPageSize(v.AsInt()); });
        Event(d, "OnChange", &TScrollBar::OnChange);
    }
    {
        ClassDef& d = Define("TStaticText", "TWinControl", Make<TStaticText>());
        caption(d);
        Prop<TStaticText>(d, "Alignment", [](TStaticText* c, const TFormValue& v) {
            c->SetAlignment((TAlignment)v.AsEnum(kAlignment));
        });
        Prop<TStaticText>(d, "AutoSize", [](TStaticText* c, const TFormValue& v) { c->SetAutoSize(v.AsBool()); });
        Prop<TStaticText>(d, "BorderStyle", [](TStaticText* c, const TFormValue& v) {
            c->SetBorderStyle((TStaticBorderStyle)v.AsEnum(kStaticBorder));
        });
    }
    {
        ClassDef& d = Define("TPageControl", "TWinControl", Make<TPageControl>());
        Later<TPageControl>(d, "ActivePage", [](TPageControl* c, const TFormValue& v, LoadContext& ctx) {
            std::string n = v.AsIdent();
            auto* page = dynamic_cast<TTabSheet*>(ctx.root->FindComponent(n));
            if (!page || page->PageControl() != c) throw EReadError("'" + n + "' is not a page of this page control");
            c->SetActivePage(page);
        });
        Ignored(d, "MultiLine");
        Ignored(d, "TabIndex");
        Event(d, "OnChange", &TPageControl::OnChange);
    }
    {
        ClassDef& d = Define("TTabSheet", "TWinControl", Make<TTabSheet>());
        caption(d);
        Prop<TTabSheet>(d, "TabVisible", [](TTabSheet* c, const TFormValue& v) { c->SetTabVisible(v.AsBool()); });
        Prop<TTabSheet>(d, "ImageIndex", [](TTabSheet* c, const TFormValue& v) { c->SetImageIndex(v.AsInt()); });
        Ignored(d, "ExplicitLeft");
        Ignored(d, "ExplicitTop");
        Ignored(d, "ExplicitWidth");
        Ignored(d, "ExplicitHeight");
    }
    {
        ClassDef& d = Define("TProgressBar", "TWinControl", Make<TProgressBar>());
        Prop<TProgressBar>(d, "Min", [](TProgressBar* c, const TFormValue& v) { c->SetMin(v.AsInt()); });
        Prop<TProgressBar>(d, "Max", [](TProgressBar* c, const TFormValue& v) { c->SetMax(v.AsInt()); });
        Prop<TProgressBar>(d, "Position", [](TProgressBar* c, const TFormValue& v) { c->SetPosition(v.AsInt()); });
        Prop<TProgressBar>(d, "Step", [](TProgressBar* c, const TFormValue& v) { c->SetStep(v.AsInt()); });
        Prop<TProgressBar>(d, "Smooth", [](TProgressBar* c, const TFormValue& v) { c->SetSmooth(v.AsBool()); });
        Prop<TProgressBar>(d, "Orientation", [](TProgressBar* c, const TFormValue& v) {
            c->SetOrientation((TProgressBarOrientation)v.AsEnum(kOrientation));
        });
    }
    {
        ClassDef& d = Define("TTimer", "TComponent", Make<TTimer>());
        Prop<TTimer>(d, "Enabled", [](TTimer* c, const TFormValue& v) { c->SetEnabled(v.AsBool()); });
        Prop<TTimer>(d, "Interval", [](TTimer* c, const TFormValue& v) {
            int ms = v.AsInt();
            if (ms < 0) throw EReadError("Interval must not be negative");
            c->SetInterval((uint32_t)ms);
        });
        Event(d, "OnTimer", &TTimer::OnTimer);
    }
    for (const char* cls : {"TOpenDialog", "TSaveDialog"}) {
        ClassDef& d = std::string(cls) == "TOpenDialog" ? Define(cls, "TComponent", Make<TOpenDialog>())
                                                        : Define(cls, "TComponent", Make<TSaveDialog>());
        Prop<TOpenDialog>(d, "FileName", [](TOpenDialog* c, const TFormValue& v) { c->SetFileName(v.AsString()); });
        Prop<TOpenDialog>(d, "Filter", [](TOpenDialog* c, const TFormValue& v) { c->SetFilter(v.AsString()); });
        Prop<TOpenDialog>(d, "FilterIndex", [](TOpenDialog* c, const TFormValue& v) { c->SetFilterIndex(v.AsInt()); });
        Prop<TOpenDialog>(d, "DefaultExt", [](TOpenDialog* c, const TFormValue& v) { c->SetDefaultExt(v.AsString()); });
        Prop<TOpenDialog>(d, "InitialDir", [](TOpenDialog* c, const TFormValue& v) { c->SetInitialDir(v.AsString()); });
        Prop<TOpenDialog>(d, "Title", [](TOpenDialog* c, const TFormValue& v) { c->SetTitle(v.AsString()); });
        Prop<TOpenDialog>(d, "Options",
                          [](TOpenDialog* c, const TFormValue& v) { c->SetOptions(v.AsSet(kOpenOptions)); });
    }
    {
        ClassDef& d = Define("TFontDialog", "TComponent", Make<TFontDialog>());
        FontProps<TFontDialog>(d, "Font.", [](TFontDialog* c) { return c->Font(); });
    }
}

std::map<std::string, ClassDef>& Registry()
{
    static std::map<std::string, ClassDef> reg;
    static bool filled = false;
    if (!filled) {
        filled = true;
        RegisterBuiltins(reg);
    }
    return reg;
}

// --- Loading -----------------------------------------------------------------------

std::string Describe(const FObject& o) { return o.name + " (" + o.className + ")"; }

void ApplyProps(const FObject& o, TComponent* comp, const std::string& cls, LoadContext& ctx)
{
    for (const FProp& p : o.props) {
        const PropEntry* e = FindProp(cls, p.name);
        if (!e) throw ctx.Error(p.line, "unknown property '" + p.name + "' of " + Describe(o));
        if (e->deferred) {
            ctx.pending.push_back(LoadContext::Pending{comp, Describe(o), &p, &e->deferred});
            continue;
        }
        try {
            e->now(comp, p.value);
        } catch (const EReadError& err) {
            throw ctx.Error(p.line, Describe(o) + "." + p.name + ": " + err.what());
        } catch (const std::exception& err) {
            throw ctx.Error(p.line, Describe(o) + "." + p.name + ": " + err.what());
        }
    }
}

void LoadChildren(const FObject& o, TComponent* parent, LoadContext& ctx)
{
    for (const FObject& c : o.children) {
        if (c.name.empty()) throw ctx.Error(c.line, "a component of class " + c.className + " has no name");
        auto& reg = Registry();
        auto it = reg.find(c.className);
        if (it == reg.end() || !it->second.factory)
            throw ctx.Error(c.line, "unknown component class '" + c.className + "' of " + c.name);
        if (ctx.names.count(c.name) || c.name == ctx.root->Name)
            throw ctx.Error(c.line, "a component named " + c.name + " already exists");
        ctx.names.insert(c.name);
        TComponent* comp = it->second.factory(ctx.root);
        comp->Name = c.name;
        if (auto* ctrl = dynamic_cast<TControl*>(comp)) {
            auto* holder = dynamic_cast<TWinControl*>(parent);
            if (!holder)
                throw ctx.Error(c.line, c.name + " is a control, but " +
                                            (parent == ctx.root ? ctx.root->Name : "its container") +
                                            " cannot hold controls");
            ctrl->SetParent(holder);
        }
        auto f = ctx.binder.Fields.find(c.name);
        if (f != ctx.binder.Fields.end()) {
            if (!f->second(comp))
                throw ctx.Error(c.line, "field " + c.name + " of the form does not take a " + c.className);
            ctx.filled.insert(c.name);
        }
        ApplyProps(c, comp, c.className, ctx);
        LoadChildren(c, comp, ctx);
    }
}

void Load(TComponent* root, const char* text, size_t length, const TFormBinder& binder, const char* sourceName)
{
    if (!root) throw EReadError("no form to read into");
    std::string src = sourceName ? sourceName : "form";
    Lexer lex(text ? text : "", text ? length : 0, src);
    Parser parser(lex);
    FObject top = parser.ParseRoot();
    LoadContext ctx{root, binder, src, {}, {}, {}};
    if (!binder.FormClass.empty() && top.className != binder.FormClass)
        throw ctx.Error(top.line, "the description is of class " + top.className + ", the form is " + binder.FormClass);
    root->Name = top.name;
    std::string rootClass = dynamic_cast<TCustomForm*>(root) ? "TForm" : "TComponent";
    ApplyProps(top, root, rootClass, ctx);
    LoadChildren(top, root, ctx);
    for (const auto& f : binder.Fields)
        if (!ctx.filled.count(f.first))
            throw ctx.Error(top.line, "field " + f.first + " of the form has no component in the description");
    for (const auto& p : ctx.pending) {
        try {
            (*p.set)(p.comp, p.prop->value, ctx);
        } catch (const std::exception& err) {
            throw ctx.Error(p.prop->line, p.owner + "." + p.prop->name + ": " + err.what());
        }
    }
    if (auto* w = dynamic_cast<TWinControl*>(root)) w->Realign();
}

} // namespace

void Vcl_ReadForm(TComponent* root, const char* text, size_t length, const TFormBinder& binder, const char* sourceName)
{
    Load(root, text, length, binder, sourceName);
}

void Vcl_ReadForm(TComponent* root, const char* text, const TFormBinder& binder, const char* sourceName)
{
    Load(root, text, text ? strlen(text) : 0, binder, sourceName);
}

void Vcl_ReadFormFile(TComponent* root, const char* path, const TFormBinder& binder)
{
    std::ifstream in(path ? path : "", std::ios::binary);
    if (!in) throw EReadError(std::string("cannot open ") + (path ? path : "(null)"));
    std::stringstream ss;
    ss << in.rdbuf();
    std::string text = ss.str();
    Load(root, text.data(), text.size(), binder, path);
}

bool Vcl_TryReadForm(TComponent* root, const char* text, const TFormBinder& binder, AnsiString* error,
                     const char* sourceName)
{
    try {
        Load(root, text, text ? strlen(text) : 0, binder, sourceName);
        if (error) error->clear();
        return true;
    } catch (const std::exception& e) {
        if (error) *error = e.what();
        return false;
    }
}

void Vcl_RegisterClass(const char* name, const char* baseName, TComponentFactory factory)
{
    if (!name || !*name) return;
    Define(name, baseName, std::move(factory));
}

void Vcl_RegisterProperty(const char* className, const char* property, TPropertySetter setter)
{
    if (!className || !property) return;
    auto& reg = Registry();
    auto it = reg.find(className);
    if (it == reg.end()) return;
    it->second.props[property].now = std::move(setter);
}

bool Vcl_IsClassRegistered(const char* name)
{
    if (!name) return false;
    auto& reg = Registry();
    auto it = reg.find(name);
    return it != reg.end() && it->second.factory;
}
