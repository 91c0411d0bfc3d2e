// The in-process server's entry points: the class factory, unloading, and
// the type library the objects describe themselves with.
#include "server.h"

#include <vantor/errors.h>

#include <atomic>
#include <mutex>
#include <new>

#include "automation_control.h"

namespace vantor::automation {

namespace {

HINSTANCE instance = nullptr;
std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

class ClassFactory final : public IClassFactory {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        if (iid != IID_IUnknown && iid != IID_IClassFactory) {
            *object = nullptr;
            return E_NOINTERFACE;
        }
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    // One factory lives as long as the module; locks keep the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        AutomationControl* control = nullptr;
        try {
            control = new AutomationControl();
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (const RuntimeError&) {
            // The thread cannot have the control's message window.
            return E_FAIL;
        }
        const HRESULT hr = control->QueryInterface(iid, object);
        control->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            ++serverLocks;
        } else {
            --serverLocks;
        }
        return S_OK;
    }
};

ClassFactory factory;

}  // namespace

HINSTANCE moduleInstance() {
    return instance;
}

std::wstring modulePath() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n =
            ::GetModuleFileNameW(instance, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

void objectCreated() {
    ++liveObjects;
}
void objectDestroyed() {
    --liveObjects;
}

ITypeInfo* typeInfo(REFGUID guid) {
    static std::once_flag once;
    static ITypeLib* library = nullptr;
    std::call_once(once, [] { ::LoadTypeLibEx(modulePath().c_str(), REGKIND_NONE, &library); });
    ITypeInfo* info = nullptr;
    if (library == nullptr || FAILED(library->GetTypeInfoOfGuid(guid, &info))) return nullptr;
    return info;
}

}  // namespace vantor::automation

using namespace vantor::automation;

extern "C" BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        instance = module;
    }
    return TRUE;
}

extern "C" HRESULT STDAPICALLTYPE DllGetClassObject(REFCLSID clsid, REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (clsid != CLSID_Vantor_Comm) return CLASS_E_CLASSNOTAVAILABLE;
    return factory.QueryInterface(iid, object);
}

extern "C" HRESULT STDAPICALLTYPE DllCanUnloadNow() {
    return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}
