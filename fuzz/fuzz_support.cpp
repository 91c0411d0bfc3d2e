#include "fuzz_support.h"

#include <algorithm>

#include "kit/files.h"

namespace vantor::fuzz {

const std::string& scratch() {
    static const testing::ScratchDir dir("fuzz", testing::memoryTempBase());
    return dir.path();
}

Control::Control() {
    comm->Port(1);
    comm->df = scratch() + "/d.dat";
}

void writeWhole(const std::string& path, const uint8_t* data, size_t size) {
    testing::writeFile(path, std::string(reinterpret_cast<const char*>(data), size));
}

void checkDataFile(const Vantor_Comm& comm) {
    const std::string file = testing::readFile(comm.df);
    long lines = 0;
    std::size_t start = 0;
    for (std::size_t at; (at = file.find("\r\n", start)) != std::string::npos; start = at + 2) {
        // A record line has four items. Unit names are written as they are, so a
        // name may bring commas and quotes of its own; the line still has its three.
        long commas = std::count(file.begin() + static_cast<long>(start),
                                 file.begin() + static_cast<long>(at), ',');
        FUZZ_CHECK(commas >= 3);
        ++lines;
    }
    FUZZ_CHECK(start == file.size());
    FUZZ_CHECK(lines == comm.datano);
}

}  // namespace vantor::fuzz
