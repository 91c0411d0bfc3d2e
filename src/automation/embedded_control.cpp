#include "embedded_control.h"

#include <vantor/status_panel.h>
#include <vantor/vantor_comm.h>
#include <vantor/win32_views.h>

#include <cstddef>

#include "automation_messages.h"
#include "server.h"
#include "vantor_comm_h.h"

namespace vantor::automation {

namespace {

// What the registry's MiscStatus says too.
constexpr DWORD kMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                              OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                              OLEMISC_SETCLIENTSITEFIRST;
static_assert(kMiscStatus == 131473);

template <class T>
void release(T*& p) {
    if (p != nullptr) p->Release();
    p = nullptr;
}

template <class T>
void assign(T*& to, T* from) {
    if (from != nullptr) from->AddRef();
    release(to);
    to = from;
}

void toBounds(const RECT& r, long (&bounds)[4]) {
    bounds[0] = r.left;
    bounds[1] = r.top;
    bounds[2] = r.right;
    bounds[3] = r.bottom;
}

LONG pixelsToHimetric(LONG pixels, int dpi) {
    return MulDiv(pixels, 2540, dpi);
}

}  // namespace

EmbeddedControl::EmbeddedControl(IUnknown& outer, Vantor_Comm& control,
                                 AutomationMessages& messages)
    : outer_(outer), control_(control), messages_(messages), events_(*this) {
    StatusPanel& panel = control_.Panel();
    const auto changed = [this] { viewChanged(); };
    for (Label& label : panel.Label1) subscriptions_.emplace_back(&label, label.subscribe(changed));
    subscriptions_.emplace_back(&panel.Label3, panel.Label3.subscribe(changed));
    subscriptions_.emplace_back(&panel.Shape1, panel.Shape1.subscribe(changed));
}

EmbeddedControl::~EmbeddedControl() {
    for (auto& [model, id] : subscriptions_) model->unsubscribe(id);
    grid_.reset();
    window_.reset();
    release(frame_);
    release(uiWindow_);
    release(inPlaceSite_);
    release(site_);
    release(adviseHolder_);
    release(viewSink_);
    messages_.owner = nullptr;
}

bool EmbeddedControl::find(REFIID iid, void** object) {
    if (iid == IID_IOleObject) {
        *object = static_cast<IOleObject*>(this);
    } else if (iid == IID_IOleWindow || iid == IID_IOleInPlaceObject) {
        *object = static_cast<IOleInPlaceObject*>(this);
    } else if (iid == IID_IOleInPlaceActiveObject) {
        *object = static_cast<IOleInPlaceActiveObject*>(this);
    } else if (iid == IID_IViewObject || iid == IID_IViewObject2) {
        *object = static_cast<IViewObject2*>(this);
    } else if (iid == IID_IOleControl) {
        *object = static_cast<IOleControl*>(this);
    } else if (iid == IID_IPersist || iid == IID_IPersistStreamInit) {
        *object = static_cast<IPersistStreamInit*>(this);
    } else if (iid == IID_IPersistPropertyBag) {
        *object = static_cast<IPersistPropertyBag*>(this);
    } else if (iid == IID_IConnectionPointContainer) {
        *object = static_cast<IConnectionPointContainer*>(this);
    } else if (iid == IID_IProvideClassInfo || iid == IID_IProvideClassInfo2) {
        *object = static_cast<IProvideClassInfo2*>(this);
    } else if (iid == IID_IQuickActivate) {
        *object = static_cast<IQuickActivate*>(this);
    } else {
        return false;
    }
    outer_.AddRef();
    return true;
}

HRESULT EmbeddedControl::QueryInterface(REFIID iid, void** object) {
    return outer_.QueryInterface(iid, object);
}
ULONG EmbeddedControl::AddRef() {
    return outer_.AddRef();
}
ULONG EmbeddedControl::Release() {
    return outer_.Release();
}

HWND EmbeddedControl::containerWindow() const {
    if (parent_ != nullptr) return parent_;
    HWND window = nullptr;
    if (inPlaceSite_ != nullptr) inPlaceSite_->GetWindow(&window);
    return window;
}

void EmbeddedControl::viewChanged() {
    // A window of ours repaints itself; a container that draws the control
    // is told to draw it again.
    if (viewSink_ != nullptr && (viewAspects_ & DVASPECT_CONTENT) != 0) {
        viewSink_->OnViewChange(DVASPECT_CONTENT, -1);
        if ((viewFlags_ & ADVF_ONLYONCE) != 0) release(viewSink_);
    }
}

void EmbeddedControl::resized() {
    control_.UserControl_Resize();
}

void EmbeddedControl::showGrid() {
    const HWND owner = containerWindow();
    if (owner == nullptr) return;
    if (grid_ == nullptr) grid_ = std::make_unique<DataGridWindow>(owner, control_.Grid());
    grid_->show();
}

// IOleObject

HRESULT EmbeddedControl::SetClientSite(IOleClientSite* site) {
    assign(site_, site);
    release(inPlaceSite_);
    if (site_ != nullptr) {
        site_->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&inPlaceSite_));
    }
    messages_.owner = containerWindow();
    return S_OK;
}

HRESULT EmbeddedControl::GetClientSite(IOleClientSite** site) {
    if (site == nullptr) return E_POINTER;
    *site = site_;
    if (site_ != nullptr) site_->AddRef();
    return S_OK;
}

HRESULT EmbeddedControl::SetHostNames(LPCOLESTR, LPCOLESTR) {
    return S_OK;
}

HRESULT EmbeddedControl::Close(DWORD) {
    InPlaceDeactivate();
    grid_.reset();
    if (adviseHolder_ != nullptr) adviseHolder_->SendOnClose();
    return S_OK;
}

HRESULT EmbeddedControl::SetMoniker(DWORD, IMoniker*) {
    return E_NOTIMPL;
}

HRESULT EmbeddedControl::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker != nullptr) *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT EmbeddedControl::InitFromData(IDataObject*, BOOL, DWORD) {
    return E_NOTIMPL;
}

HRESULT EmbeddedControl::GetClipboardData(DWORD, IDataObject** data) {
    if (data != nullptr) *data = nullptr;
    return E_NOTIMPL;
}

HRESULT EmbeddedControl::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND, LPCRECT) {
    if (site != nullptr && site != site_) SetClientSite(site);
    switch (verb) {
        case OLEIVERB_INPLACEACTIVATE:
            return activate(false);
        case OLEIVERB_PRIMARY:
        case OLEIVERB_SHOW:
        case OLEIVERB_UIACTIVATE:
            return activate(true);
        case OLEIVERB_HIDE:
            UIDeactivate();
            if (window_ != nullptr) ::ShowWindow(static_cast<HWND>(window_->handle()), SW_HIDE);
            return S_OK;
        default:
            return verb < 0 ? E_NOTIMPL : OLEOBJ_S_INVALIDVERB;
    }
}

HRESULT EmbeddedControl::activate(bool ui) {
    if (inPlaceSite_ == nullptr) return E_UNEXPECTED;
    if (window_ == nullptr) {
        if (inPlaceSite_->CanInPlaceActivate() != S_OK) return E_FAIL;
        inPlaceSite_->OnInPlaceActivate();
        HWND parent = nullptr;
        if (FAILED(inPlaceSite_->GetWindow(&parent)) || parent == nullptr) {
            inPlaceSite_->OnInPlaceDeactivate();
            return E_FAIL;
        }
        RECT position{}, clip{};
        OLEINPLACEFRAMEINFO info{};
        info.cb = sizeof info;
        release(frame_);
        release(uiWindow_);
        if (FAILED(inPlaceSite_->GetWindowContext(&frame_, &uiWindow_, &position, &clip, &info))) {
            inPlaceSite_->OnInPlaceDeactivate();
            return E_FAIL;
        }
        long bounds[4];
        toBounds(position, bounds);
        try {
            window_ = std::make_unique<StatusPanelWindow>(parent, bounds, control_.Panel());
        } catch (...) {
            inPlaceSite_->OnInPlaceDeactivate();
            return E_FAIL;
        }
        parent_ = parent;
        position_ = position;
        messages_.owner = parent;
        if (!shown_) {
            shown_ = true;
            resized();
        }
    }
    ::ShowWindow(static_cast<HWND>(window_->handle()), SW_SHOWNA);
    if (ui && !uiActive_) {
        uiActive_ = true;
        inPlaceSite_->OnUIActivate();
        auto* active = static_cast<IOleInPlaceActiveObject*>(this);
        if (frame_ != nullptr) frame_->SetActiveObject(active, L"Vantor_Comm");
        if (uiWindow_ != nullptr) uiWindow_->SetActiveObject(active, L"Vantor_Comm");
    }
    return S_OK;
}

HRESULT EmbeddedControl::EnumVerbs(IEnumOLEVERB** verbs) {
    return ::OleRegEnumVerbs(CLSID_Vantor_Comm, verbs);
}

HRESULT EmbeddedControl::Update() {
    return S_OK;
}

HRESULT EmbeddedControl::IsUpToDate() {
    return S_OK;
}

HRESULT EmbeddedControl::GetUserClassID(CLSID* clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = CLSID_Vantor_Comm;
    return S_OK;
}

HRESULT EmbeddedControl::GetUserType(DWORD form, LPOLESTR* type) {
    return ::OleRegGetUserType(CLSID_Vantor_Comm, form, type);
}

HRESULT EmbeddedControl::SetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (size == nullptr) return E_POINTER;
    const bool changed = size->cx != extent_.cx || size->cy != extent_.cy;
    extent_ = *size;
    if (changed) resized();
    return S_OK;
}

HRESULT EmbeddedControl::GetExtent(DWORD aspect, SIZEL* size) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (size == nullptr) return E_POINTER;
    *size = extent_;
    return S_OK;
}

HRESULT EmbeddedControl::Advise(IAdviseSink* sink, DWORD* cookie) {
    if (adviseHolder_ == nullptr && FAILED(::CreateOleAdviseHolder(&adviseHolder_))) {
        return E_OUTOFMEMORY;
    }
    return adviseHolder_->Advise(sink, cookie);
}

HRESULT EmbeddedControl::Unadvise(DWORD cookie) {
    if (adviseHolder_ == nullptr) return OLE_E_NOCONNECTION;
    return adviseHolder_->Unadvise(cookie);
}

HRESULT EmbeddedControl::EnumAdvise(IEnumSTATDATA** advise) {
    if (advise == nullptr) return E_POINTER;
    *advise = nullptr;
    if (adviseHolder_ == nullptr) return S_OK;
    return adviseHolder_->EnumAdvise(advise);
}

HRESULT EmbeddedControl::GetMiscStatus(DWORD, DWORD* status) {
    if (status == nullptr) return E_POINTER;
    *status = kMiscStatus;
    return S_OK;
}

HRESULT EmbeddedControl::SetColorScheme(LOGPALETTE*) {
    return E_NOTIMPL;
}

// IOleWindow

HRESULT EmbeddedControl::GetWindow(HWND* window) {
    if (window == nullptr) return E_POINTER;
    *window = window_ != nullptr ? static_cast<HWND>(window_->handle()) : nullptr;
    return *window != nullptr ? S_OK : E_FAIL;
}

HRESULT EmbeddedControl::ContextSensitiveHelp(BOOL) {
    return E_NOTIMPL;
}

// IOleInPlaceObject

HRESULT EmbeddedControl::InPlaceDeactivate() {
    if (window_ == nullptr) return S_OK;
    UIDeactivate();
    window_.reset();
    parent_ = nullptr;
    release(frame_);
    release(uiWindow_);
    if (inPlaceSite_ != nullptr) inPlaceSite_->OnInPlaceDeactivate();
    messages_.owner = containerWindow();
    return S_OK;
}

HRESULT EmbeddedControl::UIDeactivate() {
    if (!uiActive_) return S_OK;
    uiActive_ = false;
    if (frame_ != nullptr) frame_->SetActiveObject(nullptr, nullptr);
    if (uiWindow_ != nullptr) uiWindow_->SetActiveObject(nullptr, nullptr);
    if (inPlaceSite_ != nullptr) inPlaceSite_->OnUIDeactivate(FALSE);
    return S_OK;
}

HRESULT EmbeddedControl::SetObjectRects(LPCRECT position, LPCRECT) {
    if (position == nullptr) return E_POINTER;
    const bool changed = position->right - position->left != position_.right - position_.left ||
                         position->bottom - position->top != position_.bottom - position_.top;
    position_ = *position;
    if (window_ != nullptr) {
        long bounds[4];
        toBounds(position_, bounds);
        window_->move(bounds);
        const HDC dc = ::GetDC(static_cast<HWND>(window_->handle()));
        const int dpiX = ::GetDeviceCaps(dc, LOGPIXELSX);
        const int dpiY = ::GetDeviceCaps(dc, LOGPIXELSY);
        ::ReleaseDC(static_cast<HWND>(window_->handle()), dc);
        extent_ = {pixelsToHimetric(position_.right - position_.left, dpiX),
                   pixelsToHimetric(position_.bottom - position_.top, dpiY)};
    }
    if (changed) resized();
    return S_OK;
}

HRESULT EmbeddedControl::ReactivateAndUndo() {
    return INPLACE_E_NOTUNDOABLE;
}

// IOleInPlaceActiveObject: the control takes no keys and has no menus.

HRESULT EmbeddedControl::TranslateAccelerator(LPMSG) {
    return S_FALSE;
}
HRESULT EmbeddedControl::OnFrameWindowActivate(BOOL) {
    return S_OK;
}
HRESULT EmbeddedControl::OnDocWindowActivate(BOOL) {
    return S_OK;
}
HRESULT EmbeddedControl::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
    return S_OK;
}
HRESULT EmbeddedControl::EnableModeless(BOOL) {
    return S_OK;
}

// IViewObject2

HRESULT EmbeddedControl::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                              LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR),
                              ULONG_PTR) {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (dc == nullptr) return E_INVALIDARG;
    if (bounds == nullptr) return E_INVALIDARG;
    // A metafile's units are the container's: the panel fills the bounds.
    int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
    if (::GetDeviceCaps(dc, TECHNOLOGY) == DT_METAFILE && extent_.cy > 0) {
        dpi = MulDiv(bounds->bottom - bounds->top, 2540, extent_.cy);
    }
    const long b[4] = {bounds->left, bounds->top, bounds->right, bounds->bottom};
    drawStatusPanel(dc, b, dpi, control_.Panel());
    return S_OK;
}

HRESULT EmbeddedControl::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC,
                                     LOGPALETTE** colours) {
    if (colours != nullptr) *colours = nullptr;
    return S_FALSE;
}

HRESULT EmbeddedControl::Freeze(DWORD, LONG, void*, DWORD* freeze) {
    if (freeze != nullptr) *freeze = 0;
    return E_NOTIMPL;
}

HRESULT EmbeddedControl::Unfreeze(DWORD) {
    return E_NOTIMPL;
}

HRESULT EmbeddedControl::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
    assign(viewSink_, sink);
    viewAspects_ = aspects;
    viewFlags_ = flags;
    if (viewSink_ != nullptr && (flags & ADVF_PRIMEFIRST) != 0) viewChanged();
    return S_OK;
}

HRESULT EmbeddedControl::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
    if (aspects != nullptr) *aspects = viewAspects_;
    if (flags != nullptr) *flags = viewFlags_;
    if (sink != nullptr) {
        *sink = viewSink_;
        if (viewSink_ != nullptr) viewSink_->AddRef();
    }
    return S_OK;
}

HRESULT EmbeddedControl::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) {
    return GetExtent(aspect, size);
}

// IOleControl

HRESULT EmbeddedControl::GetControlInfo(CONTROLINFO* info) {
    if (info == nullptr) return E_POINTER;
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT EmbeddedControl::OnMnemonic(MSG*) {
    return E_NOTIMPL;
}
HRESULT EmbeddedControl::OnAmbientPropertyChange(DISPID) {
    return S_OK;
}
HRESULT EmbeddedControl::FreezeEvents(BOOL) {
    return S_OK;
}

// IPersistStreamInit, IPersistPropertyBag

HRESULT EmbeddedControl::GetClassID(CLSID* clsid) {
    return GetUserClassID(clsid);
}
HRESULT EmbeddedControl::IsDirty() {
    return S_FALSE;
}
HRESULT EmbeddedControl::Load(LPSTREAM) {
    return S_OK;
}
HRESULT EmbeddedControl::Save(LPSTREAM, BOOL) {
    return S_OK;
}
HRESULT EmbeddedControl::GetSizeMax(ULARGE_INTEGER* size) {
    if (size == nullptr) return E_POINTER;
    size->QuadPart = 0;
    return S_OK;
}
HRESULT EmbeddedControl::InitNew() {
    return S_OK;
}
HRESULT EmbeddedControl::Load(IPropertyBag*, IErrorLog*) {
    return S_OK;
}
HRESULT EmbeddedControl::Save(IPropertyBag*, BOOL, BOOL) {
    return S_OK;
}

// IConnectionPointContainer

HRESULT EmbeddedControl::EnumConnectionPoints(IEnumConnectionPoints** points) {
    if (points != nullptr) *points = nullptr;
    return E_NOTIMPL;
}

HRESULT EmbeddedControl::FindConnectionPoint(REFIID iid, IConnectionPoint** point) {
    if (point == nullptr) return E_POINTER;
    *point = nullptr;
    if (iid != DIID___Vantor_Comm) return CONNECT_E_NOCONNECTION;
    *point = &events_;
    events_.AddRef();
    return S_OK;
}

// IProvideClassInfo2

HRESULT EmbeddedControl::GetClassInfo(ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = typeInfo(CLSID_Vantor_Comm);
    return *info != nullptr ? S_OK : TYPE_E_CANTLOADLIBRARY;
}

HRESULT EmbeddedControl::GetGUID(DWORD kind, GUID* guid) {
    if (guid == nullptr) return E_POINTER;
    if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
        *guid = GUID_NULL;
        return E_INVALIDARG;
    }
    *guid = DIID___Vantor_Comm;
    return S_OK;
}

// IQuickActivate: what SetClientSite, SetAdvise and Advise would do, in one call.

HRESULT EmbeddedControl::QuickActivate(QACONTAINER* container, QACONTROL* control) {
    if (container == nullptr || control == nullptr) return E_POINTER;
    // Containers built with older headers pass smaller structures: what this
    // reads and writes is in every one of them.
    if (container->cbSize < offsetof(QACONTAINER, pPropertyNotifySink) ||
        control->cbSize < sizeof(QACONTROL)) {
        return E_INVALIDARG;
    }
    SetClientSite(container->pClientSite);
    control->dwMiscStatus = kMiscStatus;
    control->dwViewStatus = VIEWSTATUS_OPAQUE;
    control->dwEventCookie = 0;
    control->dwPropNotifyCookie = 0;
    control->dwPointerActivationPolicy = 0;
    if (container->pAdviseSink != nullptr) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    if (container->pUnkEventSink != nullptr) {
        events_.Advise(container->pUnkEventSink, &control->dwEventCookie);
    }
    return S_OK;
}

HRESULT EmbeddedControl::SetContentExtent(LPSIZEL size) {
    return SetExtent(DVASPECT_CONTENT, size);
}

HRESULT EmbeddedControl::GetContentExtent(LPSIZEL size) {
    return GetExtent(DVASPECT_CONTENT, size);
}

}  // namespace vantor::automation
