#include "event_connection_point.h"

#include "vantor_comm_h.h"

namespace vantor::automation {

EventConnectionPoint::~EventConnectionPoint() {
    for (auto& [cookie, sink] : sinks_) sink->Release();
}

HRESULT EventConnectionPoint::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (iid != IID_IUnknown && iid != IID_IConnectionPoint) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

ULONG EventConnectionPoint::AddRef() {
    return container_.AddRef();
}

ULONG EventConnectionPoint::Release() {
    return container_.Release();
}

HRESULT EventConnectionPoint::GetConnectionInterface(IID* iid) {
    if (iid == nullptr) return E_POINTER;
    *iid = DIID___Vantor_Comm;
    return S_OK;
}

HRESULT EventConnectionPoint::GetConnectionPointContainer(IConnectionPointContainer** c) {
    if (c == nullptr) return E_POINTER;
    *c = &container_;
    container_.AddRef();
    return S_OK;
}

HRESULT EventConnectionPoint::Advise(IUnknown* sink, DWORD* cookie) {
    if (sink == nullptr || cookie == nullptr) return E_POINTER;
    *cookie = 0;
    // Containers hand in a sink of the event interface; any dispatch one
    // would do, as nothing is ever sent.
    IDispatch* dispatch = nullptr;
    if (FAILED(sink->QueryInterface(DIID___Vantor_Comm, reinterpret_cast<void**>(&dispatch))) &&
        FAILED(sink->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
        return CONNECT_E_CANNOTCONNECT;
    }
    *cookie = nextCookie_++;
    sinks_[*cookie] = dispatch;
    return S_OK;
}

HRESULT EventConnectionPoint::Unadvise(DWORD cookie) {
    const auto it = sinks_.find(cookie);
    if (it == sinks_.end()) return CONNECT_E_NOCONNECTION;
    IDispatch* sink = it->second;
    sinks_.erase(it);
    sink->Release();
    return S_OK;
}

HRESULT EventConnectionPoint::EnumConnections(IEnumConnections** connections) {
    if (connections != nullptr) *connections = nullptr;
    return E_NOTIMPL;
}

}  // namespace vantor::automation
