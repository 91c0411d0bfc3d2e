// A form that holds the control the way ActiveX containers do, knowing only
// its class id: sited with a client site, in-place site and frame of its
// own, activated in place, sized by SetObjectRects, driven through IDispatch
// by name. It downloads from a port and shows the grid, taking pictures of
// its window (BMP) on the way.
//
//   form_container PORT DATAFILE SHOTS ARMED
//
// SHOTS is a folder for the pictures; ARMED is made once Start has opened
// the port (the test presses the meter's SEND then). Prints what it saw;
// exit status 0 when every check held.
#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kClassId[] = L"{94f05123-1118-4727-a5cc-8811292fd330}";
constexpr wchar_t kEventsId[] = L"{e25949a9-084b-4171-a448-75529315564a}";
// The design area, 6915 x 2775 twips.
constexpr LONG kWidthHimetric = 12198;
constexpr LONG kHeightHimetric = 4895;
constexpr DWORD kMiscStatus = 131473;
constexpr int kMargin = 8;
constexpr ULONGLONG kHangGuardMs = 180000;

int failures = 0;

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
    va_list args;
    va_start(args, format);
    std::vfprintf(stdout, format, args);
    va_end(args);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void check(bool condition, const char* what) {
    say("%s: %s", condition ? "ok" : "FAILED", what);
    if (!condition) ++failures;
}

std::wstring wide(const char* s) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, s, -1, nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, s, -1, w.data(), n);
    w.resize(static_cast<std::size_t>(n - 1));
    return w;
}

// A picture of part of a device context, as 24-bit rows bottom up.
struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> bits;

    int stride() const { return (width * 3 + 3) / 4 * 4; }
    COLORREF at(int x, int y) const {
        const unsigned char* p =
            &bits[static_cast<std::size_t>((height - 1 - y) * stride() + x * 3)];
        return RGB(p[2], p[1], p[0]);
    }
    bool save(const std::string& path) const {
        std::FILE* f = std::fopen(path.c_str(), "wb");
        if (f == nullptr) return false;
        BITMAPFILEHEADER file{};
        BITMAPINFOHEADER info{};
        info.biSize = sizeof info;
        info.biWidth = width;
        info.biHeight = height;
        info.biPlanes = 1;
        info.biBitCount = 24;
        info.biSizeImage = static_cast<DWORD>(bits.size());
        file.bfType = 0x4D42;
        file.bfOffBits = sizeof file + sizeof info;
        file.bfSize = file.bfOffBits + info.biSizeImage;
        const bool ok = std::fwrite(&file, sizeof file, 1, f) == 1 &&
                        std::fwrite(&info, sizeof info, 1, f) == 1 &&
                        std::fwrite(bits.data(), 1, bits.size(), f) == bits.size();
        return std::fclose(f) == 0 && ok;
    }
};

// Runs `paint` on a memory device context of width x height and keeps what
// it drew.
template <class Paint>
Picture paintInto(int width, int height, Paint&& paint) {
    Picture picture;
    picture.width = width;
    picture.height = height;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    const HDC screen = ::GetDC(nullptr);
    const HDC memory = ::CreateCompatibleDC(screen);
    const HBITMAP bitmap = ::CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const HGDIOBJ old = ::SelectObject(memory, bitmap);
    paint(memory);
    ::GdiFlush();
    const auto* p = static_cast<const unsigned char*>(bits);
    picture.bits.assign(p, p + static_cast<std::size_t>(picture.stride() * height));
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
    return picture;
}

// What the window shows on the screen now, its children included.
Picture capture(HWND window) {
    ::RedrawWindow(window, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    RECT client;
    ::GetClientRect(window, &client);
    const HDC dc = ::GetDC(window);
    Picture p = paintInto(client.right, client.bottom, [&](HDC memory) {
        ::BitBlt(memory, 0, 0, client.right, client.bottom, dc, 0, 0, SRCCOPY);
    });
    ::ReleaseDC(window, dc);
    return p;
}

// The client site, in-place site and frame of the form's one control, and
// the sink of its events (it has none).
class Site final : public IOleClientSite,
                   public IOleInPlaceSite,
                   public IOleInPlaceFrame,
                   public IDispatch {
  public:
    HWND form = nullptr;
    RECT position{};
    IOleInPlaceObject* inPlace = nullptr;
    bool activated = false;
    bool uiActivated = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (iid == IID_IUnknown || iid == IID_IOleClientSite) {
            *object = static_cast<IOleClientSite*>(this);
        } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceSite) {
            *object = static_cast<IOleInPlaceSite*>(this);
        } else if (iid == IID_IOleInPlaceUIWindow || iid == IID_IOleInPlaceFrame) {
            *object = static_cast<IOleInPlaceFrame*>(this);
        } else if (iid == IID_IDispatch || iid == events()) {
            *object = static_cast<IDispatch*>(this);
        } else {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        return S_OK;
    }
    // Lives as long as the program.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** m) override {
        *m = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** c) override {
        *c = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* w) override {
        *w = form;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override {
        activated = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override {
        uiActivated = true;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** doc,
                                               LPRECT pos, LPRECT clip,
                                               LPOLEINPLACEFRAMEINFO info) override {
        *frame = this;
        *doc = nullptr;
        *pos = position;
        *clip = position;
        info->fMDIApp = FALSE;
        info->hwndFrame = form;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override {
        uiActivated = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override {
        activated = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT rect) override {
        position = *rect;
        if (inPlace != nullptr) inPlace->SetObjectRects(&position, &position);
        return S_OK;
    }

    // IOleInPlaceUIWindow, IOleInPlaceFrame: no tools, no menus.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override {
        return INPLACE_E_NOTOOLSPACE;
    }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override {
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDispatch: the event sink; no ambient properties either.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
        *info = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return DISP_E_UNKNOWNNAME;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return DISP_E_MEMBERNOTFOUND;
    }

    static IID events() {
        IID iid;
        ::IIDFromString(kEventsId, &iid);
        return iid;
    }
};

Site site;

// The control's members by name, as a container's code calls them.
class Control {
  public:
    explicit Control(IDispatch* d) : dispatch_(d) {}

    HRESULT invoke(const wchar_t* name, WORD flags, std::vector<VARIANT> args, VARIANT* result) {
        DISPID id = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        HRESULT hr = dispatch_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
        if (FAILED(hr)) return hr;
        DISPID put = DISPID_PROPERTYPUT;
        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        if (flags == DISPATCH_PROPERTYPUT) {
            params.rgdispidNamedArgs = &put;
            params.cNamedArgs = 1;
        }
        EXCEPINFO exception{};
        UINT bad = 0;
        hr = dispatch_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result,
                               &exception, &bad);
        if (hr == DISP_E_EXCEPTION) {
            say("%ls raised %08lx: %ls", name, static_cast<unsigned long>(exception.scode),
                exception.bstrDescription != nullptr ? exception.bstrDescription : L"");
        }
        ::SysFreeString(exception.bstrSource);
        ::SysFreeString(exception.bstrDescription);
        ::SysFreeString(exception.bstrHelpFile);
        return hr;
    }
    HRESULT put(const wchar_t* name, VARIANT value) {
        return invoke(name, DISPATCH_PROPERTYPUT, {value}, nullptr);
    }
    long getLong(const wchar_t* name) {
        VARIANT v;
        ::VariantInit(&v);
        if (FAILED(invoke(name, DISPATCH_PROPERTYGET, {}, &v)) ||
            FAILED(::VariantChangeType(&v, &v, 0, VT_I4))) {
            return -1;
        }
        return v.lVal;
    }
    HRESULT call(const wchar_t* name) {
        VARIANT v;
        ::VariantInit(&v);
        const HRESULT hr = invoke(name, DISPATCH_METHOD, {}, &v);
        ::VariantClear(&v);
        return hr;
    }
    // Read_Status(FrameCount) with the count by reference: 1 once the
    // transfer has ended.
    long readStatus(long& frames) {
        LONG count = 0;
        VARIANT arg;
        arg.vt = VT_I4 | VT_BYREF;
        arg.plVal = &count;
        VARIANT v;
        ::VariantInit(&v);
        if (FAILED(invoke(L"Read_Status", DISPATCH_METHOD, {arg}, &v)) ||
            FAILED(::VariantChangeType(&v, &v, 0, VT_I4))) {
            return -1;
        }
        frames = count;
        return v.lVal;
    }

  private:
    IDispatch* dispatch_;
};

// The indicator's square as the control draws it at 96 dpi: {120, 2160,
// 255, 255} twips from the control's corner.
COLORREF indicatorColour(const Picture& form) {
    return form.at(site.position.left + 16, site.position.top + 152);
}

// Boxes the control showed, and whether the form owned them.
struct Box {
    std::wstring text;
    bool ownedByForm;
};
std::vector<Box> boxes;

// A box's message: its static text (id 0xFFFF).
BOOL CALLBACK boxText(HWND child, LPARAM out) {
    wchar_t s[512] = {};
    ::GetWindowTextW(child, s, 512);
    if (::GetDlgCtrlID(child) == 0xFFFF && s[0] != 0) {
        ::lstrcpynW(reinterpret_cast<wchar_t*>(out), s, 512);
        return FALSE;
    }
    return TRUE;
}

// Each box the control shows is noted and closed, so that none waits for a
// person.
BOOL CALLBACK closeBox(HWND window, LPARAM) {
    wchar_t name[16] = {};
    ::GetClassNameW(window, name, 16);
    if (::lstrcmpW(name, L"#32770") != 0 || !::IsWindowVisible(window)) return TRUE;
    wchar_t text[512] = {};
    ::EnumChildWindows(window, boxText, reinterpret_cast<LPARAM>(text));
    const bool owned = ::GetWindow(window, GW_OWNER) == site.form;
    say("message box, owned by the form: %s: %ls", owned ? "yes" : "no", text);
    boxes.push_back({text, owned});
    ::PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

LRESULT CALLBACK formProcedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    switch (message) {
        case WM_SIZE:
            if (site.inPlace != nullptr) {
                // The control takes the form's width.
                site.position.right = std::max<LONG>(site.position.left + 1, LOWORD(l) - kMargin);
                site.inPlace->SetObjectRects(&site.position, &site.position);
            }
            return 0;
        case WM_TIMER:
            ::EnumThreadWindows(::GetCurrentThreadId(), closeBox, 0);
            return 0;
        default:
            return ::DefWindowProcW(window, message, w, l);
    }
}

// Handles the thread's messages until `done` or the hang guard.
template <class Done>
bool pumpUntil(Done&& done) {
    const ULONGLONG end = ::GetTickCount64() + kHangGuardMs;
    while (!done()) {
        if (::GetTickCount64() > end) return false;
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
    return true;
}

void pumpPending() {
    MSG msg;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
}

int differingPixels(const Picture& a, const Picture& b, int left, int top) {
    int n = 0;
    for (int y = 0; y < b.height; ++y) {
        for (int x = 0; x < b.width; ++x) n += a.at(left + x, top + y) != b.at(x, y);
    }
    return n;
}

struct Grid {
    HWND window = nullptr;
};

BOOL CALLBACK findGrid(HWND window, LPARAM out) {
    if (::GetWindow(window, GW_OWNER) == site.form && ::IsWindowVisible(window)) {
        wchar_t name[16] = {};
        ::GetClassNameW(window, name, 16);
        if (::lstrcmpW(name, L"#32770") != 0) {
            reinterpret_cast<Grid*>(out)->window = window;
            return FALSE;
        }
    }
    return TRUE;
}

// The picture a toolbox shows for the control, as containers find it: the
// resource ToolboxBitmap32 names, "FILE, ID".
HBITMAP toolboxBitmap() {
    const std::wstring key = std::wstring(L"CLSID\\") + kClassId + L"\\ToolboxBitmap32";
    wchar_t value[MAX_PATH + 16] = {};
    DWORD size = sizeof value - sizeof(wchar_t);
    if (::RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value,
                       &size) != ERROR_SUCCESS) {
        return nullptr;
    }
    std::wstring text = value;
    const std::size_t comma = text.rfind(L',');
    if (comma == std::wstring::npos) return nullptr;
    const int id = _wtoi(text.c_str() + comma + 1);
    text.resize(comma);
    const HMODULE module = ::LoadLibraryExW(text.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) return nullptr;
    auto* bitmap = static_cast<HBITMAP>(
        ::LoadImageW(module, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    ::FreeLibrary(module);
    return bitmap;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: form_container PORT DATAFILE SHOTS ARMED\n");
        return 64;
    }
    const short port = static_cast<short>(std::atoi(argv[1]));
    const std::wstring dataFile = wide(argv[2]);
    const std::string shots = std::string(argv[3]) + "\\";
    const std::string armed = argv[4];

    if (FAILED(::OleInitialize(nullptr))) return 1;
    WNDCLASSW c{};
    c.lpfnWndProc = formProcedure;
    c.hInstance = ::GetModuleHandleW(nullptr);
    c.hbrBackground = ::GetSysColorBrush(COLOR_BTNFACE);
    c.lpszClassName = L"FormContainer";
    ::RegisterClassW(&c);

    const HDC screen = ::GetDC(nullptr);
    const int dpiX = ::GetDeviceCaps(screen, LOGPIXELSX);
    const int dpiY = ::GetDeviceCaps(screen, LOGPIXELSY);
    ::ReleaseDC(nullptr, screen);

    const HBITMAP toolbox = toolboxBitmap();
    BITMAP b{};
    check(toolbox != nullptr && ::GetObjectW(toolbox, sizeof b, &b) == sizeof b &&
              b.bmWidth == 16 && b.bmHeight == 15,
          "the toolbox picture is 16 x 15");
    if (toolbox != nullptr) {
        paintInto(16, 15, [&](HDC dc) {
            const HDC source = ::CreateCompatibleDC(dc);
            const HGDIOBJ old = ::SelectObject(source, toolbox);
            ::BitBlt(dc, 0, 0, 16, 15, source, 0, 0, SRCCOPY);
            ::SelectObject(source, old);
            ::DeleteDC(source);
        }).save(shots + "toolbox.bmp");
        ::DeleteObject(toolbox);
    }

    CLSID clsid;
    ::CLSIDFromString(kClassId, &clsid);
    IOleObject* object = nullptr;
    HRESULT hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                    reinterpret_cast<void**>(&object));
    check(SUCCEEDED(hr), "CoCreateInstance by class id, for IOleObject");
    if (FAILED(hr)) return 1;

    // Quick activation, as some forms site a control in one call instead.
    {
        IQuickActivate* quick = nullptr;
        object->QueryInterface(IID_IQuickActivate, reinterpret_cast<void**>(&quick));
        QACONTAINER container{};
        container.cbSize = sizeof container;
        container.pClientSite = &site;
        container.pUnkEventSink = static_cast<IDispatch*>(&site);
        QACONTROL answer{};
        answer.cbSize = sizeof answer;
        IOleClientSite* given = nullptr;
        check(quick != nullptr && quick->QuickActivate(&container, &answer) == S_OK &&
                  answer.dwMiscStatus == kMiscStatus && answer.dwEventCookie != 0 &&
                  object->GetClientSite(&given) == S_OK && given == &site,
              "IQuickActivate: sited, its events connected, its MiscStatus told");
        if (quick != nullptr) quick->Release();
        // A form that quick-activates goes on from here as one that did not.
        object->SetClientSite(nullptr);
    }

    DWORD misc = 0;
    object->GetMiscStatus(DVASPECT_CONTENT, &misc);
    check(misc == kMiscStatus,
          "MiscStatus: recompose on resize, inside-out, active when visible, "
          "client site first");
    SIZEL extent{};
    object->GetExtent(DVASPECT_CONTENT, &extent);
    check(extent.cx == kWidthHimetric && extent.cy == kHeightHimetric,
          "the extent is the design area");

    const int width = MulDiv(extent.cx, dpiX, 2540);
    const int height = MulDiv(extent.cy, dpiY, 2540);
    RECT frame{0, 0, width + 2 * kMargin, height + 2 * kMargin};
    ::AdjustWindowRect(&frame, WS_OVERLAPPEDWINDOW, FALSE);
    site.form = ::CreateWindowExW(0, L"FormContainer", L"Form1", WS_OVERLAPPEDWINDOW, 0, 0,
                                  frame.right - frame.left, frame.bottom - frame.top, nullptr,
                                  nullptr, c.hInstance, nullptr);
    site.position = {kMargin, kMargin, kMargin + width, kMargin + height};

    // As a form does: the site first, then a new control, then in place.
    check(SUCCEEDED(object->SetClientSite(&site)), "SetClientSite");
    IPersistStreamInit* persist = nullptr;
    object->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&persist));
    check(persist != nullptr && persist->InitNew() == S_OK && persist->IsDirty() == S_FALSE,
          "IPersistStreamInit: InitNew, and nothing to save");
    if (persist != nullptr) persist->Release();
    object->SetExtent(DVASPECT_CONTENT, &extent);

    IProvideClassInfo2* classInfo = nullptr;
    GUID source{};
    object->QueryInterface(IID_IProvideClassInfo2, reinterpret_cast<void**>(&classInfo));
    check(classInfo != nullptr &&
              classInfo->GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &source) == S_OK &&
              source == Site::events(),
          "IProvideClassInfo2 names the event interface");
    if (classInfo != nullptr) classInfo->Release();
    IConnectionPointContainer* points = nullptr;
    IConnectionPoint* point = nullptr;
    DWORD cookie = 0;
    object->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&points));
    check(points != nullptr && points->FindConnectionPoint(Site::events(), &point) == S_OK &&
              point->Advise(static_cast<IDispatch*>(&site), &cookie) == S_OK,
          "the event sink connected");

    ::ShowWindow(site.form, SW_SHOWNORMAL);
    ::UpdateWindow(site.form);
    hr = object->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.form, &site.position);
    check(SUCCEEDED(hr) && site.activated, "activated in place");
    object->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&site.inPlace));
    HWND child = nullptr;
    check(site.inPlace != nullptr && site.inPlace->GetWindow(&child) == S_OK &&
              ::GetParent(child) == site.form,
          "its window is a child of the form");

    IViewObject* view = nullptr;
    IDispatch* dispatch = nullptr;
    object->QueryInterface(IID_IViewObject, reinterpret_cast<void**>(&view));
    object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (view == nullptr || dispatch == nullptr) return 1;
    Control control(dispatch);
    ::SetTimer(site.form, 1, 100, nullptr);

    // The control's picture as IViewObject::Draw makes it, and as its window
    // shows it on the form: the same.
    auto drawn = [&] {
        return paintInto(width, height, [&](HDC dc) {
            const RECTL bounds{0, 0, width, height};
            view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc, &bounds, nullptr,
                       nullptr, 0);
        });
    };
    auto same = [&](const Picture& form, const char* state) {
        const Picture d = drawn();
        const int n = differingPixels(form, d, site.position.left, site.position.top);
        say("%s: %d pixels differ between Draw and the window", state, n);
        check(n == 0, "IViewObject::Draw draws what the window shows");
        return d;
    };

    pumpPending();
    Picture design = capture(site.form);
    design.save(shots + "design.bmp");
    same(design, "design").save(shots + "design-drawn.bmp");
    check(indicatorColour(design) == ::GetSysColor(COLOR_BTNFACE), "design: no indicator");

    // A form resized: the control follows it, through SetObjectRects.
    RECT r;
    ::GetWindowRect(site.form, &r);
    ::SetWindowPos(site.form, nullptr, 0, 0, r.right - r.left + 60, r.bottom - r.top,
                   SWP_NOMOVE | SWP_NOZORDER);
    pumpPending();
    RECT placed;
    ::GetWindowRect(child, &placed);
    check(placed.right - placed.left == width + 60, "SetObjectRects moved its window");
    SIZEL grown{};
    object->GetExtent(DVASPECT_CONTENT, &grown);
    check(grown.cx > kWidthHimetric, "and its extent grew with it");

    VARIANT v;
    v.vt = VT_I2;
    v.iVal = port;
    check(SUCCEEDED(control.put(L"Port", v)), "Port = N");
    v.vt = VT_BSTR;
    v.bstrVal = ::SysAllocString(dataFile.c_str());
    check(SUCCEEDED(control.put(L"df", v)), "df = the data file");
    ::SysFreeString(v.bstrVal);
    check(SUCCEEDED(control.call(L"Start")), "Start");
    if (std::FILE* f = std::fopen(armed.c_str(), "w")) std::fclose(f);

    // While the records come: the indicator blinks, green and blue.
    std::vector<COLORREF> seen;
    long frames = 0;
    long status = 0;
    const bool ended = pumpUntil([&] {
        status = control.readStatus(frames);
        if (status != 0) return true;
        if (seen.size() < 2) {
            const Picture now = capture(site.form);
            const COLORREF colour = indicatorColour(now);
            if (colour != ::GetSysColor(COLOR_BTNFACE) && (seen.empty() || colour != seen.back())) {
                seen.push_back(colour);
                now.save(shots + "transfer-" + std::to_string(seen.size()) + ".bmp");
            }
        }
        return false;
    });
    check(ended && status == 1, "Read_Status came to 1");
    say("indicator colours seen: %d", static_cast<int>(seen.size()));
    for (COLORREF colour : seen) say("  %06lx", static_cast<unsigned long>(colour));
    check(seen.size() == 2 && seen[0] != seen[1], "the indicator blinked");

    pumpPending();
    const Picture after = capture(site.form);
    after.save(shots + "after.bmp");
    same(after, "after").save(shots + "after-drawn.bmp");
    check(indicatorColour(after) == ::GetSysColor(COLOR_BTNFACE), "after: no indicator");
    const long records = control.getLong(L"datano");
    say("frames: %ld", frames);
    say("records: %ld", records);

    check(boxes.empty(), "no message box came");

    check(SUCCEEDED(control.call(L"ViewData")), "ViewData");
    Grid grid;
    pumpUntil([&] {
        ::EnumThreadWindows(::GetCurrentThreadId(), findGrid, reinterpret_cast<LPARAM>(&grid));
        return grid.window != nullptr;
    });
    check(grid.window != nullptr, "the grid shows, owned by the form");
    if (grid.window != nullptr) {
        pumpPending();
        capture(grid.window).save(shots + "grid.bmp");
    }

    // A port that is not there: the box that says so is the form's.
    v.vt = VT_I2;
    v.iVal = 9;
    control.put(L"Port", v);
    control.call(L"Start");
    check(boxes.size() == 1 && boxes[0].ownedByForm,
          "a box the control shows is owned by the form");

    // As a form closes.
    if (point != nullptr) {
        point->Unadvise(cookie);
        point->Release();
    }
    if (points != nullptr) points->Release();
    site.inPlace->InPlaceDeactivate();
    check(!site.activated && !::IsWindow(child), "deactivated: its window is gone");
    site.inPlace->Release();
    site.inPlace = nullptr;
    object->Close(OLECLOSE_NOSAVE);
    check(grid.window == nullptr || !::IsWindow(grid.window), "closed: the grid is gone");
    object->SetClientSite(nullptr);
    view->Release();
    dispatch->Release();
    object->Release();
    ::DestroyWindow(site.form);
    ::OleUninitialize();
    say("failures: %d", failures);
    return failures == 0 ? 0 : 1;
}
