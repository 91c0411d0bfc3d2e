// A control on the fake platform: virtual clock, scripted serial port, recorded message boxes
// and a fixed date.
#pragma once

#include <vantor/backends.h>
#include <vantor/status_panel.h>
#include <vantor/vantor_comm.h>

#include <functional>
#include <memory>

#include "kit/fake/date_source_fixed.h"
#include "kit/fake/message_loop_fake.h"
#include "kit/fake/message_sink_recording.h"
#include "kit/fake/serial_backend_fake.h"

namespace vantor::testing {

// The run-time error number `fn` raises, or 0.
int errorOf(const std::function<void()>& fn);

struct FakePlatform {
    explicit FakePlatform(Date today = Date{2009, 7, 30}) : dates(today) {}
    // For one control, which takes a new fake serial port with it.
    ControlPlatform platform();

    FakeMessageLoop loop;
    RecordingMessageSink messages;
    FixedDateSource dates;
    FakeSerialBackend* serial = nullptr;  // owned by the control
};

struct FakeControl : FakePlatform {
    explicit FakeControl(Date today = Date{2009, 7, 30})
        : FakePlatform(today), comm(std::make_unique<Vantor_Comm>(platform())) {}
    std::unique_ptr<Vantor_Comm> comm;
};

}  // namespace vantor::testing
