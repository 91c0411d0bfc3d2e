// The connection point of the control's event interface, __Vantor_Comm. It
// has no events: sinks are kept, and never called.
#pragma once

#include <ocidl.h>
#include <olectl.h>
#include <windows.h>

#include <map>

namespace vantor::automation {

class EventConnectionPoint final : public IConnectionPoint {
  public:
    // Lives as long as `container`, whose references it counts.
    explicit EventConnectionPoint(IConnectionPointContainer& container) : container_(container) {}
    ~EventConnectionPoint();
    EventConnectionPoint(const EventConnectionPoint&) = delete;
    EventConnectionPoint& operator=(const EventConnectionPoint&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
    HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** c) override;
    HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
    HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
    HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

  private:
    IConnectionPointContainer& container_;
    std::map<DWORD, IDispatch*> sinks_;
    DWORD nextCookie_ = 1;
};

}  // namespace vantor::automation
