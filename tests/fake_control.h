// A control on the fake platform: virtual clock, scripted serial port,
// recorded message boxes, a fixed date, and a scratch folder.
#pragma once

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>

#include "control/vantor_comm.h"
#include "platform/fake/date_source_fixed.h"
#include "platform/fake/message_loop_fake.h"
#include "platform/fake/message_sink_recording.h"
#include "platform/fake/serial_backend_fake.h"

namespace vantor::testing {

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
  public:
    ScratchDir();
    ~ScratchDir();
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

  private:
    std::filesystem::path path_;
};

std::string readFile(const std::string& path);
// The run-time error number `fn` raises, or 0.
int errorOf(const std::function<void()>& fn);
void writeFile(const std::string& path, const std::string& bytes);

struct FakeControl {
    FakeControl();

    FakeMessageLoop loop;
    RecordingMessageSink messages;
    FixedDateSource dates{Date{2009, 7, 30}};
    FakeSerialBackend* serial = nullptr;  // owned by the control
    std::unique_ptr<Vantor_Comm> comm;
};

}  // namespace vantor::testing
