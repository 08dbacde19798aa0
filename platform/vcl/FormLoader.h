// Stored form descriptions: the reader that builds a form's components
// from the text form format, the registry of component classes and their
// properties, and the binder through which a form class offers its field
// slots and its event handlers by name.
//
//   object TavlinX: TTavlinX          // root: the form itself
//     Width = 1010
//     OnCreate = ActiveFormCreate     // handler, by name
//     object Timer1: TTimer           // child component
//       Interval = 10
//     end
//   end
//
// Values: integers, 'strings' (with '' for a quote, #13 character codes
// and + to join pieces), identifiers (True, False, enum values, colours,
// component names), sets [akLeft, akTop], lists ('a' 'b') and binary data
// {hex}. `//` starts a comment. Unknown classes, properties, handlers and
// fields are errors (EReadError, with the line), as are duplicate names.
// Event handlers and references to other components are bound after all
// components exist, so no handler runs while the form is read.
#pragma once
#include "platform/vcl/Controls.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/Vcl.h"

#include <cstdint>
#include <functional>
#include <map>
#include <stdexcept>
#include <variant>
#include <vector>

class EReadError : public std::runtime_error {
public:
    explicit EReadError(const std::string& what) : std::runtime_error(what) {}
};

// One property value as read.
struct TFormValue {
    enum TKind { fvInteger, fvFloat, fvString, fvIdent, fvSet, fvList, fvBinary, fvCollection };
    TKind Kind = fvInteger;
    int64_t Int = 0;
    double Float = 0;
    AnsiString Str;                 // fvString text, fvIdent name
    std::vector<AnsiString> Idents; // fvSet members
    std::vector<TFormValue> Items;  // fvList entries
    std::vector<uint8_t> Bytes;     // fvBinary
    int Line = 0;

    // Checked accessors; each raises EReadError naming what was expected.
    int AsInt() const;
    bool AsBool() const;
    AnsiString AsString() const;
    AnsiString AsIdent() const;
    TColor AsColor() const;
    // An identifier from the table (name, value pairs ending with a null name).
    struct TEnumName {
        const char* Name;
        int Value;
    };
    int AsEnum(const TEnumName* table) const;
    // A set of identifiers from the table, as the OR of their values.
    unsigned AsSet(const TEnumName* table) const;
    std::vector<AnsiString> AsStringList() const;
};

typedef std::variant<TNotifyEvent, TMouseEvent, TMouseMoveEvent, TKeyPressEvent, TCloseEvent> TFormHandler;

// What a form class offers the reader: field slots that receive the
// components by name (type-checked) and handlers by name. Every field slot
// must be filled by the description; components without a slot are still
// created and found with FindComponent.
class TFormBinder {
public:
    // formClass: the class name the description's root must carry (empty:
    // any).
    explicit TFormBinder(const AnsiString& formClass = "") : FormClass(formClass) {}

    template <class T> void Field(const AnsiString& name, T*& slot)
    {
        T** p = &slot;
        Fields[name] = [p](TComponent* c) {
            T* typed = dynamic_cast<T*>(c);
            if (!typed) return false;
            *p = typed;
            return true;
        };
    }

    void Handler(const AnsiString& name, TNotifyEvent fn) { Handlers[name] = std::move(fn); }
    void Handler(const AnsiString& name, TMouseEvent fn) { Handlers[name] = std::move(fn); }
    void Handler(const AnsiString& name, TMouseMoveEvent fn) { Handlers[name] = std::move(fn); }
    void Handler(const AnsiString& name, TKeyPressEvent fn) { Handlers[name] = std::move(fn); }
    void Handler(const AnsiString& name, TCloseEvent fn) { Handlers[name] = std::move(fn); }

    // A method of the form: Handler("Timer1Timer", this, &TTavlinX::Timer1Timer).
    template <class C> void Handler(const AnsiString& name, C* obj, void (C::*m)(TObject*))
    {
        Handlers[name] = TNotifyEvent([obj, m](TObject* s) { (obj->*m)(s); });
    }
    template <class C>
    void Handler(const AnsiString& name, C* obj, void (C::*m)(TObject*, TMouseButton, TShiftState, int, int))
    {
        Handlers[name] = TMouseEvent(
            [obj, m](TObject* s, TMouseButton b, TShiftState sh, int x, int y) { (obj->*m)(s, b, sh, x, y); });
    }
    template <class C> void Handler(const AnsiString& name, C* obj, void (C::*m)(TObject*, TShiftState, int, int))
    {
        Handlers[name] =
            TMouseMoveEvent([obj, m](TObject* s, TShiftState sh, int x, int y) { (obj->*m)(s, sh, x, y); });
    }
    template <class C> void Handler(const AnsiString& name, C* obj, void (C::*m)(TObject*, char&))
    {
        Handlers[name] = TKeyPressEvent([obj, m](TObject* s, char& k) { (obj->*m)(s, k); });
    }
    template <class C> void Handler(const AnsiString& name, C* obj, void (C::*m)(TObject*, TCloseAction&))
    {
        Handlers[name] = TCloseEvent([obj, m](TObject* s, TCloseAction& a) { (obj->*m)(s, a); });
    }

    AnsiString FormClass;
    std::map<AnsiString, std::function<bool(TComponent*)>> Fields;
    std::map<AnsiString, TFormHandler> Handlers;
};

// Reads a description into root (a form, already constructed): sets the
// root's own properties, creates every child component owned by root (and
// parented to the object it is nested in), fills the field slots, then
// binds handlers and component references. Raises EReadError
// ("name:line: message") on the first error; what was created up to then
// stays owned by root.
void Vcl_ReadForm(TComponent* root, const char* text, size_t length, const TFormBinder& binder,
                  const char* sourceName = "form");
void Vcl_ReadForm(TComponent* root, const char* text, const TFormBinder& binder, const char* sourceName = "form");
void Vcl_ReadFormFile(TComponent* root, const char* path, const TFormBinder& binder);
// The same without exceptions: false and the message in *error.
bool Vcl_TryReadForm(TComponent* root, const char* text, const TFormBinder& binder, AnsiString* error,
                     const char* sourceName = "form");

// --- Class registry ------------------------------------------------------
// Every control and component class of the platform is registered under
// its name; programs may add their own. A class inherits its base's
// properties.

typedef std::function<TComponent*(TComponent* owner)> TComponentFactory;
// Receives the component (of the registered class or a descendant) and
// the value; raises EReadError for a bad value.
typedef std::function<void(TComponent* component, const TFormValue& value)> TPropertySetter;

void Vcl_RegisterClass(const char* name, const char* baseName, TComponentFactory factory);
void Vcl_RegisterProperty(const char* className, const char* property, TPropertySetter setter);
bool Vcl_IsClassRegistered(const char* name);

// The text that tavlin_embed_text(target SYMBOL file) compiled into target.
#define VCL_DECLARE_EMBEDDED_TEXT(symbol)                                                                              \
    extern const char symbol[];                                                                                        \
    extern const unsigned long symbol##_size
