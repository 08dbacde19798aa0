// The COM object of the control: TTavlinXImpl around the one form
// TTavlinX. Owns the object's interfaces, its event connection point and
// the forwarding of the form's events to it.
#pragma once
#include "control/TavlinProj1_TLB.h"
#include "platform/com/ComSupport.h"

class TTavlinX;

// The object's COM map: its interfaces in the order QueryInterface looks
// for them (the first is its identity).
constexpr size_t kTavlinXComMapSize = 21;
const TComMapEntry* TavlinX_ComMap();
// Creates a TavlinX object (the class factory's creator).
HRESULT TavlinX_Create(REFIID riid, void** ppv);
// True once an object has built the form: from then on the form, its
// timer, its sockets and the audio thread run inside the library until
// the process ends, whether or not an object is left.
bool TavlinX_FormRunning();
// The class object handed out by DllGetClassObject.
IClassFactory* TavlinX_ClassFactory();
// Writes or removes the class's registry entries (register = true/false).
HRESULT TavlinX_UpdateRegistry(bool doRegister);
// Registers the type library under HKEY_CLASSES_ROOT\TypeLib.
HRESULT TavlinX_RegisterTypeLib();
