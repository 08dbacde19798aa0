// A second container, written apart from tavlin-host, that embeds the
// server the registry names in another order than the host: the client
// site first, then IPersistStreamInit::InitNew and Load from the stream an
// earlier instance saved, DoVerb(OLEIVERB_SHOW) without an in-place site,
// and the picture through IViewObject::Draw. Against dvr-sim it shows the
// recorder's live video, the picture the form itself and tavlin-host show.
// And the library's unloading: when DllCanUnloadNow says S_OK the library
// goes and the process runs on; while the form runs it says S_FALSE.
// Each control gets a process of its own (one viewer per process).
#include "platform/com/Com.h"
#include "platform/vcl/Forms.h"
#include "platform/vcl/Vcl.h"
#include "platform/win/Gdi.h"
#include "platform/win/Library.h"
#include "tests/support/HostPage.h"
#include "tests/support/ShownPattern.h"
#include "tests/support/SimProcess.h"
#include "tests/support/Wait.h"
#include <gtest/gtest.h>

#include <QImage>
#include <QWidget>
#include <dlfcn.h>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace {

// --- The container's own pieces -------------------------------------------------------

// The server of the class, as the registry names it.
struct TServer {
    std::string path;
    HMODULE lib = nullptr;
    TDllGetClassObject getClassObject = nullptr;
    TDllCanUnloadNow canUnloadNow = nullptr;

    bool Load()
    {
        std::string key = std::string("CLSID\\") + kTavlinClassId + "\\InprocServer32";
        if (Registry_GetText(HKEY_CLASSES_ROOT, key.c_str(), "", &path) != ERROR_SUCCESS) return false;
        lib = LoadLibrary(path.c_str());
        if (!lib) return false;
        getClassObject = (TDllGetClassObject)GetProcAddress(lib, "DllGetClassObject");
        canUnloadNow = (TDllCanUnloadNow)GetProcAddress(lib, "DllCanUnloadNow");
        return getClassObject && canUnloadNow;
    }
    // The object of the class, as iid.
    void* Create(REFIID iid)
    {
        CLSID clsid;
        IClassFactory* factory = nullptr;
        if (!Guid_FromText(kTavlinClassId, &clsid) ||
            FAILED(getClassObject(clsid, IID_IClassFactory, (void**)&factory)))
            return nullptr;
        void* object = nullptr;
        factory->CreateInstance(nullptr, iid, &object);
        factory->Release();
        return object;
    }
    // Whether the library is still mapped into the process.
    bool Mapped() const
    {
        void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (h) dlclose(h);
        return h != nullptr;
    }
};

// The least a site can be: a client site that is told of view changes.
// It offers no in-place activation and no ambient properties.
class TMinimalSite : public IOleClientSite, public IAdviseSink {
public:
    int viewChanges = 0, windowsShown = 0;
    HRESULT QueryInterface(REFIID riid, void** ppv) override
    {
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IOleClientSite) *ppv = static_cast<IOleClientSite*>(this);
        else if (riid == IID_IAdviseSink) *ppv = static_cast<IAdviseSink*>(this);
        return *ppv ? S_OK : E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }
    HRESULT SaveObject() override { return S_OK; }
    HRESULT GetMoniker(DWORD, DWORD, IMoniker** m) override
    {
        *m = nullptr;
        return E_NOTIMPL;
    }
    HRESULT GetContainer(IOleContainer** c) override
    {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT ShowObject() override { return S_OK; }
    HRESULT OnShowWindow(BOOL show) override
    {
        windowsShown += show ? 1 : -1;
        return S_OK;
    }
    HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }
    void OnDataChange(FORMATETC*, STGMEDIUM*) override {}
    void OnViewChange(DWORD, LONG) override { viewChanges++; }
    void OnRename(IMoniker*) override {}
    void OnSave() override {}
    void OnClose() override {}
};

// A property put the way a page's script makes it.
HRESULT PutByName(IDispatch* d, const char* name, const std::string& text)
{
    std::u16string w = Wide_FromText(name);
    LPOLESTR names[] = {(LPOLESTR)w.c_str()};
    DISPID id = 0;
    HRESULT hr = d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return hr;
    VARIANT v;
    VariantInit(&v);
    Variant_SetText(&v, text);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS put = {&v, &named, 1, 1};
    hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, &put, nullptr, nullptr, nullptr);
    VariantClear(&v);
    return hr;
}

// The picture the control draws of itself, in a bitmap of its extent.
struct TDrawn {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels; // 0x00RRGGBB, top row first
    uint32_t At(int x, int y) const { return pixels[(size_t)y * width + x] & 0xFFFFFF; }
};

HRESULT DrawControl(IViewObject2* view, TDrawn* out)
{
    SIZEL extent;
    HRESULT hr = view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &extent);
    if (FAILED(hr)) return hr;
    out->width = (int)((extent.cx * 96 + 1270) / 2540);
    out->height = (int)((extent.cy * 96 + 1270) / 2540);
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), out->width, -out->height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return E_OUTOFMEMORY;
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, bitmap);
    RECTL bounds = {0, 0, out->width, out->height};
    hr = view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr, nullptr, 0);
    const uint32_t* p = static_cast<const uint32_t*>(bits);
    out->pixels.assign(p, p + (size_t)out->width * out->height);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
    return hr;
}

// Most of the video area shows something other than black.
bool VideoShowing(const TDrawn& d)
{
    int lit = 0, seen = 0;
    for (int y = kImageTop + 60; y < kImageTop + kImageHeight; y += 16)
        for (int x = kImageLeft; x < kImageLeft + kImageWidth; x += 16, seen++) lit += d.At(x, y) != 0;
    return lit * 10 > seen * 9;
}

// The time label over the video and the video itself change from moment
// to moment; the rest of the form does not.
bool Moving(int x, int y)
{
    bool inColumn = x >= kImageLeft && x < kImageLeft + kImageWidth;
    return inColumn && ((y >= 24 && y < 37) || (y >= kImageTop && y < kImageTop + kImageHeight));
}

// Ends a process a death test started: the failures of its checks on
// standard error (which the test shows), exit code 1 when there were any.
[[noreturn]] void ExitWithResults()
{
    const ::testing::TestResult* r = ::testing::UnitTest::GetInstance()->current_test_info()->result();
    for (int i = 0; i < r->total_part_count(); i++) {
        const ::testing::TestPartResult& part = r->GetTestPartResult(i);
        if (part.failed())
            fprintf(stderr, "%s:%d: %s\n", part.file_name() ? part.file_name() : "?", part.line_number(),
                    part.summary());
    }
    fflush(stderr);
    _exit(r->Failed() ? 1 : 0); // the viewer's state lives until the process ends
}

void StartQt()
{
    static int argc = 1;
    static char name[] = "control_container_test";
    static char* argv[] = {name, nullptr};
    Application_Initialize(argc, argv);
}

class Container : public ::testing::Test {
protected:
    void SetUp() override
    {
        setenv("systemroot", TAVLIN_WINROOT, 1);
        setenv("TAVLIN_SOUND", "null", 1);
        ASSERT_TRUE(RegisterControl());
    }
    HostFolder folder{"tavlin-container-test"};
};

// --- The earlier instance ----------------------------------------------------------------

// In a process of its own: the control as a page's script set it up,
// saved to a stream, the stream written to file. Exits 0 when done.
void SaveEarlierInstance(const std::string& file, unsigned port)
{
    StartQt();
    TServer server;
    if (!server.Load()) _exit(10);
    auto* d = static_cast<IDispatch*>(server.Create(IID_IDispatch));
    if (!d) _exit(11);
    if (FAILED(PutByName(d, "DVRIP", "127.0.0.1")) || FAILED(PutByName(d, "HTTP_PORT", std::to_string(port))) ||
        FAILED(PutByName(d, "DVR_UK", "5F3A1B2C.1234.5678")))
        _exit(12);
    IPersistStreamInit* persist = nullptr;
    IStream* stream = nullptr;
    if (FAILED(d->QueryInterface(IID_IPersistStreamInit, (void**)&persist)) ||
        FAILED(CreateStreamOnHGlobal(nullptr, TRUE, &stream)) || FAILED(persist->Save(stream, TRUE)))
        _exit(13);
    HGLOBAL block = nullptr;
    STATSTG stat;
    GetHGlobalFromStream(stream, &block);
    stream->Stat(&stat, STATFLAG_NONAME);
    FILE* f = fopen(file.c_str(), "wb");
    if (!f || fwrite(GlobalLock(block), 1, (size_t)stat.cbSize.QuadPart, f) != stat.cbSize.QuadPart || fclose(f))
        _exit(14);
    _exit(0); // the viewer's state lives until the process ends
}

void ContainerShows(const std::vector<uint8_t>& bytes, const QImage& host, const TPattern& hostPattern);

TEST_F(Container, LoadedFromAnEarlierInstancesStreamItShowsTheLiveVideoTheHostShows)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--gop", "1"}));
    const std::string saved = folder.Path("control.stream");
    EXPECT_EXIT(SaveEarlierInstance(saved, sim.port()), ::testing::ExitedWithCode(0), "");
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(ReadFile(saved, &bytes));
    ASSERT_GT(bytes.size(), 12u);

    // tavlin-host's picture of the same page, for the comparison below,
    // once it shows the video.
    const std::string page = folder.Path("page.html"), shot = folder.Path("host.png");
    ASSERT_TRUE(WritePage(page, sim.port()));
    std::string out;
    ASSERT_EQ(Shell(HostOnPage(page) + " --wait-video 60000 --screenshot '" + shot + "' --after-ms 0 2>&1", &out), 0)
        << out;
    QImage host(QString::fromStdString(shot));
    TPattern hostPattern{0, 0};
    ASSERT_EQ(host.width(), 1010);
    auto hostShown = [&](uint32_t x, uint32_t y) {
        return (uint32_t)host.pixel(kImageLeft + (int)x, kImageTop + (int)y) & 0xFFFFFF;
    };
    ASSERT_TRUE(FindShownPattern(hostShown, &hostPattern)) << "the host's screenshot shows no pattern";
    EXPECT_EXIT(
        {
            ContainerShows(bytes, host, hostPattern);
            ExitWithResults();
        },
        ::testing::ExitedWithCode(0), "");
}

// The container, in a process of its own, against the host's picture.
void ContainerShows(const std::vector<uint8_t>& bytes, const QImage& host, const TPattern& hostPattern)
{
    StartQt();
    TServer server;
    ASSERT_TRUE(server.Load()) << Win_LibraryError();
    auto* ole = static_cast<IOleObject*>(server.Create(IID_IOleObject));
    ASSERT_NE(ole, nullptr);
    TMinimalSite site;
    ASSERT_EQ(ole->SetClientSite(&site), S_OK);
    IPersistStreamInit* persist = nullptr;
    ASSERT_EQ(ole->QueryInterface(IID_IPersistStreamInit, (void**)&persist), S_OK);
    ASSERT_EQ(persist->InitNew(), S_OK);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    memcpy(GlobalLock(block), bytes.data(), bytes.size());
    GlobalUnlock(block);
    IStream* stream = nullptr;
    ASSERT_EQ(CreateStreamOnHGlobal(block, TRUE, &stream), S_OK);
    ASSERT_EQ(persist->Load(stream), S_OK);
    stream->Release();
    persist->Release();
    ASSERT_EQ(ole->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, nullptr, nullptr), S_OK);
    EXPECT_EQ(site.windowsShown, 1); // a window of its own: the site cannot take it in place
    IViewObject2* view = nullptr;
    ASSERT_EQ(ole->QueryInterface(IID_IViewObject2, (void**)&view), S_OK);
    ASSERT_EQ(view->SetAdvise(DVASPECT_CONTENT, 0, &site), S_OK);
    IOleWindow* window = nullptr;
    HWND hwnd = nullptr;
    ASSERT_EQ(ole->QueryInterface(IID_IOleWindow, (void**)&window), S_OK);
    ASSERT_EQ(window->GetWindow(&hwnd), S_OK);
    window->Release();

    // Drawn again whenever the control says its view changed, until it
    // shows the recorder's pattern.
    TDrawn drawn;
    TPattern pattern{0, 0};
    QImage own;
    int drawnAt = -1;
    bool found = Application_ProcessMessagesUntil(
        [&] {
            if (site.viewChanges == drawnAt) return false;
            drawnAt = site.viewChanges;
            if (FAILED(DrawControl(view, &drawn)) || !VideoShowing(drawn)) return false;
            auto shown = [&](uint32_t x, uint32_t y) { return drawn.At(kImageLeft + (int)x, kImageTop + (int)y); };
            if (!FindShownPattern(shown, &pattern)) return false;
            // The form's own picture at the same moment.
            own = static_cast<QWidget*>(hwnd)->grab().toImage().convertToFormat(QImage::Format_RGB32);
            return true;
        },
        60000);
    ASSERT_TRUE(found) << "the control never drew dvr-sim's video; view changes " << site.viewChanges;
    ASSERT_EQ(drawn.width, 1010);
    ASSERT_EQ(drawn.height, 656);
    EXPECT_EQ(pattern.channel, kSplitChannel) << "the start-up split is shown";
    auto shown = [&](uint32_t x, uint32_t y) { return drawn.At(kImageLeft + (int)x, kImageTop + (int)y); };
    TPatternMatch m = CompareWithPattern(shown, pattern);
    ASSERT_FALSE(m.bad) << "pixel " << m.x << "," << m.y << ": " << std::hex << m.got << " for " << m.want;
    EXPECT_GE(m.exact, m.compared * 99 / 100);

    // What it drew is what its window shows, pixel for pixel ...
    ASSERT_EQ(own.width(), drawn.width);
    int differ = 0;
    for (int y = 0; y < drawn.height; y++)
        for (int x = 0; x < drawn.width; x++) differ += drawn.At(x, y) != (own.pixel(x, y) & 0xFFFFFF);
    EXPECT_EQ(differ, 0) << "pixels of the drawing that the window does not show";
    // ... and, the moving parts aside, what the host showed: the same
    // channel's pattern in the video area, the rest alike.
    EXPECT_EQ(hostPattern.channel, pattern.channel);
    ASSERT_EQ(host.width(), drawn.width);
    ASSERT_EQ(host.height(), drawn.height);
    differ = 0;
    for (int y = 0; y < drawn.height; y++)
        for (int x = 0; x < drawn.width; x++)
            if (!Moving(x, y)) differ += drawn.At(x, y) != (host.pixel(x, y) & 0xFFFFFF);
    EXPECT_EQ(differ, 0) << "pixels outside the video and its time label differ from the host's";

    view->SetAdvise(DVASPECT_CONTENT, 0, nullptr);
    view->Release();
    ole->Close(OLECLOSE_NOSAVE);
    EXPECT_EQ(site.windowsShown, 0);
    ole->SetClientSite(nullptr);
    ole->Release();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
}

// --- Unloading ---------------------------------------------------------------------------

// Runs the event loop until ticks of a timer of its own have fired.
bool RunsOn(int ticks)
{
    TTimer timer(nullptr);
    int fired = 0;
    timer.SetInterval(5);
    timer.OnTimer = [&](TObject*) { fired++; };
    timer.SetEnabled(true);
    return Application_ProcessMessagesUntil([&] { return fired >= ticks; }, kWaitLimitMs);
}

void UnloadBeforeAnyControl()
{
    StartQt();
    TServer server;
    if (!server.Load()) _exit(10);
    if (server.canUnloadNow() != S_OK) _exit(11); // nothing made yet
    // A class object held, or the server locked, keeps it.
    CLSID clsid;
    Guid_FromText(kTavlinClassId, &clsid);
    IClassFactory* factory = nullptr;
    if (FAILED(server.getClassObject(clsid, IID_IClassFactory, (void**)&factory))) _exit(12);
    factory->LockServer(TRUE);
    factory->Release();
    if (server.canUnloadNow() != S_FALSE) _exit(13);
    server.getClassObject(clsid, IID_IClassFactory, (void**)&factory);
    factory->LockServer(FALSE);
    factory->Release();
    if (server.canUnloadNow() != S_OK) _exit(14);
    if (!FreeLibrary(server.lib)) _exit(15);
    if (server.Mapped()) _exit(16);
    _exit(RunsOn(50) ? 0 : 17);
}

TEST_F(Container, TheLibraryUnloadsWhenItSaysSoAndTheProcessRunsOn)
{
    EXPECT_EXIT(UnloadBeforeAnyControl(), ::testing::ExitedWithCode(0), "");
}

// The control made, connected and released; asked, the library answers,
// and is unloaded when it says S_OK, as a host does. The process must run
// on while the form keeps talking to the recorder.
void ReleaseAskAndUnload(SimProcess* sim)
{
    StartQt();
    TServer server;
    if (!server.Load()) _exit(10);
    auto* persist = static_cast<IPersistPropertyBag*>(server.Create(IID_IPersistPropertyBag));
    if (!persist) _exit(11);
    auto* bag = new TComPropertyBag;
    bag->WriteText("DVRIP", "127.0.0.1");
    bag->WriteText("HTTP_PORT", std::to_string(sim->port()));
    bag->WriteText("DVR_UK", "5F3A1B2C.1234.5678");
    if (FAILED(persist->Load(bag, nullptr))) _exit(12);
    bag->Release();
    auto polls = [&] {
        sim->Collect(0);
        return sim->Count("poll session=");
    };
    if (!Application_ProcessMessagesUntil([&] { return polls() >= 5; }, kWaitLimitMs)) _exit(13);
    persist->Release();
    HRESULT hr = server.canUnloadNow();
    if (hr == S_OK) FreeLibrary(server.lib);
    size_t seen = polls();
    if (!Application_ProcessMessagesUntil([&] { return polls() >= seen + 10; }, kWaitLimitMs)) _exit(14);
    if (!RunsOn(50)) _exit(15);
    _exit(hr == S_FALSE && server.Mapped() ? 0 : 16);
}

TEST_F(Container, AfterTheLastReleaseTheRunningFormKeepsTheLibraryLoaded)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--trace"}));
    EXPECT_EXIT(ReleaseAskAndUnload(&sim), ::testing::ExitedWithCode(0), "");
}

// The sound of the recorder while a control lives, and after: asked
// whether the library may go while the control is in use, the sound plays
// on; asked once the last object is gone, it stops (the sound device lets
// go of its output).
bool CaptureOpen(const std::string& path)
{
    for (const auto& e : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (std::filesystem::read_symlink(e.path(), ec) == path) return true;
    }
    return false;
}

size_t HeardBytes(const std::string& path)
{
    std::vector<uint8_t> all;
    if (!ReadFile(path, &all)) return 0;
    size_t heard = 0;
    for (uint8_t b : all) heard += b != 0x80;
    return heard;
}

void SoundWhileInUseAndAfter(SimProcess* sim, const std::string& capture)
{
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", capture.c_str(), 1);
    setenv("TAVLIN_SOUND", "sdl", 1);
    StartQt();
    TServer server;
    ASSERT_TRUE(server.Load());
    auto* ole = static_cast<IOleObject*>(server.Create(IID_IOleObject));
    ASSERT_NE(ole, nullptr);
    TMinimalSite site;
    ole->SetClientSite(&site);
    IPersistPropertyBag* persist = nullptr;
    ole->QueryInterface(IID_IPersistPropertyBag, (void**)&persist);
    auto* bag = new TComPropertyBag;
    bag->WriteText("DVRIP", "127.0.0.1");
    bag->WriteText("HTTP_PORT", std::to_string(sim->port()));
    bag->WriteText("DVR_UK", "5F3A1B2C.1234.5678");
    ASSERT_EQ(persist->Load(bag, nullptr), S_OK);
    bag->Release();
    persist->Release();
    ASSERT_EQ(ole->DoVerb(OLEIVERB_SHOW, nullptr, &site, 0, nullptr, nullptr), S_OK);
    IViewObject2* view = nullptr;
    ole->QueryInterface(IID_IViewObject2, (void**)&view);
    IOleWindow* window = nullptr;
    HWND hwnd = nullptr;
    ole->QueryInterface(IID_IOleWindow, (void**)&window);
    window->GetWindow(&hwnd);
    window->Release();
    TDrawn drawn;
    auto showsChannel = [&](uint32_t channel) {
        TPattern p{0, 0};
        auto shown = [&](uint32_t x, uint32_t y) { return drawn.At(kImageLeft + (int)x, kImageTop + (int)y); };
        return SUCCEEDED(DrawControl(view, &drawn)) && VideoShowing(drawn) && FindShownPattern(shown, &p) &&
               p.channel == channel;
    };
    // Channel 1 alone (its button on the key panel), the pointer over its
    // picture until the speaker icon shows, then the icon clicked.
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return showsChannel(kSplitChannel); }, kWaitLimitMs));
    ASSERT_EQ(Vcl_ClickAt(hwnd, 705, 97), 0);
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return showsChannel(0); }, kWaitLimitMs));
    auto icon = [&] {
        DrawControl(view, &drawn);
        std::vector<uint32_t> px;
        for (int y = 59; y < 83; y++)
            for (int x = 618; x < 642; x++) px.push_back(drawn.At(x, y));
        return px;
    };
    const std::vector<uint32_t> without = icon();
    int step = 0;
    ASSERT_TRUE(Application_ProcessMessagesUntil(
        [&] {
            Vcl_MouseAt(hwnd, vmaMove, mbLeft, 330 + (step++ % 8), 240);
            return icon() != without;
        },
        kWaitLimitMs));
    ASSERT_EQ(Vcl_ClickAt(hwnd, 630, 71), 0);
    ASSERT_TRUE(Application_ProcessMessagesUntil([&] { return HeardBytes(capture) > 800; }, kWaitLimitMs))
        << "no sound captured";

    // Asked while the control is in use: the sound plays on.
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
    const size_t heard = HeardBytes(capture);
    EXPECT_TRUE(Application_ProcessMessagesUntil([&] { return HeardBytes(capture) > heard + 4000; }, kWaitLimitMs))
        << "the sound stopped while the control was in use";

    // The last object gone and the library asked: the sound stops.
    view->Release();
    ole->Close(OLECLOSE_NOSAVE);
    ole->SetClientSite(nullptr);
    ole->Release();
    EXPECT_TRUE(CaptureOpen(capture));
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);
    EXPECT_TRUE(Application_ProcessMessagesUntil([&] { return !CaptureOpen(capture); }, kWaitLimitMs))
        << "the sound device still writes";
}

TEST_F(Container, TheSoundPlaysOnWhileTheControlIsInUseAndStopsWhenItIsGone)
{
    SimProcess sim;
    ASSERT_TRUE(sim.Start({"--port", "0", "--tone", "1000"}));
    const std::string capture = folder.Path("capture.raw");
    EXPECT_EXIT(
        {
            SoundWhileInUseAndAfter(&sim, capture);
            ExitWithResults();
        },
        ::testing::ExitedWithCode(0), "");
}

} // namespace
