// The unit-file loader fed an arbitrary file.
#include "fuzz_support.h"

using namespace vantor;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::Control c;
    fuzz::writeWhole(fuzz::scratch() + "/unit2.dat", data, size);
    c.comm->AppPath(fuzz::scratch());
    try {
        c.comm->ReadUnitFile();
    } catch (const RuntimeError& e) {
        FUZZ_CHECK(e.number() == kErrSubscript || e.number() == kErrInputPastEnd);
    }
    // The names reach the data file as they were stored.
    c.comm->df = fuzz::scratch() + "/d.dat";
    c.comm->Start();
    c.serial->arrive(
        "\x02"
        "41A50200012345\r\x02"
        "41010200012345\r");
    fuzz::checkDataFile(*c.comm);
    return 0;
}
