// A control on the fake platform for the fuzz targets, and the checks they share.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "control/vantor_comm.h"
#include "platform/fake/date_source_fixed.h"
#include "platform/fake/message_loop_fake.h"
#include "platform/fake/message_sink_recording.h"
#include "platform/fake/serial_backend_fake.h"

namespace vantor::fuzz {

// A scratch folder for the whole run (on tmpfs when there is one).
const std::string& scratch();

struct Control {
    Control();
    FakeMessageLoop loop;
    RecordingMessageSink messages;
    FixedDateSource dates{Date{2009, 7, 30}};
    FakeSerialBackend* serial = nullptr;
    std::unique_ptr<Vantor_Comm> comm;
};

std::string readWhole(const std::string& path);
void writeWhole(const std::string& path, const uint8_t* data, size_t size);

// Every record counted is one whole line in the data file, and nothing else is there.
void checkDataFile(const Vantor_Comm& comm);

#define FUZZ_CHECK(cond)                                                                   \
    do {                                                                                   \
        if (!(cond)) {                                                                     \
            std::fprintf(stderr, "check failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                  \
        }                                                                                  \
    } while (0)

}  // namespace vantor::fuzz
