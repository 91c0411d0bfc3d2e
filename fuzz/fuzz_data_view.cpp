// The data view reading an arbitrary data file with an arbitrary record count.
#include <cstring>

#include "fuzz_support.h"

using namespace vantor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    fuzz::Control c;
    int16_t count;
    std::memcpy(&count, data, 2);
    fuzz::writeWhole(c.comm->df, data + 2, size - 2);
    c.comm->datano = count;
    try {
        c.comm->ViewData();
        FUZZ_CHECK(c.comm->Grid().Rows() == count + 1 && c.comm->Grid().Cols() == 4);
    } catch (const RuntimeError& e) {
        FUZZ_CHECK(e.number() == kErrSubscript || e.number() == kErrInputPastEnd ||
                   e.number() == kErrOverflow || e.number() == kErrTypeMismatch);
    }
    return 0;
}
