// Connection points: advising sinks, firing events with arguments in
// dispatch order (in/out arguments coming back), unadvising, limits,
// enumeration and the container helpers.
#include "Fakes.h"
#include <gtest/gtest.h>

namespace {

const IID kEvents = {0x601905B0, 0xB3C6, 0x4D32, {0x8A, 0xAC, 0x4B, 0x15, 0x0E, 0x1A, 0x5D, 0xF6}};

// The connectable object's outside: counts the references the point takes.
struct TContainer : IConnectionPointContainer {
    ULONG refs = 1;
    IConnectionPoint* point = nullptr;
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IConnectionPointContainer) {
            *ppv = this;
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT EnumConnectionPoints(IEnumConnectionPoints** e) override
    {
        return ConnectionPoints_Enumerate(&point, 1, e);
    }
    HRESULT FindConnectionPoint(REFIID riid, IConnectionPoint** cp) override
    {
        return ConnectionPoints_Find(&point, 1, riid, cp);
    }
};

// An event sink answering the event interface; records each call.
struct TSink : IDispatch {
    ULONG refs = 1;
    bool answersEvents = true;
    std::vector<std::string> calls;
    SHORT newKey = 0;                            // written into an in/out VT_I2 argument
    TComConnectionPoint* unadviseFrom = nullptr; // unadvises itself when called
    DWORD cookie = 0;
    HRESULT result = S_OK;

    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IUnknown || riid == IID_IDispatch || (answersEvents && riid == kEvents)) {
            *ppv = static_cast<IDispatch*>(this);
            AddRef();
            return S_OK;
        }
        *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
    HRESULT GetTypeInfoCount(UINT* n) override
    {
        *n = 0;
        return S_OK;
    }
    HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    HRESULT Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* p, VARIANT*, EXCEPINFO*, UINT*) override
    {
        EXPECT_EQ(riid, IID_NULL);
        EXPECT_EQ(flags, DISPATCH_METHOD);
        std::string call = std::to_string(id) + "(";
        // rgvarg holds the last parameter first.
        for (UINT i = p->cArgs; i-- > 0;) {
            std::string t;
            EXPECT_EQ(Variant_ToText(&p->rgvarg[i], &t), S_OK);
            call += t + (i ? "," : "");
            if (p->rgvarg[i].vt == (VT_BYREF | VT_I2)) *p->rgvarg[i].piVal = newKey;
        }
        calls.push_back(call + ")");
        if (unadviseFrom) {
            EXPECT_EQ(unadviseFrom->Unadvise(cookie), S_OK);
        }
        return result;
    }
};

TEST(ConnectionPoint, AdviseFireUnadvise)
{
    TContainer container;
    TComConnectionPoint point(&container, kEvents);
    container.point = &point;
    TSink a, b;
    DWORD ca = 0, cb = 0;
    ASSERT_EQ(point.Advise(&a, &ca), S_OK);
    ASSERT_EQ(point.Advise(&b, &cb), S_OK);
    EXPECT_EQ(ca, 1u);
    EXPECT_EQ(cb, 2u);
    EXPECT_EQ(a.refs, 2u); // the point holds one
    EXPECT_EQ(point.SinkCount(), 2u);

    EXPECT_EQ(point.FireEvent(2), S_OK); // OnClick, no arguments
    VARIANT args[2];
    VariantInit(&args[0]);
    VariantInit(&args[1]);
    args[0].vt = VT_I4;
    args[0].lVal = 10;
    Variant_SetText(&args[1], "second");
    EXPECT_EQ(point.FireEvent(7, args, 2), S_OK);
    EXPECT_EQ(a.calls, (std::vector<std::string>{"2()", "7(10,second)"}));
    EXPECT_EQ(b.calls, a.calls);
    VariantClear(&args[1]);

    EXPECT_EQ(point.Unadvise(ca), S_OK);
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(point.Unadvise(ca), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(point.FireEvent(16), S_OK);
    EXPECT_EQ(a.calls.size(), 2u);
    EXPECT_EQ(b.calls.back(), "16()");
    // A cookie is not given twice.
    DWORD again = 0;
    ASSERT_EQ(point.Advise(&a, &again), S_OK);
    EXPECT_EQ(again, 3u);

    point.UnadviseAll();
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b.refs, 1u);
    EXPECT_EQ(container.refs, 1u);
}

TEST(ConnectionPoint, InOutArgumentComesBack)
{
    TSink sink; // sinks outlive the point, which releases them as it goes
    sink.newKey = 'Q';
    TComConnectionPoint point(nullptr, kEvents);
    DWORD cookie;
    ASSERT_EQ(point.Advise(&sink, &cookie), S_OK);
    SHORT key = 'a';
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_BYREF | VT_I2;
    arg.piVal = &key;
    EXPECT_EQ(point.FireEvent(11, &arg, 1), S_OK); // OnKeyPress(Key)
    EXPECT_EQ(sink.calls, (std::vector<std::string>{"11(97)"}));
    EXPECT_EQ(key, 'Q');
}

TEST(ConnectionPoint, RefusalsAndLimits)
{
    TSink stranger, one, two;
    TComConnectionPoint point(nullptr, kEvents, 1);
    stranger.answersEvents = false;
    DWORD cookie = 99;
    EXPECT_EQ(point.Advise(&stranger, &cookie), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(cookie, 0u);
    EXPECT_EQ(stranger.refs, 1u);
    EXPECT_EQ(point.Advise(nullptr, &cookie), E_POINTER);
    ASSERT_EQ(point.Advise(&one, &cookie), S_OK);
    EXPECT_EQ(point.Advise(&two, &cookie), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(point.FireEvent(1, nullptr, 1), E_INVALIDARG);
    IConnectionPointContainer* cpc = nullptr;
    EXPECT_EQ(point.GetConnectionPointContainer(&cpc), E_UNEXPECTED);
}

TEST(ConnectionPoint, SinksMayLeaveWhileAnEventIsFired)
{
    TSink first, second;
    TComConnectionPoint point(nullptr, kEvents);
    DWORD c1, c2;
    ASSERT_EQ(point.Advise(&first, &c1), S_OK);
    ASSERT_EQ(point.Advise(&second, &c2), S_OK);
    first.unadviseFrom = &point;
    first.cookie = c1;
    first.result = E_FAIL;
    // Everyone connected at the start hears it; the first failure is reported.
    EXPECT_EQ(point.FireEvent(5), E_FAIL);
    EXPECT_EQ(first.calls.size(), 1u);
    EXPECT_EQ(second.calls.size(), 1u);
    EXPECT_EQ(first.refs, 1u);
    EXPECT_EQ(point.SinkCount(), 1u);
    EXPECT_EQ(point.FireEvent(5), S_OK);
    EXPECT_EQ(first.calls.size(), 1u);
    EXPECT_EQ(second.calls.size(), 2u);
}

TEST(ConnectionPoint, DestructionReleasesSinks)
{
    TSink sink;
    {
        TComConnectionPoint point(nullptr, kEvents);
        DWORD c;
        ASSERT_EQ(point.Advise(&sink, &c), S_OK);
        EXPECT_EQ(sink.refs, 2u);
    }
    EXPECT_EQ(sink.refs, 1u);
}

TEST(ConnectionPoint, ContainerFindsAndEnumerates)
{
    TContainer container;
    TComConnectionPoint point(&container, kEvents);
    container.point = &point;

    IConnectionPoint* cp = nullptr;
    ASSERT_EQ(container.FindConnectionPoint(kEvents, &cp), S_OK);
    EXPECT_EQ(cp, &point);
    EXPECT_EQ(container.refs, 2u); // through the point
    IID iid;
    EXPECT_EQ(cp->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, kEvents);
    IConnectionPointContainer* back = nullptr;
    EXPECT_EQ(cp->GetConnectionPointContainer(&back), S_OK);
    EXPECT_EQ(back, &container);
    back->Release();
    cp->Release();
    EXPECT_EQ(container.FindConnectionPoint(IID_IDispatch, &cp), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(cp, nullptr);

    IEnumConnectionPoints* points = nullptr;
    ASSERT_EQ(container.EnumConnectionPoints(&points), S_OK);
    IConnectionPoint* got[2] = {};
    ULONG fetched = 0;
    EXPECT_EQ(points->Next(2, got, &fetched), S_FALSE);
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(got[0], &point);
    got[0]->Release();
    EXPECT_EQ(points->Reset(), S_OK);
    EXPECT_EQ(points->Skip(2), S_FALSE);
    points->Release();
    EXPECT_EQ(container.refs, 1u);

    TSink a, b;
    DWORD ca, cb;
    point.Advise(&a, &ca);
    point.Advise(&b, &cb);
    IEnumConnections* conns = nullptr;
    ASSERT_EQ(point.EnumConnections(&conns), S_OK);
    CONNECTDATA data[3];
    EXPECT_EQ(conns->Next(3, data, &fetched), S_FALSE);
    ASSERT_EQ(fetched, 2u);
    EXPECT_EQ(data[0].dwCookie, ca);
    EXPECT_EQ(data[1].dwCookie, cb);
    EXPECT_EQ(data[0].pUnk, static_cast<IUnknown*>(&a));
    for (ULONG i = 0; i < fetched; i++) data[i].pUnk->Release();
    IEnumConnections* clone = nullptr;
    conns->Reset();
    conns->Skip(1);
    ASSERT_EQ(conns->Clone(&clone), S_OK);
    conns->Release();
    // The enumerator's own snapshot keeps working after an unadvise.
    point.UnadviseAll();
    EXPECT_EQ(clone->Next(1, data, nullptr), S_OK);
    EXPECT_EQ(data[0].dwCookie, cb);
    data[0].pUnk->Release();
    clone->Release();
    EXPECT_EQ(a.refs, 1u);
    EXPECT_EQ(b.refs, 1u);
}

} // namespace
