#include "commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/data_file.h>
#include <vantor/qt_platform.h>
#include <vantor/replay_backend.h>

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>

#include "arguments.h"
#include "console_views.h"
#include "export_command.h"
#include "port_search.h"
#include "signal_watch.h"
#include "sim/pty_meter.h"
#include "transfer_runner.h"

namespace vantor::cli {

namespace {

std::string str(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// "error NUMBER: DESCRIPTION: what it means for FILE".
void printViewError(const RuntimeError& e, const std::string& file, std::optional<Long> wanted,
                    Long records) {
    std::string why;
    switch (e.number()) {
        case kErrSubscript:
            why = wanted ? "--records must be 1 or more" : file + " has no records";
            break;
        case kErrInputPastEnd:
            why = records == 0 ? file + " has no records"
                               : file + " has " + std::to_string(records) +
                                     " records, fewer than --records " +
                                     std::to_string(wanted.value_or(records));
            break;
        case kErrTypeMismatch:
            why = file + " is not a data file of this program (a channel is not a number)";
            break;
        case kErrOverflow:
            why =
                file + " is not a data file of this program (a channel lies outside -32768..32767)";
            break;
        case kErrFileNotFound:
        case kErrPathNotFound:
        case kErrPermissionDenied:
        case kErrPathFileAccess:
            break;  // the control names the file it could not open
        default:
            if (e.description().find(file) == std::string::npos) why = file;
            break;
    }
    std::fprintf(stderr, "error %d: %s%s%s\n", e.number(), e.description().c_str(),
                 why.empty() ? "" : ": ", why.c_str());
}

// A new file, never through a link or over one already there.
bool writeNewFile(const std::string& path, const std::string& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    const int err = errno;
    const bool closed = ::close(fd) == 0;
    errno = err;
    return done == bytes.size() && closed;
}

// Runs its function on every way out of a scope.
struct AtScopeExit {
    std::function<void()> fn;
    ~AtScopeExit() { fn(); }
};

}  // namespace

int downloadCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Downloads the meter's memory into a data file.");
    parser.addOptions({
        {"device",
         "The serial device that port N stands for; auto, or a pattern with wildcards "
         "(repeatable), arms every matching port and takes the one the meter sends on.",
         "PATH"},
        {"port", "The port number given to the control (default 1).", "N", "1"},
        {"app-path", "Folder of unit2.dat; the data file becomes DIR/yyyymmdd.dat.", "DIR"},
        {"data-file", "The data file to write.", "FILE"},
        {"blocking", "Download in one blocking call instead of by receive events."},
        {"timeout", "Longest wait for the end of the transfer.", "SECONDS"},
        {"idle",
         "Once the meter has sent something, end the transfer when it has been silent this "
         "long.",
         "SECONDS"},
        {"raw", "Append every byte read from the port to FILE.", "FILE"},
        {"view", "Print the data as a table after a successful transfer."},
        {"overwrite",
         "Replace an earlier download in the data file (by default it is kept as FILE.1, "
         "FILE.2, ...)."},
        {"export", "Also write the readings beside the data file as FORMAT: csv, tsv or jsonl.",
         "FORMAT"},
    });
    if (auto stop = parseArguments(parser, args, 0)) return *stop;

    TransferSetup setup;
    auto port = numberOption(parser, "port", -32768, 32767, true);
    if (!port) return kExitUsage;
    setup.port = static_cast<Integer>(*port);
    if (parser.isSet("timeout")) {
        setup.timeoutSeconds = numberOption(parser, "timeout", 0.001, 2e6, false);
        if (!setup.timeoutSeconds) return kExitUsage;
    }
    if (parser.isSet("idle")) {
        setup.idleSeconds = numberOption(parser, "idle", 0.001, 2e6, false);
        if (!setup.idleSeconds) return kExitUsage;
    }
    setup.keepEarlier = !parser.isSet("overwrite");
    const QStringList devices = parser.values("device");
    setup.device = str(parser.value("device"));
    if (parser.isSet("device") && (setup.device.empty() || devices.contains(""))) {
        std::fprintf(stderr,
                     "--device: give the serial device's path, such as /dev/ttyUSB0 (or leave "
                     "--device out for port N's own device)\n");
        return kExitUsage;
    }
    setup.appPath = str(parser.value("app-path"));
    setup.dataFile = str(parser.value("data-file"));
    setup.rawFile = str(parser.value("raw"));
    setup.blocking = parser.isSet("blocking");
    setup.view = parser.isSet("view");
    if (parser.isSet("export")) {
        setup.exportFormat = exportFormat(parser.value("export"));
        if (!setup.exportFormat) {
            std::fprintf(stderr, "--export: '%s' is not one of csv, tsv, jsonl\n",
                         parser.value("export").toLocal8Bit().constData());
            return kExitUsage;
        }
    }
    const auto loop = qtMessageLoop();
    const bool search = devices.size() > 1 || devices.contains("auto") ||
                        std::any_of(devices.begin(), devices.end(), [](const QString& d) {
                            return d.contains(QRegularExpression("[*?[]"));
                        });
    if (!search) {
        setup.backend = qtSerialBackend();
        return runTransfer(std::move(setup), *loop);
    }
    std::vector<std::string> patterns;
    for (const QString& d : devices) patterns.push_back(str(d));
    auto lookout = std::make_unique<ports::FoundPort>(*loop);
    ports::FoundPort& found = *lookout;
    setup.backend = std::move(lookout);
    const std::optional<double> timeout = setup.timeoutSeconds;
    const Integer portNumber = setup.port;
    setup.findPort = [&, patterns, timeout, portNumber](Vantor_Comm& comm) {
        const std::vector<std::string> candidates = ports::portsMatching(patterns);
        if (candidates.empty()) {
            std::fprintf(stderr,
                         "--device: no serial port matches %s; 'vantor-comm list' shows them\n",
                         devices.join(", ").toLocal8Bit().constData());
            return static_cast<int>(kExitNotArmed);
        }
        // runTransfer's own watch catches the signals meanwhile.
        bool opened = false;
        const auto device = ports::findMeter(
            candidates, *loop, found,
            timeout
                ? std::optional(std::chrono::milliseconds(static_cast<long long>(*timeout * 1000)))
                : std::nullopt,
            [] { return SignalWatch::received() != 0; }, opened);
        if (SignalWatch::received() != 0) return 128 + SignalWatch::received();
        if (!opened) {
            std::fprintf(stderr, "no matching port could be opened\n");
            return static_cast<int>(kExitNotArmed);
        }
        if (!device) {
            std::fprintf(stderr, "no meter sent a frame before the timeout\n");
            return static_cast<int>(kExitTimeout);
        }
        comm.Ports().set(portNumber, *device);
        return static_cast<int>(kExitOk);
    };
    return runTransfer(std::move(setup), *loop);
}

// Reads the records view shows: `wanted` of them, or all up to the last
// whole one, handing each to `take`. Returns how many.
Long readRecords(const std::string& file, std::optional<Long> wanted,
                 const std::function<void(Long, const DataRecord&)>& take) {
    DataFileReader reader(file);
    Long n = 0;
    while (wanted ? n < *wanted : !reader.atEnd()) {
        DataRecord record;
        try {
            record = reader.read();
        } catch (const RuntimeError& e) {
            // Without a count, a record cut short at the end is not one.
            if (wanted || e.number() != kErrInputPastEnd) throw;
            break;
        }
        take(++n, record);
    }
    return n;
}

int viewCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Shows a data file as a table.");
    parser.addPositionalArgument("FILE", "The data file.");
    parser.addOptions({
        {"records", "Show the first N records (default: all).", "N"},
        {"tsv", "One line per row, cells separated by TABs, exactly as they are."},
        {"format", "Write the readings as export does: csv, tsv or jsonl.", "FORMAT"},
    });
    addExportOptions(parser, false);
    if (auto stop = parseArguments(parser, args, 1)) return *stop;
    if (parser.isSet("format")) {
        if (parser.isSet("records") || parser.isSet("tsv")) {
            std::fprintf(stderr, "--format writes every reading: leave out --records and --tsv\n");
            return kExitUsage;
        }
        auto options = exportOptions(parser);
        if (!options) return kExitUsage;
        return runExport(str(parser.positionalArguments()[0]), *options,
                         str(parser.value("output")));
    }

    std::string file = str(parser.positionalArguments()[0]);
    std::optional<Long> wanted;
    if (parser.isSet("records")) {
        auto n = numberOption(parser, "records", -2147483648.0, 2147483647.0, true);
        if (!n) return kExitUsage;
        if (*n < 1) {
            std::fprintf(stderr, "--records %.0f: view shows 1 record or more\n", *n);
            return kExitUsage;
        }
        wanted = static_cast<Long>(*n);
    }
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fprintf(stderr, "cannot view %s: it is a folder; give a data file in it\n",
                     file.c_str());
        return kExitFailure;
    }
    if (::stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        std::fprintf(stderr,
                     "cannot view %s: it is not a regular file (a pipe or a device) and may "
                     "never end; save the data in a file and view that\n",
                     file.c_str());
        return kExitFailure;
    }

    // Twice through the file, holding one record at a time: the first pass
    // finds every error and the columns' widths before anything is printed.
    TablePrinter table(stdout, parser.isSet("tsv"));
    Long records = 0;
    struct OutputFailed {};
    try {
        readRecords(file, wanted, [&](Long i, const DataRecord& r) {
            table.measure(dataViewCells(i, r));
            records = i;
        });
        if (records == 0) throw RuntimeError(kErrSubscript);
        table.printHeader();
        readRecords(file, records, [&](Long i, const DataRecord& r) {
            table.print(dataViewCells(i, r));
            if (standardOutputFailed()) throw OutputFailed{};  // the program's end says so
        });
    } catch (const OutputFailed&) {
        return kExitOk;
    } catch (const RuntimeError& e) {
        std::fflush(stdout);
        printViewError(e, file, wanted, records);
        return kExitFailure;
    }
    std::fflush(stdout);
    standardOutputFailed();  // while errno is the flush's
    return kExitOk;
}

int decodeCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Replays a raw capture through the receiver and decoder into a data file.");
    parser.addPositionalArgument("RAWFILE",
                                 "A capture written by download --raw, or - for standard input.");
    parser.addOptions({
        {"data-file", "The data file to write.", "FILE"},
        {"blocking", "Use the blocking download's framing."},
        {"app-path", "Folder of unit2.dat; the data file becomes DIR/yyyymmdd.dat.", "DIR"},
        {"overwrite",
         "Replace an earlier data file (by default it is kept as FILE.1, FILE.2, ...)."},
    });
    if (auto stop = parseArguments(parser, args, 1)) return *stop;

    const std::string rawFile = str(parser.positionalArguments()[0]);
    if (rawFile != "-") {
        // A device or a FIFO may never end, and a folder is no capture.
        struct stat st {};
        const int fd = ::open(rawFile.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0 || ::fstat(fd, &st) != 0) {
            printError(fileError(errno, rawFile, true));
            return kExitFailure;
        }
        ::close(fd);
        if (!S_ISREG(st.st_mode)) {
            std::fprintf(stderr,
                         S_ISDIR(st.st_mode)
                             ? "cannot decode %s: it is a folder; give a capture file in it\n"
                             : "cannot decode %s: it is not a regular file (a device, pipe or "
                               "socket) and may never end; save the capture in a file, or give "
                               "- to read standard input to its end\n",
                         rawFile.c_str());
            return kExitFailure;
        }
    }
    const auto loop = qtMessageLoop();
    TransferSetup setup;
    setup.backend = replayBackend(*loop, rawFile);
    setup.appPath = str(parser.value("app-path"));
    setup.dataFile = str(parser.value("data-file"));
    setup.blocking = parser.isSet("blocking");
    setup.keepEarlier = !parser.isSet("overwrite");
    setup.showPanel = false;
    setup.replayFrom = rawFile;
    int status = runTransfer(std::move(setup), *loop);
    // A capture that ends before the end marker is a short capture, not a lost device.
    return status == kExitDeviceLost ? kExitTimeout : status;
}

int demoCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Starts a simulated meter on a pseudo-terminal, downloads from it through the real "
        "serial path and prints the table.");
    parser.addOptions({{"keep", "Keep the folder with the unit file and data file."}});
    if (auto stop = parseArguments(parser, args, 0)) return *stop;
    const bool keep = parser.isSet("keep");

    // A fresh private folder: nothing can have been planted in it.
    // A relative TMPDIR would put the folder wherever the program runs.
    const char* tmpdir = std::getenv("TMPDIR");
    const std::string temp = tmpdir != nullptr && tmpdir[0] == '/' ? tmpdir : "/tmp";
    std::string dir = temp + "/vantor-demo-XXXXXX";
    if (::mkdtemp(dir.data()) == nullptr) {
        std::fprintf(stderr,
                     "cannot make a folder for the demo in %s: %s; set TMPDIR to a folder you "
                     "may write in\n",
                     temp.c_str(), std::strerror(errno));
        return kExitFailure;
    }
    const std::string unitFile = unitFileName(dir);
    const std::string dataFile = dataFileName(dir, LocalDateSource().today());
    // Only the files the demo made go, so anything else put there keeps the folder.
    AtScopeExit cleanUp{[&] {
        if (!keep) {
            ::unlink(unitFile.c_str());
            ::unlink(dataFile.c_str());
            if (::rmdir(dir.c_str()) == 0) {
                std::fprintf(stderr, "removed the demo's folder %s\n", dir.c_str());
                return;
            }
        }
        std::fprintf(stderr, "kept the demo's folder %s%s\n", dir.c_str(),
                     keep ? "" : ": it holds files the demo did not make");
    }};
    if (!writeNewFile(unitFile, sim::unitFile())) {
        std::fprintf(stderr, "cannot write the unit file %s: %s\n", unitFile.c_str(),
                     std::strerror(errno));
        return kExitFailure;
    }

    std::unique_ptr<sim::PtyMeter> meter;
    try {
        meter = std::make_unique<sim::PtyMeter>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot start the simulated meter: %s\n", e.what());
        return kExitFailure;
    }
    std::fprintf(stderr, "simulated meter on %s; unit file and data file in %s (%s)\n",
                 meter->device().c_str(), dir.c_str(),
                 keep ? "kept afterwards" : "removed afterwards; --keep keeps it");

    const auto loop = qtMessageLoop();
    TransferSetup setup;
    setup.backend = qtSerialBackend();
    setup.device = meter->device();
    setup.appPath = dir;
    setup.dataFile = dataFile;  // the day's file, named here so that it can be removed
    setup.view = true;
    setup.timeoutSeconds = 60;
    const std::string stream = sim::transferStream(sim::sessionMemory(40));
    setup.onArmed = [&] {
        // Give the operator a moment to see the armed panel, then press SEND.
        QTimer::singleShot(1500, [&] { meter->sendAsync(stream, true); });
    };
    // SIGINT and SIGTERM end the transfer here too, so the folder goes all the same.
    return runTransfer(std::move(setup), *loop);
}

}  // namespace vantor::cli
