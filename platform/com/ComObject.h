// The reference count of a COM object on the heap whose interfaces form
// one chain (TComObject<IStream> for an object answering IUnknown,
// ISequentialStream and IStream): made with one reference, freed by its
// last Release. The class adds its own QueryInterface.
#pragma once
#include "platform/com/ComInterfaces.h"
#include <atomic>

template <class I> class TComObject : public I {
public:
    ULONG AddRef() override { return ++FRefs; }
    ULONG Release() override
    {
        ULONG n = --FRefs;
        if (n == 0) delete this;
        return n;
    }

protected:
    TComObject() = default;
    virtual ~TComObject() = default;

private:
    std::atomic<ULONG> FRefs{1};
};
