#include "fuzz_support.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace vantor::fuzz {

const std::string& scratch() {
    static const std::string dir = [] {
        std::string base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = base + "/vantor-fuzz-XXXXXX";
        if (mkdtemp(tmpl.data()) == nullptr) std::abort();
        return tmpl;
    }();
    return dir;
}

Control::Control() {
    auto backend = std::make_unique<FakeSerialBackend>();
    serial = backend.get();
    comm =
        std::make_unique<Vantor_Comm>(ControlPlatform{loop, messages, dates, std::move(backend)});
    comm->Port(1);
    comm->df = scratch() + "/d.dat";
}

std::string readWhole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void writeWhole(const std::string& path, const uint8_t* data, size_t size) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

void checkDataFile(const Vantor_Comm& comm) {
    const std::string file = readWhole(comm.df);
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
