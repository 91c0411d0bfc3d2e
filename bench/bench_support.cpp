#include "bench_support.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "kit/fake_control.h"
#include "kit/files.h"

namespace vantor::bench {

std::string makeScratchDir(const std::string& tag) {
    const char* base = std::getenv("VANTOR_BENCH_DIR");
    return testing::makeScratchDir("bench-" + tag, base != nullptr && *base != '\0'
                                                       ? std::string(base)
                                                       : testing::memoryTempBase());
}

void removeTree(const std::string& path) {
    testing::removeTree(path);
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string decodeOnFakePlatform(const std::string& stream, const std::string& dataFile,
                                 std::size_t readSize, std::vector<std::size_t>* batchEnds) {
    testing::FakeControl fake(Date{2012, 6, 4});
    Vantor_Comm& comm = *fake.comm;
    comm.Port(1);
    comm.df = dataFile;
    comm.Start();
    if (!comm.fgComPortOpen) {
        throw std::runtime_error(
            "the fake transfer could not be armed: " +
            (fake.messages.messages.empty() ? "" : fake.messages.messages.front()));
    }
    if (batchEnds != nullptr) batchEnds->clear();
    for (std::size_t at = 0; at < stream.size() && comm.fgComPortOpen; at += readSize) {
        fake.serial->arrive(stream.substr(at, readSize));
        if (batchEnds != nullptr) {
            struct stat st {};
            if (::stat(dataFile.c_str(), &st) != 0) throw std::runtime_error("stat " + dataFile);
            batchEnds->push_back(static_cast<std::size_t>(st.st_size));
        }
    }
    if (comm.LastTransferOutcome() != TransferOutcome::EndMarker) {
        throw std::runtime_error("the reference transfer did not reach the end marker");
    }
    return readWholeFile(dataFile);
}

double clockSeconds(clockid_t clock) {
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace vantor::bench
