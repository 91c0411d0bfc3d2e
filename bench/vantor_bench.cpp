// Throughput of the event-driven download path (receiver, decoder, data file)
// on an in-memory stream, against the floor of only writing its output; and
// the decoder's and number formatter's cost per call.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>
#include <vantor/backends.h>
#include <vantor/status_panel.h>
#include <vantor/vantor_comm.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "kit/fake/date_source_fixed.h"
#include "kit/fake/message_loop_fake.h"
#include "kit/fake/message_sink_recording.h"
#include "kit/fake/serial_backend_fake.h"
#include "files/number_format.h"
#include "platform/textfile/output_file.h"
#include "protocol/frame_receiver.h"
#include "protocol/record_writer.h"
#include "sim/meter_memory.h"

namespace {

using namespace vantor;

constexpr int kFrames = 1'000'000;
constexpr double kGoalRatio = 3.0;

// The one-million-frame stream and the data file it must produce; built once.
struct Workload {
    std::string dir;
    std::string dataFile;
    std::string stream;
    std::string expected;
};

// Built on first use only, so that the micro-benchmarks alone start at once.
std::unique_ptr<Workload> gWorkload;

Workload& workload() {
    if (!gWorkload) {
        auto made = std::make_unique<Workload>();
        made->dir = bench::makeScratchDir("throughput");
        made->dataFile = made->dir + "/data.dat";
        made->stream = sim::transferStream(sim::standardMemory(kFrames));
        made->expected = bench::decodeOnFakePlatform(made->stream, made->dataFile, 1 << 16);
        gWorkload = std::move(made);
    }
    return *gWorkload;
}

// The stream cut into reads of one size, and where each event's write ends.
struct Prepared {
    std::vector<std::string> reads;
    std::vector<std::size_t> batchEnds;
};

const Prepared& prepared(std::size_t readSize) {
    static std::map<std::size_t, Prepared> cache;
    auto it = cache.find(readSize);
    if (it != cache.end()) return it->second;
    Workload& w = workload();
    Prepared p;
    for (std::size_t at = 0; at < w.stream.size(); at += readSize) {
        p.reads.push_back(w.stream.substr(at, readSize));
    }
    if (bench::decodeOnFakePlatform(w.stream, w.dataFile, readSize, &p.batchEnds) != w.expected) {
        throw std::runtime_error("the data file depends on the read size");
    }
    return cache.emplace(readSize, std::move(p)).first->second;
}

void setThroughput(benchmark::State& state, const Prepared& p) {
    const auto iterations = static_cast<std::int64_t>(state.iterations());
    state.SetItemsProcessed(iterations * kFrames);
    state.SetBytesProcessed(iterations * static_cast<std::int64_t>(workload().stream.size()));
    state.counters["events"] = static_cast<double>(p.reads.size());
}

// A control on the fake platform, fed one arrive() per read.
struct FakeHost {
    FakeMessageLoop loop;
    RecordingMessageSink messages;
    FixedDateSource dates{Date{2012, 6, 4}};
    FakeSerialBackend* serial = nullptr;
    std::unique_ptr<Vantor_Comm> comm;

    FakeHost() {
        auto backend = std::make_unique<FakeSerialBackend>();
        serial = backend.get();
        comm = std::make_unique<Vantor_Comm>(
            ControlPlatform{loop, messages, dates, std::move(backend)});
    }
};

void runDownloads(benchmark::State& state, const std::string& dataFile, bool check) {
    const Prepared& p = prepared(static_cast<std::size_t>(state.range(0)));
    FakeHost host;
    host.comm->Port(1);
    host.comm->df = dataFile;
    for (auto _ : state) {
        host.comm->Start();
        for (const std::string& bytes : p.reads) host.serial->arrive(bytes);
    }
    if (host.comm->LastTransferOutcome() != TransferOutcome::EndMarker ||
        host.comm->datano != kFrames || !host.messages.messages.empty()) {
        state.SkipWithError("the transfer did not end normally");
        return;
    }
    if (check && bench::readWholeFile(dataFile) != workload().expected) {
        state.SkipWithError("the data file is not the expected one");
        return;
    }
    setThroughput(state, p);
}

// Receiver + decoder + data file, through Vantor_Comm's receive event.
void BM_Download(benchmark::State& state) {
    runDownloads(state, workload().dataFile, true);
}
BENCHMARK(BM_Download)->Arg(256)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond);

// The same path with the data file on /dev/null: everything but the file's cost.
void BM_DownloadToDevNull(benchmark::State& state) {
    runDownloads(state, "/dev/null", false);
}
BENCHMARK(BM_DownloadToDevNull)->Arg(4096)->Unit(benchmark::kMillisecond);

void writeAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("write failed");
        data += n;
        size -= static_cast<std::size_t>(n);
    }
}

// The floor: the data file's exact bytes, in the batches the control writes
// them, to the same file, opened and closed as the control does.
void BM_WriteFloor(benchmark::State& state) {
    const Prepared& p = prepared(static_cast<std::size_t>(state.range(0)));
    const Workload& w = workload();
    for (auto _ : state) {
        int fd = ::open(w.dataFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            state.SkipWithError("cannot open the data file");
            return;
        }
        std::size_t done = 0;
        for (std::size_t end : p.batchEnds) {
            if (end > done) writeAll(fd, w.expected.data() + done, end - done);
            done = end;
        }
        ::close(fd);
    }
    setThroughput(state, p);
}
BENCHMARK(BM_WriteFloor)->Arg(256)->Arg(4096)->Arg(65536)->Unit(benchmark::kMillisecond);

// The receiver alone, its frames dropped.
void BM_ReceiveOnly(benchmark::State& state) {
    const Prepared& p = prepared(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        FrameReceiver receiver;
        TransferStats counters;
        FrameReceiver::Result result = FrameReceiver::Result::NeedMore;
        for (const std::string& bytes : p.reads) {
            std::size_t at = 0;
            while ((result = receiver.feed(bytes, at, counters)) ==
                   FrameReceiver::Result::Completed) {
            }
            if (result == FrameReceiver::Result::TransferEnded) break;
        }
        benchmark::DoNotOptimize(counters);
    }
    setThroughput(state, p);
}
BENCHMARK(BM_ReceiveOnly)->Arg(4096)->Unit(benchmark::kMillisecond);

// Cells of the stream's frames, by the receiver's rule.
std::vector<Cells> cellsOfStream(const std::string& stream, std::size_t frames) {
    std::vector<Cells> out;
    for (std::size_t f = 0; f < frames && (f + 1) * sim::kFrameSize <= stream.size(); ++f) {
        Frame frame{};
        std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(f * sim::kFrameSize), frame.size(),
                    frame.begin());
        out.push_back(cellsOf(frame));
    }
    return out;
}

// Frames of one kind (or all of them, in the stream's order) for the decoder.
std::vector<Cells> framesOfKind(int kind) {
    std::vector<Cells> all = cellsOfStream(sim::transferStream(sim::standardMemory(4096)), 4096);
    if (kind < 0) return all;
    std::vector<Cells> picked;
    for (const auto& c : all) {
        const bool time = c[14] == 4 && c[13] == 0;
        const bool extended = c[14] == 4 && !time;
        const int k = time ? 0 : extended ? 1 : 2;
        if (k == kind) picked.push_back(c);
    }
    return picked;
}

// One decode and line per iteration: 0 time stamps, 1 extended readings,
// 2 simple readings, -1 the stream's mix.
void BM_DecodeCells(benchmark::State& state) {
    const auto frames = framesOfKind(static_cast<int>(state.range(0)));
    const auto names = std::make_unique<UnitNames>();
    std::string line;
    std::size_t i = 0;
    for (auto _ : state) {
        const Cells& cells = frames[i];
        if (++i == frames.size()) i = 0;
        line.clear();
        appendRecordLine(line, 12345, decodeReading(cells), *names);
        benchmark::DoNotOptimize(line.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_DecodeCells)->ArgName("kind")->Arg(0)->Arg(1)->Arg(2)->Arg(-1);

// Values the decoder hands the formatter, from the standard memory's readings.
std::vector<double> decodedValues() {
    std::vector<double> values;
    for (const auto& cells : framesOfKind(-1)) {
        const Reading r = decodeReading(cells);
        if (r.kind != Reading::Kind::TimeStamp) values.push_back(r.value);
    }
    return values;
}

std::vector<double> valuesOf(int set) {
    switch (set) {
        case 0:
            return {1234500, 42, 7, 65535, 999999};  // whole numbers
        case 1:
            return {123.45, -0.25, 0.5, 3.1416, -12.5};  // fractions
        case 2:
            return {0.000000001, 1.5e-9, 2.5e-7, 0.0001234};  // small, still plain
        case 3:
            return {1.234e19, 1.5e-14, -9.87654321e20, 1e300};  // exponent form
        default:
            return decodedValues();
    }
}

// appendNumber into a reused line, as the decoder calls it. Sets: 0 whole,
// 1 fractions, 2 small, 3 exponent form, 4 the decoder's own values.
void BM_AppendNumber(benchmark::State& state) {
    const auto values = valuesOf(static_cast<int>(state.range(0)));
    std::string out;
    std::size_t i = 0;
    for (auto _ : state) {
        out.clear();
        appendNumber(out, values[i]);
        if (++i == values.size()) i = 0;
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_AppendNumber)->ArgName("set")->DenseRange(0, 4);

// formatNumber, which returns a new string, on the decoder's values.
void BM_FormatNumber(benchmark::State& state) {
    const auto values = valuesOf(4);
    std::size_t i = 0;
    for (auto _ : state) {
        std::string s = formatNumber(values[i]);
        if (++i == values.size()) i = 0;
        benchmark::DoNotOptimize(s.data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_FormatNumber);

// References for the formatter: the rounding conversion it is built on, and C's %.15G.
void BM_ToCharsScientific14(benchmark::State& state) {
    const auto values = valuesOf(4);
    char buf[40];
    std::size_t i = 0;
    for (auto _ : state) {
        auto r = std::to_chars(buf, buf + sizeof buf, values[i], std::chars_format::scientific, 14);
        if (++i == values.size()) i = 0;
        benchmark::DoNotOptimize(r.ptr);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ToCharsScientific14);

void BM_SnprintfG15(benchmark::State& state) {
    const auto values = valuesOf(4);
    char buf[40];
    std::size_t i = 0;
    for (auto _ : state) {
        int n = std::snprintf(buf, sizeof buf, "%.15G", values[i]);
        if (++i == values.size()) i = 0;
        benchmark::DoNotOptimize(n);
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_SnprintfG15);

// The download path rebuilt from the protocol's parts (the receiver, the
// frame's cells, the decoder and writer, OutputFile flushed once per read),
// so that a part can be swapped for a trial one and compared. BM_Download is
// the product's own figure.
void BM_PartsPipeline(benchmark::State& state) {
    const Prepared& p = prepared(static_cast<std::size_t>(state.range(0)));
    const Workload& w = workload();
    const auto names = std::make_unique<UnitNames>();
    std::string line;
    for (auto _ : state) {
        int fd = ::open(w.dataFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        OutputFile out(fd, w.dataFile, false);
        FrameReceiver receiver;
        Long decoded = 0;
        TransferStats counters;
        FrameReceiver::Result result = FrameReceiver::Result::NeedMore;
        for (const std::string& bytes : p.reads) {
            std::size_t at = 0;
            while ((result = receiver.feed(bytes, at, counters)) ==
                   FrameReceiver::Result::Completed) {
                const Long sequence = decoded++;
                if (receiver.escCount() >= kEscStopRecords) continue;
                line.clear();
                appendRecordLine(line, sequence, decodeReading(cellsOf(receiver.frame())), *names);
                out.writeLine(line);
            }
            out.flush();
            if (result == FrameReceiver::Result::TransferEnded) break;
        }
        out.close();
    }
    if (bench::readWholeFile(w.dataFile) != w.expected) {
        state.SkipWithError("the data file is not the expected one");
        return;
    }
    setThroughput(state, p);
}
BENCHMARK(BM_PartsPipeline)->ArgName("read")->Arg(4096)->Unit(benchmark::kMillisecond);

// The console report, then the cost of the download path against the write
// floor of the same read size, in CPU time (the cost itself, steady on a busy
// machine) and in real time.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    explicit RatioReporter(bool colour) : ConsoleReporter(colour ? OO_Defaults : OO_Tabular) {}

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            // The mean when repetitions are asked for, else the single run.
            if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "mean") continue;
            const std::string key = run.run_name.function_name + "/" + run.run_name.args;
            times_[key] = {run.GetAdjustedCPUTime(), run.GetAdjustedRealTime()};
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void Finalize() override {
        ConsoleReporter::Finalize();
        std::ostream& out = GetOutputStream();
        for (const auto& [key, time] : times_) {
            std::string readSize;
            if (key.rfind("BM_Download/", 0) == 0) {
                readSize = key.substr(key.find('/') + 1);
            } else if (key.rfind("BM_PartsPipeline/read:", 0) == 0) {
                readSize = key.substr(key.find(':') + 1);
            } else {
                continue;
            }
            auto floor = times_.find("BM_WriteFloor/" + readSize);
            if (floor == times_.end() || floor->second.cpu <= 0 || floor->second.real <= 0) {
                continue;
            }
            const double cpu = time.cpu / floor->second.cpu;
            const double real = time.real / floor->second.real;
            char text[200];
            std::snprintf(text, sizeof text,
                          "%-36s / BM_WriteFloor/%s: CPU %.2f, real %.2f (goal <= %.0f): %s\n",
                          key.c_str(), readSize.c_str(), cpu, real, kGoalRatio,
                          cpu <= kGoalRatio ? "met" : "MISSED");
            out << text;
        }
    }

  private:
    struct Times {
        double cpu = 0;
        double real = 0;
    };
    std::map<std::string, Times> times_;
};

}  // namespace

int main(int argc, char** argv) {
    // The reporter is ours, so the colour flag has to be read here.
    bool colour = ::isatty(STDOUT_FILENO) != 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--benchmark_color=false" || a == "--benchmark_color=no") colour = false;
        if (a == "--benchmark_color=true" || a == "--benchmark_color=yes") colour = true;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter(colour);
    int status = 0;
    try {
        benchmark::RunSpecifiedBenchmarks(&reporter);
    } catch (const std::exception& e) {
        std::cerr << "vantor_bench: " << e.what() << "\n";
        status = 1;
    }
    benchmark::Shutdown();
    if (gWorkload) bench::removeTree(gWorkload->dir);
    return status;
}
