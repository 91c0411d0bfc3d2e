#include <vantor/create_control.h>
#include <vantor/download.h>
#include <vantor/vantor_comm_c.h>
#include <vantor/version.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <type_traits>

#include "c/c_calls.h"
#include "c/c_platform.h"
#include "c/callback_message_sink.h"
#include "platform/default_backends.h"

using vantor::RuntimeError;
using vantor::Vantor_Comm;

struct vantor_comm {
    std::shared_ptr<vantor::CallbackMessageSink> messages;
    std::shared_ptr<vantor::MessageLoop> loop;  // outlives the control, which runs on it
    std::unique_ptr<Vantor_Comm> control;
    std::thread::id owner;
    std::string error;
    bool ended = false;  // a transfer ended during process_events
};

namespace vantor::capi {
thread_local std::string createError;
}  // namespace vantor::capi

namespace {

using namespace vantor::capi;

// The error of a call refused for its thread: kept on the calling thread,
// as the control's own may be in use on its thread at that moment.
thread_local std::string foreignError;

bool onOwnThread(const vantor_comm* c) {
    return std::this_thread::get_id() == c->owner;
}

vantor_status refusedOnThisThread(const char* what) noexcept {
    return guarded(foreignError, [what] {
        throw invalid(std::string("a control is ") + what +
                      " only on the thread that created it; hand it back to that thread");
    });
}

// Runs `f` on the control, on the control's thread only.
template <class F>
vantor_status call(vantor_comm* c, F&& f) noexcept {
    if (c == nullptr) return vantor::kErrInvalidCall;
    if (!onOwnThread(c)) return refusedOnThisThread("used");
    return guarded(c->error, [&] { f(*c->control); });
}

int32_t clampedMs(std::chrono::milliseconds ms) {
    return static_cast<int32_t>(
        std::min<long long>(ms.count(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

extern "C" {

const char* vantor_comm_version(void) {
    return VANTOR_COMM_VERSION;
}

vantor_status vantor_comm_create(vantor_comm** out) {
    return guarded(createError, [out] {
        need(out, "the control pointer") = nullptr;
        vantor::prepareCHost();
        auto c = std::make_unique<vantor_comm>();
        c->messages = std::make_shared<vantor::CallbackMessageSink>();
        c->loop = vantor::defaultMessageLoop();
        vantor::ControlOptions options;
        options.loop = c->loop;
        options.messages = c->messages;
        c->control = vantor::createControl(std::move(options));
        c->owner = std::this_thread::get_id();
        vantor_comm* raw = c.get();
        c->control->onTransferEnded = [raw] { raw->ended = true; };
        *out = c.release();
    });
}

vantor_status vantor_comm_free(vantor_comm* c) {
    if (c == nullptr) return VANTOR_OK;
    // Its port and timers belong to its thread's event loop, which may be
    // running them right now.
    if (!onOwnThread(c)) return refusedOnThisThread("freed");
    try {
        delete c;
    } catch (...) {
        // Nothing may leave a C call.
    }
    return VANTOR_OK;
}

const char* vantor_comm_error_description(const vantor_comm* c) {
    if (c == nullptr) return createError.c_str();
    return onOwnThread(c) ? c->error.c_str() : foreignError.c_str();
}

#define VANTOR_FIELD(type, name)                                                \
    vantor_status vantor_comm_get_##name(vantor_comm* c, type* value) {         \
        return call(c, [&](Vantor_Comm& v) { need(value, "value") = v.name; }); \
    }                                                                           \
    vantor_status vantor_comm_put_##name(vantor_comm* c, type value) {          \
        return call(c, [&](Vantor_Comm& v) { v.name = value; });                \
    }

vantor_status vantor_comm_get_df(vantor_comm* c, char* buffer, size_t size, size_t* length) {
    return call(c, [&](Vantor_Comm& v) { copyOut(v.df, buffer, size, length); });
}
vantor_status vantor_comm_put_df(vantor_comm* c, const char* df) {
    return call(c, [&](Vantor_Comm& v) { v.df = text(df, "df"); });
}
VANTOR_FIELD(int16_t, UnitIndex)
VANTOR_FIELD(vantor_boolean, fgTransferOK)
VANTOR_FIELD(vantor_boolean, fgComPortOpen)
VANTOR_FIELD(int32_t, datano)
VANTOR_FIELD(vantor_boolean, fg_Two_Display)
VANTOR_FIELD(vantor_boolean, bReadDataOK)

vantor_status vantor_comm_CheckFile(vantor_comm* c, vantor_boolean* YesNo) {
    return call(c, [&](Vantor_Comm& v) { v.CheckFile(need(YesNo, "YesNo")); });
}
vantor_status vantor_comm_ViewData(vantor_comm* c) {
    return call(c, [&](Vantor_Comm& v) { v.ViewData(); });
}
vantor_status vantor_comm_ReadDataLogger(vantor_comm* c) {
    return call(c, [&](Vantor_Comm& v) { v.ReadDataLogger(); });
}
vantor_status vantor_comm_ReadDataLogger_2(vantor_comm* c) {
    return call(c, [&](Vantor_Comm& v) { v.ReadDataLogger_2(); });
}
vantor_status vantor_comm_SCI_Init(vantor_comm* c) {
    return call(c, [&](Vantor_Comm& v) { v.SCI_Init(); });
}
vantor_status vantor_comm_put_Settings(vantor_comm* c, const char* sSettings) {
    return call(c, [&](Vantor_Comm& v) { v.Settings(text(sSettings, "sSettings")); });
}
vantor_status vantor_comm_get_Settings(vantor_comm* c, char* buffer, size_t size, size_t* length) {
    return call(c, [&](Vantor_Comm& v) { copyOut(v.Settings(), buffer, size, length); });
}
vantor_status vantor_comm_put_Port(vantor_comm* c, int16_t iPort) {
    return call(c, [&](Vantor_Comm& v) { v.Port(iPort); });
}
vantor_status vantor_comm_get_Port(vantor_comm* c, int16_t* iPort) {
    return call(c, [&](Vantor_Comm& v) { need(iPort, "iPort") = v.Port(); });
}
vantor_status vantor_comm_put_Baudrate(vantor_comm* c, int16_t iBaudRate) {
    return call(c, [&](Vantor_Comm& v) { v.Baudrate(iBaudRate); });
}
vantor_status vantor_comm_get_Baudrate(vantor_comm* c, int16_t* iBaudRate) {
    return call(c, [&](Vantor_Comm& v) { need(iBaudRate, "iBaudRate") = v.Baudrate(); });
}
vantor_status vantor_comm_put_AppPath(vantor_comm* c, const char* unitfilepath) {
    return call(c, [&](Vantor_Comm& v) { v.AppPath(text(unitfilepath, "unitfilepath")); });
}
vantor_status vantor_comm_Read_Status(vantor_comm* c, int32_t* FrameCount, int16_t* result) {
    return call(c, [&](Vantor_Comm& v) {
        vantor::Long frames = 0;
        const vantor::Integer r = v.Read_Status(frames);
        need(FrameCount, "FrameCount") = frames;
        if (result != nullptr) *result = r;
    });
}
vantor_status vantor_comm_GetParameter(vantor_comm* c, int16_t* iParameter, int32_t lower,
                                       int32_t count, int16_t* result) {
    return call(c, [&](Vantor_Comm& v) {
        vantor::VbArray<vantor::Integer> array;
        if (count > 0) {
            need(iParameter, "iParameter");
            if (static_cast<int64_t>(lower) + count - 1 > std::numeric_limits<int32_t>::max()) {
                throw RuntimeError(vantor::kErrSubscript);
            }
            array.redim(lower, lower + count - 1);
            for (int32_t i = 0; i < count; ++i) array(lower + i) = iParameter[i];
        }
        // Elements copied before a failure stay copied, as in the control.
        struct CopyBack {
            vantor::VbArray<vantor::Integer>& a;
            int16_t* out;
            int32_t lower, count;
            ~CopyBack() {
                for (int32_t i = 0; i < count; ++i) out[i] = a(lower + i);
            }
        } back{array, iParameter, lower, count > 0 ? count : 0};
        const vantor::Integer r = v.GetParameter(array);
        if (result != nullptr) *result = r;
    });
}
vantor_status vantor_comm_Start(vantor_comm* c, int16_t* result) {
    return call(c, [&](Vantor_Comm& v) {
        const vantor::Integer r = v.Start();
        if (result != nullptr) *result = r;
    });
}
vantor_status vantor_comm_GetFilename(vantor_comm* c, int32_t* idatano, char* filename, size_t size,
                                      size_t* length) {
    return call(c, [&](Vantor_Comm& v) {
        vantor::Long n = 0;
        vantor::String name;
        v.GetFilename(n, name);
        need(idatano, "idatano") = n;
        copyOut(name, filename, size, length);
    });
}
vantor_status vantor_comm_ReadUnitFile(vantor_comm* c) {
    return call(c, [&](Vantor_Comm& v) { v.ReadUnitFile(); });
}

vantor_status vantor_comm_process_events(vantor_comm* c, int32_t milliseconds) {
    return call(c, [&](Vantor_Comm&) {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
        c->ended = false;
        do {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            c->loop->waitForEvents(std::max(left, std::chrono::milliseconds(0)));
        } while (!c->ended && Clock::now() < deadline);
    });
}
vantor_status vantor_comm_abort(vantor_comm* c) {
    return call(c, [&](Vantor_Comm& v) { v.AbortTransfer(); });
}
vantor_status vantor_comm_set_device(vantor_comm* c, int16_t port, const char* device) {
    return call(c, [&](Vantor_Comm& v) { v.Ports().set(port, text(device, "device")); });
}
vantor_status vantor_comm_device_name(vantor_comm* c, char* buffer, size_t size, size_t* length) {
    return call(c, [&](Vantor_Comm& v) { copyOut(v.DeviceName(), buffer, size, length); });
}
vantor_status vantor_comm_outcome(vantor_comm* c, vantor_outcome* outcome) {
    return call(c, [&](Vantor_Comm& v) {
        need(outcome, "outcome") = static_cast<vantor_outcome>(v.LastTransferOutcome());
    });
}
vantor_status vantor_comm_stats(vantor_comm* c, vantor_stats* stats) {
    return call(c, [&](Vantor_Comm& v) {
        const vantor::TransferStats& s = v.Stats();
        need(stats, "stats") = vantor_stats{s.framesReceived, s.framesRejected, s.bytesSkipped,
                                            s.recordsLost, s.unnamedUnits};
    });
}
vantor_status vantor_comm_last_error(vantor_comm* c, int32_t* number, char* buffer, size_t size,
                                     size_t* length) {
    return call(c, [&](Vantor_Comm& v) {
        const auto& e = v.LastError();
        need(number, "number") = e ? e->number() : 0;
        copyOut(e ? e->description() : std::string(), buffer, size, length);
    });
}
vantor_status vantor_comm_set_read_timeout(vantor_comm* c, int32_t milliseconds) {
    return call(c, [&](Vantor_Comm& v) {
        if (milliseconds < 0) throw invalid("a negative read time-out");
        v.setReadTimeout(std::chrono::milliseconds(milliseconds));
    });
}
vantor_status vantor_comm_get_read_timeout(vantor_comm* c, int32_t* milliseconds) {
    return call(c, [&](Vantor_Comm& v) {
        need(milliseconds, "milliseconds") = clampedMs(v.readTimeout());
    });
}
vantor_status vantor_comm_set_transfer_limits(vantor_comm* c, int32_t timeout_ms, int32_t idle_ms) {
    return call(c, [&](Vantor_Comm& v) {
        if (timeout_ms < 0 || idle_ms < 0) throw invalid("a negative time limit");
        v.setTransferTimeout(std::chrono::milliseconds(timeout_ms));
        v.setIdleTimeout(std::chrono::milliseconds(idle_ms));
    });
}
vantor_status vantor_comm_get_transfer_limits(vantor_comm* c, int32_t* timeout_ms,
                                              int32_t* idle_ms) {
    return call(c, [&](Vantor_Comm& v) {
        need(timeout_ms, "timeout_ms") = clampedMs(v.transferTimeout());
        need(idle_ms, "idle_ms") = clampedMs(v.idleTimeout());
    });
}
vantor_status vantor_comm_grid_size(vantor_comm* c, int32_t* rows, int32_t* cols) {
    return call(c, [&](Vantor_Comm& v) {
        need(rows, "rows") = v.Grid().Rows();
        need(cols, "cols") = v.Grid().Cols();
    });
}
vantor_status vantor_comm_grid_cell(vantor_comm* c, int32_t row, int32_t col, char* buffer,
                                    size_t size, size_t* length) {
    return call(
        c, [&](Vantor_Comm& v) { copyOut(v.Grid().TextMatrix(row, col), buffer, size, length); });
}
vantor_status vantor_comm_panel_label(vantor_comm* c, int index, char* buffer, size_t size,
                                      size_t* length, vantor_boolean* visible) {
    return call(c, [&](Vantor_Comm& v) {
        vantor::StatusPanel& p = v.Panel();
        if (index < 0 || index > 5) throw RuntimeError(vantor::kErrSubscript);
        const vantor::Label& label =
            index == 5 ? p.Label3 : p.Label1[static_cast<std::size_t>(index)];
        copyOut(label.caption(), buffer, size, length);
        if (visible != nullptr) *visible = label.visible() ? VANTOR_TRUE : VANTOR_FALSE;
    });
}
vantor_status vantor_comm_panel_indicator(vantor_comm* c, vantor_boolean* visible,
                                          vantor_boolean* blinking, uint32_t* colour) {
    return call(c, [&](Vantor_Comm& v) {
        const vantor::StatusPanel& p = v.Panel();
        if (visible != nullptr) *visible = p.Shape1.visible() ? VANTOR_TRUE : VANTOR_FALSE;
        if (blinking != nullptr) *blinking = p.Timer1.enabled() ? VANTOR_TRUE : VANTOR_FALSE;
        if (colour != nullptr) *colour = static_cast<uint32_t>(p.Shape1.fillColour());
    });
}
vantor_status vantor_comm_set_record_handler(vantor_comm* c, vantor_record_fn fn, void* context) {
    return call(c, [&](Vantor_Comm& v) {
        if (fn == nullptr) {
            v.onRecordWritten = nullptr;
            return;
        }
        v.onRecordWritten = [fn, context](const vantor::RecordWritten& r) {
            vantor_record_written out{};
            out.sequence = r.sequence;
            out.is_time_stamp = r.timeStamp ? VANTOR_TRUE : VANTOR_FALSE;
            out.value = r.value;
            out.unit_code = r.unitCode;
            out.channel = r.channel;
            out.stamp = r.stamp.data();
            out.stamp_length = r.stamp.size();
            out.line = r.line.data();
            out.line_length = r.line.size();
            fn(context, &out);
        };
    });
}
vantor_status vantor_comm_download(vantor_comm* c, vantor_boolean keep_earlier,
                                   vantor_boolean blocking, char* kept, size_t size,
                                   size_t* length) {
    return call(c, [&](Vantor_Comm& v) {
        vantor::Download download(
            v, {.blocking = blocking != VANTOR_FALSE, .keepEarlier = keep_earlier != VANTOR_FALSE});
        download.start();
        copyOut(download.report().kept, kept, size, length);
    });
}
vantor_status vantor_comm_set_message_handler(vantor_comm* c, vantor_message_fn fn, void* context) {
    return call(c, [&](Vantor_Comm&) { c->messages->set(fn, context); });
}

}  // extern "C"
