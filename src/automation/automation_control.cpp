#include "automation_control.h"

#include <vantor/win32_platform.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include "dispatch_args.h"
#include "server.h"

namespace vantor::automation {

namespace {

constexpr wchar_t kSource[] = L"VantorComm";

bool isPut(WORD flags) {
    return (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
}

// A run-time error as a Visual Basic control raises it.
HRESULT controlError(std::int32_t number) {
    return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, static_cast<WORD>(number));
}

// The part of a host's array the control looks at (indices 0 to 5), with
// every element `fill`; unallocated when the array is none, or has other
// than one dimension, or holds none of those indices.
VbArray<Integer> shapeOf(SAFEARRAY* array, Integer fill) {
    VbArray<Integer> shape;
    LONG lower = 0, upper = 0;
    if (array == nullptr || ::SafeArrayGetDim(array) != 1 ||
        FAILED(::SafeArrayGetLBound(array, 1, &lower)) ||
        FAILED(::SafeArrayGetUBound(array, 1, &upper))) {
        return shape;
    }
    lower = std::max<LONG>(lower, -1);
    upper = std::min<LONG>(upper, 6);
    if (upper < lower) return shape;
    shape.redim(lower, upper);
    for (Long i = lower; i <= upper; ++i) shape(i) = fill;
    return shape;
}

void storeElement(SAFEARRAY* array, VARTYPE type, LONG index, Integer value) {
    HRESULT hr = E_FAIL;
    if (type == VT_I2) {
        short v = value;
        hr = ::SafeArrayPutElement(array, &index, &v);
    } else if (type == VT_I4) {
        LONG v = value;
        hr = ::SafeArrayPutElement(array, &index, &v);
    } else {
        VARIANT v;
        v.vt = VT_I2;
        v.iVal = value;
        hr = ::SafeArrayPutElement(array, &index, &v);
    }
    if (FAILED(hr)) throw RuntimeError(kErrSubscript);
}

}  // namespace

AutomationControl::AutomationControl() : messages_(std::make_shared<AutomationMessages>()) {
    ControlOptions options;
    options.loop = win32MessageLoop();
    options.messages = messages_;
    loop_ = options.loop;
    control_ = createControl(std::move(options));
    embedded_ =
        std::make_unique<EmbeddedControl>(*static_cast<_Vantor_Comm*>(this), *control_, *messages_);
    objectCreated();
}

AutomationControl::~AutomationControl() {
    embedded_.reset();
    control_.reset();
    loop_.reset();
    objectDestroyed();
}

HRESULT AutomationControl::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IDispatch || iid == IID__Vantor_Comm) {
        *object = static_cast<_Vantor_Comm*>(this);
    } else if (iid == IID_IVantorCommHost) {
        *object = static_cast<IVantorCommHost*>(this);
    } else if (iid == IID_ISupportErrorInfo) {
        *object = static_cast<ISupportErrorInfo*>(this);
    } else if (embedded_->find(iid, object)) {
        return S_OK;
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG AutomationControl::AddRef() {
    return ++references_;
}

ULONG AutomationControl::Release() {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

HRESULT AutomationControl::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
}

HRESULT AutomationControl::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    *info = typeInfo(IID__Vantor_Comm);
    return *info != nullptr ? S_OK : TYPE_E_CANTLOADLIBRARY;
}

HRESULT AutomationControl::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) {
    HRESULT hr = DISP_E_UNKNOWNNAME;
    for (const IID* iid : {&IID__Vantor_Comm, &IID_IVantorCommHost}) {
        ITypeInfo* info = typeInfo(*iid);
        if (info == nullptr) return TYPE_E_CANTLOADLIBRARY;
        hr = ::DispGetIDsOfNames(info, names, count, ids);
        info->Release();
        if (hr != DISP_E_UNKNOWNNAME) break;
    }
    return hr;
}

HRESULT AutomationControl::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                  VARIANT* result, EXCEPINFO* exception, UINT* argumentError) {
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (params == nullptr) params = &none;
    if (params->cNamedArgs > (isPut(flags) ? 1u : 0u)) return DISP_E_NONAMEDARGS;
    failure_.reset();
    try {
        const HRESULT hr = invokeMember(id, flags, params, result);
        if (FAILED(hr) && failure_ && exception != nullptr) {
            *exception = EXCEPINFO{};
            exception->scode = failure_->hr;
            exception->bstrSource = ::SysAllocString(kSource);
            exception->bstrDescription = toBstr(failure_->description);
            return DISP_E_EXCEPTION;
        }
        return hr;
    } catch (const ArgumentError& e) {
        if (argumentError != nullptr) *argumentError = e.position;
        return e.hr;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

// The dispatch ids of the type library; a script's argument becomes the
// typed one the interface takes, and what the interface writes back goes
// through the script's reference.
HRESULT AutomationControl::invokeMember(DISPID id, WORD flags, DISPPARAMS* params,
                                        VARIANT* result) {
    const bool put = isPut(flags);
    auto boolProperty = [&](auto get, auto set) -> HRESULT {
        if (put) return (this->*set)(Arguments(params, 1).toBool(0));
        Arguments(params, 0);
        VARIANT_BOOL v = VARIANT_FALSE;
        const HRESULT hr = (this->*get)(&v);
        if (SUCCEEDED(hr)) setBoolResult(result, v);
        return hr;
    };
    auto method = [&](auto call) -> HRESULT {
        if (put) return DISP_E_MEMBERNOTFOUND;
        Arguments(params, 0);
        return (this->*call)();
    };
    auto getter = [&](auto get, auto value) -> HRESULT {
        if (put) return DISP_E_MEMBERNOTFOUND;
        Arguments(params, 0);
        const HRESULT hr = (this->*get)(&value);
        if (SUCCEEDED(hr)) setResult(result, value);
        return hr;
    };
    auto textGetter = [&](auto get) -> HRESULT {
        Arguments(params, 0);
        Bstr value;
        const HRESULT hr = (this->*get)(value.out());
        if (SUCCEEDED(hr)) setResult(result, value.release());
        return hr;
    };
    auto shortByRefProperty = [&](auto get, auto set) -> HRESULT {
        if (!put) return getter(get, short{});
        short v = Arguments(params, 1).toShort(0);
        return (this->*set)(&v);
    };

    switch (static_cast<unsigned long>(id)) {
        case 0x40030003:
            if (put) return put_df(Bstr(Arguments(params, 1).toText(0)).get());
            return textGetter(&AutomationControl::get_df);
        case 0x40030005:
            if (put) return put_UnitIndex(Arguments(params, 1).toShort(0));
            return getter(&AutomationControl::get_UnitIndex, short{});
        case 0x40030006:
            return boolProperty(&AutomationControl::get_fgTransferOK,
                                &AutomationControl::put_fgTransferOK);
        case 0x40030007:
            return boolProperty(&AutomationControl::get_fgComPortOpen,
                                &AutomationControl::put_fgComPortOpen);
        case 0x40030008:
            if (put) return put_datano(Arguments(params, 1).toLong(0));
            return getter(&AutomationControl::get_datano, LONG{});
        case 0x40030009:
            return boolProperty(&AutomationControl::get_fg_Two_Display,
                                &AutomationControl::put_fg_Two_Display);
        case 0x4003000a:
            return boolProperty(&AutomationControl::get_bReadDataOK,
                                &AutomationControl::put_bReadDataOK);
        case 0x60030004: {
            if (put) return DISP_E_MEMBERNOTFOUND;
            const Arguments args(params, 1);
            VARIANT_BOOL yesNo = VARIANT_FALSE;
            const HRESULT hr = CheckFile(&yesNo);
            if (SUCCEEDED(hr)) args.storeBool(0, yesNo);
            return hr;
        }
        case 0x60030005:
            return method(&AutomationControl::ViewData);
        case 0x60030006:
            return method(&AutomationControl::ReadDataLogger);
        case 0x60030007:
            return method(&AutomationControl::ReadDataLogger_2);
        case 0x6003000f:
            return method(&AutomationControl::SCI_Init);
        case 0x68030003:
            if (put) return put_Settings(Bstr(Arguments(params, 1).toText(0)).out());
            return textGetter(&AutomationControl::get_Settings);
        case 0x68030002:
            return shortByRefProperty(&AutomationControl::get_Port, &AutomationControl::put_Port);
        case 0x68030001:
            return shortByRefProperty(&AutomationControl::get_Baudrate,
                                      &AutomationControl::put_Baudrate);
        case 0x68030000:
            if (!put) return DISP_E_MEMBERNOTFOUND;
            return put_AppPath(Bstr(Arguments(params, 1).toText(0)).out());
        case 0x60030014: {
            if (put) return DISP_E_MEMBERNOTFOUND;
            const Arguments args(params, 1);
            LONG frames = 0;
            short status = 0;
            const HRESULT hr = Read_Status(&frames, &status);
            if (SUCCEEDED(hr)) {
                args.store(0, frames);
                setResult(result, status);
            }
            return hr;
        }
        case 0x60030015: {
            if (put) return DISP_E_MEMBERNOTFOUND;
            const Arguments args(params, 1);
            short status = 0;
            SAFEARRAY* none = nullptr;
            SAFEARRAY** array = args.arrayRef(0);
            const HRESULT hr = GetParameter(array != nullptr ? array : &none, &status);
            if (SUCCEEDED(hr)) setResult(result, status);
            return hr;
        }
        case 0x60030016:
            return getter(&AutomationControl::Start, short{});
        case 0x60030017: {
            if (put) return DISP_E_MEMBERNOTFOUND;
            const Arguments args(params, 2);
            LONG records = 0;
            Bstr name;
            const HRESULT hr = GetFilename(&records, name.out());
            if (SUCCEEDED(hr)) {
                args.store(0, records);
                args.store(1, name.release());
            }
            return hr;
        }
        case 0x60030018:
            return method(&AutomationControl::ReadUnitFile);

        case 1:
            return getter(&AutomationControl::get_LastErrorNumber, LONG{});
        case 2:
            if (put) return DISP_E_MEMBERNOTFOUND;
            return textGetter(&AutomationControl::get_LastErrorDescription);
        case 3:
            return getter(&AutomationControl::get_FrameCount, LONG{});
        case 4:
            return boolProperty(&AutomationControl::get_MessageBoxes,
                                &AutomationControl::put_MessageBoxes);
        case 5:
            return method(&AutomationControl::AbortTransfer);
        case 6: {
            if (put) return DISP_E_MEMBERNOTFOUND;
            const LONG milliseconds = Arguments(params, 1).toLong(0);
            short status = 0;
            const HRESULT hr = WaitForTransfer(milliseconds, &status);
            if (SUCCEEDED(hr)) setResult(result, status);
            return hr;
        }
        case 7:
            if (put) return put_ReadTimeout(Arguments(params, 1).toLong(0));
            return getter(&AutomationControl::get_ReadTimeout, LONG{});
        default:
            return DISP_E_MEMBERNOTFOUND;
    }
}

template <class Step>
HRESULT AutomationControl::guarded(Step&& step) {
    try {
        // The host pumps no messages of ours between its calls, or does it
        // only now and then: what came meanwhile is handled first.
        win32RunPending(*loop_);
        step();
        return S_OK;
    } catch (const RuntimeError& e) {
        return fail(controlError(e.number()), e.description());
    } catch (const std::bad_alloc&) {
        return fail(E_OUTOFMEMORY, standardDescription(7));
    } catch (const std::exception& e) {
        return fail(E_UNEXPECTED, e.what());
    }
}

HRESULT AutomationControl::fail(HRESULT hr, const std::string& description) {
    failure_ = Failure{hr, description};
    ICreateErrorInfo* create = nullptr;
    if (SUCCEEDED(::CreateErrorInfo(&create))) {
        create->SetGUID(IID__Vantor_Comm);
        create->SetSource(const_cast<LPOLESTR>(kSource));
        Bstr text(description);
        create->SetDescription(text.get());
        IErrorInfo* info = nullptr;
        if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
            ::SetErrorInfo(0, info);
            info->Release();
        }
        create->Release();
    }
    return hr;
}

HRESULT AutomationControl::get_df(BSTR* result) {
    return guarded([&] { *result = toBstr(control_->df); });
}
HRESULT AutomationControl::put_df(BSTR value) {
    return guarded([&] { control_->df = toUtf8(value); });
}
HRESULT AutomationControl::get_UnitIndex(short* result) {
    return guarded([&] { *result = control_->UnitIndex; });
}
HRESULT AutomationControl::put_UnitIndex(short value) {
    return guarded([&] { control_->UnitIndex = value; });
}
HRESULT AutomationControl::get_fgTransferOK(VARIANT_BOOL* result) {
    return guarded([&] { *result = control_->fgTransferOK; });
}
HRESULT AutomationControl::put_fgTransferOK(VARIANT_BOOL value) {
    return guarded([&] { control_->fgTransferOK = value; });
}
HRESULT AutomationControl::get_fgComPortOpen(VARIANT_BOOL* result) {
    return guarded([&] { *result = control_->fgComPortOpen; });
}
HRESULT AutomationControl::put_fgComPortOpen(VARIANT_BOOL value) {
    return guarded([&] { control_->fgComPortOpen = value; });
}
HRESULT AutomationControl::get_datano(LONG* result) {
    return guarded([&] { *result = control_->datano; });
}
HRESULT AutomationControl::put_datano(LONG value) {
    return guarded([&] { control_->datano = value; });
}
HRESULT AutomationControl::get_fg_Two_Display(VARIANT_BOOL* result) {
    return guarded([&] { *result = control_->fg_Two_Display; });
}
HRESULT AutomationControl::put_fg_Two_Display(VARIANT_BOOL value) {
    return guarded([&] { control_->fg_Two_Display = value; });
}
HRESULT AutomationControl::get_bReadDataOK(VARIANT_BOOL* result) {
    return guarded([&] { *result = control_->bReadDataOK; });
}
HRESULT AutomationControl::put_bReadDataOK(VARIANT_BOOL value) {
    return guarded([&] { control_->bReadDataOK = value; });
}

HRESULT AutomationControl::CheckFile(VARIANT_BOOL* YesNo) {
    if (YesNo == nullptr) return E_POINTER;
    return guarded([&] {
        Boolean v = *YesNo;
        control_->CheckFile(v);
        *YesNo = v;
    });
}
HRESULT AutomationControl::ViewData() {
    return guarded([&] {
        control_->ViewData();
        embedded_->showGrid();
    });
}
HRESULT AutomationControl::ReadDataLogger() {
    return guarded([&] { control_->ReadDataLogger(); });
}
HRESULT AutomationControl::ReadDataLogger_2() {
    return guarded([&] { control_->ReadDataLogger_2(); });
}
HRESULT AutomationControl::SCI_Init() {
    return guarded([&] { control_->SCI_Init(); });
}
HRESULT AutomationControl::put_Settings(BSTR* sSettings) {
    if (sSettings == nullptr) return E_POINTER;
    return guarded([&] { control_->Settings(toUtf8(*sSettings)); });
}
HRESULT AutomationControl::get_Settings(BSTR* result) {
    return guarded([&] { *result = toBstr(control_->Settings()); });
}
HRESULT AutomationControl::put_Port(short* iPort) {
    if (iPort == nullptr) return E_POINTER;
    return guarded([&] { control_->Port(*iPort); });
}
HRESULT AutomationControl::get_Port(short* result) {
    return guarded([&] { *result = control_->Port(); });
}
HRESULT AutomationControl::put_Baudrate(short* iBaudRate) {
    if (iBaudRate == nullptr) return E_POINTER;
    return guarded([&] { control_->Baudrate(*iBaudRate); });
}
HRESULT AutomationControl::get_Baudrate(short* result) {
    return guarded([&] { *result = control_->Baudrate(); });
}
HRESULT AutomationControl::put_AppPath(BSTR* unitfilepath) {
    if (unitfilepath == nullptr) return E_POINTER;
    return guarded([&] { control_->AppPath(toUtf8(*unitfilepath)); });
}
HRESULT AutomationControl::Read_Status(LONG* FrameCount, short* result) {
    if (FrameCount == nullptr || result == nullptr) return E_POINTER;
    return guarded([&] {
        Long frames = *FrameCount;
        *result = control_->Read_Status(frames);
        *FrameCount = frames;
    });
}

// The control copies into an array of its own kind; run on two of the host
// array's shape with different fillings, the elements it wrote are those
// equal in both, and only those reach the host's array.
HRESULT AutomationControl::GetParameter(SAFEARRAY** iParameter, short* result) {
    if (iParameter == nullptr || result == nullptr) return E_POINTER;
    return guarded([&] {
        SAFEARRAY* array = *iParameter;
        VARTYPE type = VT_EMPTY;
        if (array != nullptr && (FAILED(::SafeArrayGetVartype(array, &type)) ||
                                 (type != VT_I2 && type != VT_I4 && type != VT_VARIANT))) {
            throw RuntimeError(kErrTypeMismatch);
        }
        VbArray<Integer> first = shapeOf(array, 1);
        VbArray<Integer> second = shapeOf(array, 2);
        std::optional<RuntimeError> error;
        Integer status = 0;
        try {
            status = control_->GetParameter(first);
        } catch (const RuntimeError& e) {
            error = e;
        }
        try {
            control_->GetParameter(second);
        } catch (const RuntimeError&) {
        }
        if (first.allocated()) {
            for (Long i = first.lbound(); i <= first.ubound(); ++i) {
                if (first(i) == second(i)) storeElement(array, type, i, first(i));
            }
        }
        if (error) throw *error;
        *result = status;
    });
}

HRESULT AutomationControl::Start(short* result) {
    if (result == nullptr) return E_POINTER;
    return guarded([&] { *result = control_->Start(); });
}
HRESULT AutomationControl::GetFilename(LONG* idatano, BSTR* filename) {
    if (idatano == nullptr || filename == nullptr) return E_POINTER;
    return guarded([&] {
        Long records = *idatano;
        String name = toUtf8(*filename);
        control_->GetFilename(records, name);
        BSTR copy = toBstr(name);
        ::SysFreeString(*filename);
        *filename = copy;
        *idatano = records;
    });
}
HRESULT AutomationControl::ReadUnitFile() {
    return guarded([&] { control_->ReadUnitFile(); });
}

HRESULT AutomationControl::get_LastErrorNumber(LONG* result) {
    return guarded([&] {
        const auto& error = control_->LastError();
        *result = error ? error->number() : 0;
    });
}
HRESULT AutomationControl::get_LastErrorDescription(BSTR* result) {
    return guarded([&] {
        const auto& error = control_->LastError();
        *result = toBstr(error ? error->description() : std::string());
    });
}
HRESULT AutomationControl::get_FrameCount(LONG* result) {
    return guarded([&] {
        Long frames = 0;
        control_->Read_Status(frames);
        *result = frames;
    });
}
HRESULT AutomationControl::get_MessageBoxes(VARIANT_BOOL* result) {
    return guarded([&] { *result = messages_->boxes ? VARIANT_TRUE : VARIANT_FALSE; });
}
HRESULT AutomationControl::put_MessageBoxes(VARIANT_BOOL value) {
    return guarded([&] { messages_->boxes = value != VARIANT_FALSE; });
}
HRESULT AutomationControl::AbortTransfer() {
    return guarded([&] { control_->AbortTransfer(); });
}

// Waits for the control's own messages only: the host's stay queued for it.
HRESULT AutomationControl::WaitForTransfer(LONG milliseconds, short* result) {
    if (result == nullptr) return E_POINTER;
    return guarded([&] {
        using Clock = std::chrono::steady_clock;
        const auto end = Clock::now() + std::chrono::milliseconds(std::max<LONG>(milliseconds, 0));
        while (control_->fgComPortOpen != VbFalse) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
            if (left <= 0) break;
            ::MsgWaitForMultipleObjectsEx(0, nullptr,
                                          static_cast<DWORD>(std::min<long long>(left, 50)),
                                          QS_ALLPOSTMESSAGE | QS_TIMER, 0);
            win32RunPending(*loop_);
        }
        Long frames = 0;
        *result = control_->Read_Status(frames);
    });
}

HRESULT AutomationControl::get_ReadTimeout(LONG* result) {
    return guarded([&] {
        *result = static_cast<LONG>(std::min<long long>(control_->readTimeout().count(), LONG_MAX));
    });
}
HRESULT AutomationControl::put_ReadTimeout(LONG value) {
    return guarded([&] {
        if (value < 0) {
            throw RuntimeError(kErrInvalidCall, standardDescription(kErrInvalidCall) +
                                                    ": ReadTimeout cannot be negative");
        }
        control_->setReadTimeout(std::chrono::milliseconds(value));
    });
}

HRESULT AutomationControl::InterfaceSupportsErrorInfo(REFIID iid) {
    return iid == IID__Vantor_Comm || iid == IID_IVantorCommHost ? S_OK : S_FALSE;
}

}  // namespace vantor::automation
