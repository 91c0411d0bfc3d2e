// Vantor_Comm as an automation object: _Vantor_Comm, the control's own
// interface, and IVantorCommHost, what this build adds; both dual, over one
// Vantor_Comm on the Win32 backends. On a form, it is also the control the
// container sites (EmbeddedControl).
#pragma once

#include <vantor/vantor_comm.h>
#include <windows.h>

#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "automation_messages.h"
#include "embedded_control.h"
#include "vantor_comm_h.h"

namespace vantor {
class MessageLoop;
}

namespace vantor::automation {

class AutomationControl final : public _Vantor_Comm,
                                public IVantorCommHost,
                                public ISupportErrorInfo {
  public:
    // Throws RuntimeError when the thread cannot have the control's loop.
    AutomationControl();
    ~AutomationControl();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch: the names of both interfaces on either.
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID,
                                            DISPID* ids) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception,
                                     UINT* argumentError) override;

    // _Vantor_Comm, in the order of its slots.
    HRESULT STDMETHODCALLTYPE get_df(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_df(BSTR value) override;
    HRESULT STDMETHODCALLTYPE get_UnitIndex(short* result) override;
    HRESULT STDMETHODCALLTYPE put_UnitIndex(short value) override;
    HRESULT STDMETHODCALLTYPE get_fgTransferOK(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_fgTransferOK(VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE get_fgComPortOpen(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_fgComPortOpen(VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE get_datano(LONG* result) override;
    HRESULT STDMETHODCALLTYPE put_datano(LONG value) override;
    HRESULT STDMETHODCALLTYPE get_fg_Two_Display(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_fg_Two_Display(VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE get_bReadDataOK(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_bReadDataOK(VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE CheckFile(VARIANT_BOOL* YesNo) override;
    HRESULT STDMETHODCALLTYPE ViewData() override;
    HRESULT STDMETHODCALLTYPE ReadDataLogger() override;
    HRESULT STDMETHODCALLTYPE ReadDataLogger_2() override;
    HRESULT STDMETHODCALLTYPE SCI_Init() override;
    HRESULT STDMETHODCALLTYPE put_Settings(BSTR* sSettings) override;
    HRESULT STDMETHODCALLTYPE get_Settings(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE put_Port(short* iPort) override;
    HRESULT STDMETHODCALLTYPE get_Port(short* result) override;
    HRESULT STDMETHODCALLTYPE put_Baudrate(short* iBaudRate) override;
    HRESULT STDMETHODCALLTYPE get_Baudrate(short* result) override;
    HRESULT STDMETHODCALLTYPE put_AppPath(BSTR* unitfilepath) override;
    HRESULT STDMETHODCALLTYPE Read_Status(LONG* FrameCount, short* result) override;
    HRESULT STDMETHODCALLTYPE GetParameter(SAFEARRAY** iParameter, short* result) override;
    HRESULT STDMETHODCALLTYPE Start(short* result) override;
    HRESULT STDMETHODCALLTYPE GetFilename(LONG* idatano, BSTR* filename) override;
    HRESULT STDMETHODCALLTYPE ReadUnitFile() override;

    // IVantorCommHost
    HRESULT STDMETHODCALLTYPE get_LastErrorNumber(LONG* result) override;
    HRESULT STDMETHODCALLTYPE get_LastErrorDescription(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE get_FrameCount(LONG* result) override;
    HRESULT STDMETHODCALLTYPE get_MessageBoxes(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE put_MessageBoxes(VARIANT_BOOL value) override;
    HRESULT STDMETHODCALLTYPE AbortTransfer() override;
    HRESULT STDMETHODCALLTYPE WaitForTransfer(LONG milliseconds, short* result) override;
    HRESULT STDMETHODCALLTYPE get_ReadTimeout(LONG* result) override;
    HRESULT STDMETHODCALLTYPE put_ReadTimeout(LONG value) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

  private:
    struct Failure {
        HRESULT hr;
        std::string description;
    };
    // Runs what the port and the timer brought since the host's last call,
    // then `step`; a RuntimeError becomes the control facility's HRESULT and
    // the thread's error information.
    template <class Step>
    HRESULT guarded(Step&& step);
    HRESULT fail(HRESULT hr, const std::string& description);
    HRESULT invokeMember(DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result);

    std::atomic<ULONG> references_{1};
    std::shared_ptr<MessageLoop> loop_;
    std::shared_ptr<AutomationMessages> messages_;
    std::unique_ptr<Vantor_Comm> control_;
    // Goes before the control, whose panel it shows.
    std::unique_ptr<EmbeddedControl> embedded_;
    std::optional<Failure> failure_;
};

}  // namespace vantor::automation
