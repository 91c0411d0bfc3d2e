// The event-driven receiver and decoder fed arbitrary bytes in arbitrary reads.
#include "fuzz_support.h"

using namespace vantor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Control c;
    c.comm->Start();
    // Each read is a length byte (its low six bits) and that many bytes; a
    // length byte with its top bit set also lets half a second pass.
    size_t pos = 0;
    while (pos < size) {
        uint8_t head = data[pos++];
        size_t n = std::min<size_t>(head & 63, size - pos);
        c.serial->arrive(std::string(reinterpret_cast<const char*>(data + pos), n));
        pos += n;
        if (head & 0x80) c.loop.advance(std::chrono::milliseconds(500));
        if ((head & 0x40) && pos == size) c.serial->lose();
    }
    fuzz::checkDataFile(*c.comm);
    if (c.comm->fgTransferOK) FUZZ_CHECK(!c.serial->isOpen() && !c.comm->fgComPortOpen);
    return 0;
}
