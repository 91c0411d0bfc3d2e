#include "bench_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "control/vantor_comm.h"
#include "platform/fake/date_source_fixed.h"
#include "platform/fake/message_loop_fake.h"
#include "platform/fake/message_sink_recording.h"
#include "platform/fake/serial_backend_fake.h"

namespace vantor::bench {

namespace {

bool writableDir(const char* path) {
    struct stat st {};
    return ::stat(path, &st) == 0 && S_ISDIR(st.st_mode) && ::access(path, W_OK) == 0;
}

}  // namespace

std::string makeScratchDir(const std::string& tag) {
    const char* base = std::getenv("VANTOR_BENCH_DIR");
    if (base == nullptr || *base == '\0') base = writableDir("/dev/shm") ? "/dev/shm" : "/tmp";
    std::filesystem::path dir =
        std::filesystem::path(base) / ("vantor-bench-" + tag + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

void removeTree(const std::string& path) {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
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
    FakeMessageLoop loop;
    RecordingMessageSink messages;
    FixedDateSource dates{Date{2012, 6, 4}};
    auto backend = std::make_unique<FakeSerialBackend>();
    FakeSerialBackend* serial = backend.get();
    Vantor_Comm comm(ControlPlatform{loop, messages, dates, std::move(backend)});
    comm.Port(1);
    comm.df = dataFile;
    comm.Start();
    if (!comm.fgComPortOpen) {
        throw std::runtime_error("the fake transfer could not be armed: " +
                                 (messages.messages.empty() ? "" : messages.messages.front()));
    }
    if (batchEnds != nullptr) batchEnds->clear();
    for (std::size_t at = 0; at < stream.size() && comm.fgComPortOpen; at += readSize) {
        serial->arrive(stream.substr(at, readSize));
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
