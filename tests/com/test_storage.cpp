// Memory the platform hands between container and control: streams over
// global memory blocks, storages in memory, device contexts with DIB
// sections, global blocks, storage media, and a class's registration as
// the OLE registry readers see it.
#include "platform/com/ComEnum.h"
#include "platform/com/ComSupport.h"
#include "platform/com/Registry.h"
#include "platform/win/Gdi.h"
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::u16string W(const char* s) { return Wide_FromText(s); }
const OLECHAR* P(const std::u16string& s) { return (const OLECHAR*)s.c_str(); }

LARGE_INTEGER At(LONGLONG n) { return LARGE_INTEGER{n}; }

std::string ReadAll(IStream* s)
{
    char buf[256];
    ULONG n = 0;
    EXPECT_EQ(s->Read(buf, sizeof buf, &n), S_OK);
    return std::string(buf, n);
}

void Write(IStream* s, const std::string& text)
{
    ULONG n = 0;
    ASSERT_EQ(s->Write(text.data(), (ULONG)text.size(), &n), S_OK);
    ASSERT_EQ(n, text.size());
}

TEST(HGlobalStream, GrowsAsWrittenAndReadsBackWhatWasWritten)
{
    IStream* s = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
    std::string big(5000, 'x');
    big += "end";
    Write(s, big);
    ULARGE_INTEGER pos = {};
    ASSERT_EQ(s->Seek(At(-3), STREAM_SEEK_END, &pos), S_OK);
    EXPECT_EQ(pos.QuadPart, 5000u);
    EXPECT_EQ(ReadAll(s), "end");
    // Reading at the end gives nothing; the stream is as long as written.
    EXPECT_EQ(ReadAll(s), "");
    STATSTG stat = {};
    ASSERT_EQ(s->Stat(&stat, STATFLAG_NONAME), S_OK);
    EXPECT_EQ(stat.type, STGTY_STREAM);
    EXPECT_EQ(stat.cbSize.QuadPart, 5003u);
    EXPECT_EQ(s->Seek(At(-1), STREAM_SEEK_SET, nullptr), STG_E_INVALIDFUNCTION);
    EXPECT_EQ(s->Seek(At(0), 7, nullptr), STG_E_INVALIDFUNCTION);

    // Writing past the end leaves zeros between.
    s->Seek(At(5010), STREAM_SEEK_SET, nullptr);
    Write(s, "!");
    s->Seek(At(5003), STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(ReadAll(s), std::string(7, '\0') + "!");

    // Its block holds the bytes.
    HGLOBAL block = nullptr;
    ASSERT_EQ(GetHGlobalFromStream(s, &block), S_OK);
    ASSERT_GE(GlobalSize(block), 5011u);
    EXPECT_EQ(memcmp(GlobalLock(block), big.data(), big.size()), 0);
    GlobalUnlock(block);

    // SetSize cuts and grows.
    ULARGE_INTEGER three = {3};
    ASSERT_EQ(s->SetSize(three), S_OK);
    s->Seek(At(0), STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(ReadAll(s), "xxx");
    s->Release();
}

TEST(HGlobalStream, ClonesShareTheBytesButNotThePosition)
{
    IStream* s = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &s), S_OK);
    Write(s, "abcdef");
    s->Seek(At(2), STREAM_SEEK_SET, nullptr);
    IStream* c = nullptr;
    ASSERT_EQ(s->Clone(&c), S_OK);
    EXPECT_EQ(ReadAll(c), "cdef");
    Write(c, "gh"); // seen through the original
    s->Release();   // the clone keeps the block
    c->Seek(At(0), STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(ReadAll(c), "abcdefgh");

    IStream* copy = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(nullptr, TRUE, &copy), S_OK);
    c->Seek(At(1), STREAM_SEEK_SET, nullptr);
    ULARGE_INTEGER five = {5}, read = {}, written = {};
    ASSERT_EQ(c->CopyTo(copy, five, &read, &written), S_OK);
    EXPECT_EQ(read.QuadPart, 5u);
    EXPECT_EQ(written.QuadPart, 5u);
    copy->Seek(At(0), STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(ReadAll(copy), "bcdef");
    copy->Release();
    c->Release();
}

TEST(HGlobalStream, AStreamOnAGivenBlockStartsWithItsBytesAndMayLeaveItBehind)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, 4);
    memcpy(GlobalLock(block), "wxyz", 4);
    GlobalUnlock(block);
    IStream* s = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(block, FALSE, &s), S_OK);
    EXPECT_EQ(ReadAll(s), "wxyz");
    s->Release();
    EXPECT_EQ(GlobalSize(block), 4u); // still the caller's
    EXPECT_EQ(GlobalFree(block), nullptr);

    // A stream of another kind has no block.
    IStorage* storage = nullptr;
    ASSERT_EQ(Storage_CreateInMemory(&storage), S_OK);
    HGLOBAL none = (HGLOBAL)1;
    EXPECT_EQ(GetHGlobalFromStream(nullptr, &none), E_INVALIDARG);
    EXPECT_EQ(none, nullptr);
    storage->Release();
    EXPECT_EQ(CreateStreamOnHGlobal((HGLOBAL)&none, TRUE, &s), E_INVALIDARG);
}

TEST(MemoryStorage, HoldsNamedStreamsAndStorages)
{
    IStorage* root = nullptr;
    ASSERT_EQ(Storage_CreateInMemory(&root), S_OK);
    IStream* s = nullptr;
    const DWORD create = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
    ASSERT_EQ(root->CreateStream(P(W("Contents")), create, 0, 0, &s), S_OK);
    Write(s, "state");
    s->Release();
    // Opened again (names ignore case): from the start, the same bytes.
    ASSERT_EQ(root->OpenStream(P(W("CONTENTS")), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, &s), S_OK);
    EXPECT_EQ(ReadAll(s), "state");
    s->Release();
    EXPECT_EQ(root->CreateStream(P(W("contents")), STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &s),
              STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(root->OpenStream(P(W("Other")), nullptr, STGM_READ, 0, &s), STG_E_FILENOTFOUND);
    struct Name {
        const char* name;
        HRESULT want;
    } names[] = {{"", STG_E_INVALIDNAME},
                 {"a\\b", STG_E_INVALIDNAME},
                 {"0123456789012345678901234567890", S_OK},
                 {"01234567890123456789012345678901", STG_E_INVALIDNAME}};
    for (const Name& n : names) {
        HRESULT hr = root->CreateStream(P(W(n.name)), create, 0, 0, &s);
        EXPECT_EQ(hr, n.want) << n.name;
        if (SUCCEEDED(hr)) s->Release();
    }

    IStorage* sub = nullptr;
    ASSERT_EQ(root->CreateStorage(P(W("Sub")), create, 0, 0, &sub), S_OK);
    ASSERT_EQ(sub->CreateStream(P(W("Deep")), create, 0, 0, &s), S_OK);
    Write(s, "deep bytes");
    s->Release();
    sub->Release();
    EXPECT_EQ(root->OpenStream(P(W("Sub")), nullptr, STGM_READ, 0, &s), STG_E_FILENOTFOUND); // not a stream

    // Listed by name with their kinds and sizes.
    IEnumSTATSTG* e = nullptr;
    ASSERT_EQ(root->EnumElements(0, nullptr, 0, &e), S_OK);
    std::vector<std::string> seen;
    STATSTG stat;
    ULONG n = 0;
    while (e->Next(1, &stat, &n) == S_OK) {
        seen.push_back(Wide_ToText(stat.pwcsName) + (stat.type == STGTY_STORAGE ? "/" : "=") +
                       std::to_string(stat.cbSize.QuadPart));
        CoTaskMemFree(stat.pwcsName);
    }
    e->Release();
    EXPECT_EQ(seen, std::vector<std::string>({"0123456789012345678901234567890=0", "Contents=5", "Sub/0"}));

    // Copied whole into another storage, less what is left out.
    IStorage* other = nullptr;
    ASSERT_EQ(Storage_CreateInMemory(&other), S_OK);
    ASSERT_EQ(root->SetClass(CLSID_NULL), S_OK);
    std::u16string skip = W("Contents");
    LPOLESTR excluded[] = {(LPOLESTR)skip.c_str(), nullptr};
    ASSERT_EQ(root->CopyTo(0, nullptr, excluded, other), S_OK);
    EXPECT_EQ(other->OpenStream(P(W("Contents")), nullptr, STGM_READ, 0, &s), STG_E_FILENOTFOUND);
    ASSERT_EQ(other->OpenStorage(P(W("Sub")), nullptr, STGM_READ, nullptr, 0, &sub), S_OK);
    ASSERT_EQ(sub->OpenStream(P(W("Deep")), nullptr, STGM_READ, 0, &s), S_OK);
    EXPECT_EQ(ReadAll(s), "deep bytes");
    s->Release();
    sub->Release();

    // Moved, renamed, destroyed.
    ASSERT_EQ(root->MoveElementTo(P(W("Contents")), other, P(W("Moved")), 0), S_OK);
    EXPECT_EQ(root->OpenStream(P(W("Contents")), nullptr, STGM_READ, 0, &s), STG_E_FILENOTFOUND);
    ASSERT_EQ(other->RenameElement(P(W("Moved")), P(W("Renamed"))), S_OK);
    ASSERT_EQ(other->OpenStream(P(W("Renamed")), nullptr, STGM_READ, 0, &s), S_OK);
    EXPECT_EQ(ReadAll(s), "state");
    s->Release();
    EXPECT_EQ(other->RenameElement(P(W("Renamed")), P(W("Sub"))), STG_E_FILEALREADYEXISTS);
    EXPECT_EQ(other->DestroyElement(P(W("Renamed"))), S_OK);
    EXPECT_EQ(other->DestroyElement(P(W("Renamed"))), STG_E_FILENOTFOUND);

    CLSID cls = {0x11, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    other->SetClass(cls);
    other->SetStateBits(0xF0, 0x30);
    other->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(stat.type, STGTY_STORAGE);
    EXPECT_TRUE(stat.clsid == cls);
    EXPECT_EQ(stat.grfStateBits, 0x30u);
    other->Release();
    root->Release();
}

TEST(Gdi, MemoryDeviceContextsDrawIntoTheirDibSection)
{
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), 30, -20, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP b = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    ASSERT_NE(b, nullptr);
    ASSERT_NE(bits, nullptr);
    EXPECT_EQ(static_cast<uint32_t*>(bits)[599], 0u);
    DIBSECTION ds;
    ASSERT_EQ(GetObject(b, sizeof ds, &ds), (int)sizeof ds);
    EXPECT_EQ(ds.dsBm.bmWidth, 30);
    EXPECT_EQ(ds.dsBm.bmHeight, 20);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, 120);
    EXPECT_EQ(ds.dsBm.bmBits, bits);
    EXPECT_EQ(ds.dsBmih.biHeight, -20);
    BITMAP bm;
    EXPECT_EQ(GetObject(b, sizeof bm, &bm), (int)sizeof bm);
    EXPECT_EQ(GetObject(b, 3, &bm), 0);

    HDC dc = CreateCompatibleDC(nullptr), other = CreateCompatibleDC(nullptr);
    HGDIOBJ stock = GetCurrentObject(dc, OBJ_BITMAP);
    ASSERT_NE(stock, nullptr);
    EXPECT_EQ(GetObject(stock, sizeof bm, &bm), (int)sizeof bm);
    EXPECT_EQ(bm.bmWidth, 1);
    EXPECT_EQ(SelectObject(dc, b), stock);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), b);
    EXPECT_EQ(GetDeviceCaps(dc, HORZRES), 30);
    EXPECT_EQ(GetDeviceCaps(dc, LOGPIXELSY), 96);
    EXPECT_EQ(SelectObject(other, b), nullptr); // one device context at a time
    EXPECT_FALSE(DeleteObject(b));              // not while selected
    EXPECT_EQ(SelectObject(dc, stock), b);
    EXPECT_TRUE(DeleteObject(b));
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_TRUE(DeleteDC(other));

    // Only 32-bit uncompressed bitmaps of a sane size.
    struct Case {
        const char* what;
        LONG w, h;
        WORD bits;
        DWORD compression;
    } refused[] = {{"24 bits", 10, 10, 24, BI_RGB},
                   {"compressed", 10, 10, 32, 3},
                   {"no width", 0, 10, 32, BI_RGB},
                   {"too tall", 10, 20000, 32, BI_RGB}};
    for (const Case& c : refused) {
        info.bmiHeader = {sizeof(BITMAPINFOHEADER), c.w, c.h, 1, c.bits, c.compression, 0, 0, 0, 0, 0};
        EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr) << c.what;
        EXPECT_EQ(bits, nullptr) << c.what;
    }
    int notAnObject = 0;
    EXPECT_EQ(SelectObject(&notAnObject, &notAnObject), nullptr);
    EXPECT_FALSE(DeleteDC(&notAnObject));
}

TEST(Gdi, GlobalBlocksAndTheMediaThatCarryThem)
{
    HGLOBAL g = GlobalAlloc(GHND, 16);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(GlobalSize(g), 16u);
    auto* p = static_cast<BYTE*>(GlobalLock(g));
    EXPECT_EQ(p[15], 0); // zeroed
    EXPECT_EQ(GlobalLock(g), p);
    EXPECT_TRUE(GlobalUnlock(g));                            // still locked once
    EXPECT_EQ(GlobalReAlloc(g, 64, GMEM_ZEROINIT), nullptr); // not while locked
    EXPECT_FALSE(GlobalUnlock(g));
    ASSERT_EQ(GlobalReAlloc(g, 64, GMEM_ZEROINIT), g);
    EXPECT_EQ(GlobalSize(g), 64u);
    EXPECT_EQ(static_cast<BYTE*>(GlobalLock(g))[63], 0);
    GlobalUnlock(g);
    int notABlock = 0;
    EXPECT_EQ(GlobalSize(&notABlock), 0u);
    EXPECT_EQ(GlobalFree(&notABlock), (HGLOBAL)&notABlock);

    STGMEDIUM m = {};
    m.tymed = TYMED_HGLOBAL;
    m.hGlobal = g;
    ReleaseStgMedium(&m); // frees the block (the leak check sees it otherwise)
    EXPECT_EQ(m.tymed, TYMED_NULL);
    EXPECT_EQ(m.hGlobal, nullptr);
    // A medium with an owner goes back to the owner instead.
    struct Owner : IUnknown {
        int releases = 0;
        HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
        ULONG AddRef() override { return 2; }
        ULONG Release() override { return (ULONG)++releases; }
    } owner;
    HGLOBAL kept = GlobalAlloc(GMEM_MOVEABLE, 8);
    m.tymed = TYMED_HGLOBAL;
    m.hGlobal = kept;
    m.pUnkForRelease = &owner;
    ReleaseStgMedium(&m);
    EXPECT_EQ(owner.releases, 1);
    EXPECT_EQ(GlobalSize(kept), 8u);
    GlobalFree(kept);
}

// --- The OLE registry readers ------------------------------------------------------------

class OleRegistry : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = std::filesystem::temp_directory_path() / ("tavlin-olereg-" + std::to_string(getpid()));
        std::filesystem::remove_all(dir);
        setenv("TAVLIN_REGISTRY", (dir / "registry").c_str(), 1);
        key = "CLSID\\" + Guid_ToText(kClass);
        Registry_SetText(HKEY_CLASSES_ROOT, key.c_str(), "", "Sample Control");
    }
    void TearDown() override
    {
        unsetenv("TAVLIN_REGISTRY");
        std::filesystem::remove_all(dir);
    }
    void Set(const std::string& sub, const char* value)
    {
        Registry_SetText(HKEY_CLASSES_ROOT, (key + "\\" + sub).c_str(), "", value);
    }
    static constexpr CLSID kClass = {0x1234ABCD, 0x1111, 0x2222, {1, 2, 3, 4, 5, 6, 7, 8}};
    std::filesystem::path dir;
    std::string key;
};

TEST_F(OleRegistry, MiscStatusPerAspectElseTheClasssOwn)
{
    DWORD status = 7;
    EXPECT_EQ(OleRegGetMiscStatus(kClass, 1, &status), S_OK);
    EXPECT_EQ(status, 0u); // nothing registered: no flags
    Set("MiscStatus", "16");
    Set("MiscStatus\\1", "131473");
    EXPECT_EQ(OleRegGetMiscStatus(kClass, 1, &status), S_OK);
    EXPECT_EQ(status, 131473u);
    EXPECT_EQ(OleRegGetMiscStatus(kClass, 4, &status), S_OK);
    EXPECT_EQ(status, 16u);
    Set("MiscStatus\\1", "13x");
    EXPECT_TRUE(FAILED(OleRegGetMiscStatus(kClass, 1, &status)));
    const CLSID unknown = {9, 9, 9, {9, 9, 9, 9, 9, 9, 9, 9}};
    EXPECT_EQ(OleRegGetMiscStatus(unknown, 1, &status), REGDB_E_CLASSNOTREG);
}

TEST_F(OleRegistry, VerbsInOrderOfTheirNumbersLeavingOutWhatDoesNotParse)
{
    IEnumOLEVERB* e = nullptr;
    EXPECT_EQ(OleRegEnumVerbs(kClass, &e), OLEOBJ_E_NOVERBS);
    Set("Verb\\1", "&Edit, with commas,0,2");
    Set("Verb\\0", "Properties,0,2");
    Set("Verb\\-3", "Hide,1,0");
    Set("Verb\\2", "Broken,x,2");
    Set("Verb\\3", "NoFlags");
    Set("Verb\\x", "NotANumber,0,0");
    ASSERT_EQ(OleRegEnumVerbs(kClass, &e), S_OK);
    std::vector<std::string> got;
    OLEVERB v;
    ULONG n = 0;
    while (e->Next(1, &v, &n) == S_OK) {
        got.push_back(std::to_string(v.lVerb) + ":" + Wide_ToText(v.lpszVerbName) + ":" + std::to_string(v.fuFlags) +
                      ":" + std::to_string(v.grfAttribs));
        CoTaskMemFree(v.lpszVerbName);
    }
    e->Release();
    EXPECT_EQ(got, std::vector<std::string>({"-3:Hide:1:0", "0:Properties:0:2", "1:&Edit, with commas:0:2"}));
    LPOLESTR type = nullptr;
    ASSERT_EQ(OleRegGetUserType(kClass, USERCLASSTYPE_SHORT, &type), S_OK);
    EXPECT_EQ(Wide_ToText(type), "Sample Control");
    CoTaskMemFree(type);
}

} // namespace
