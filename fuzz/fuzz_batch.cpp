// The blocking download fed an arbitrary stream.
#include "fuzz_support.h"

using namespace vantor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Control c;
    const std::string stream(reinterpret_cast<const char*>(data), size);
    for (size_t i = 0; i < stream.size(); i += 37) {
        c.serial->scheduleArrival(c.loop, 10, stream.substr(i, 37));
    }
    c.comm->ReadDataLogger();  // ends at the end marker or after the virtual time-out
    fuzz::checkDataFile(*c.comm);
    FUZZ_CHECK(!c.serial->isOpen() && !c.comm->fgComPortOpen);
    return 0;
}
