#include "commands.h"

#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <cerrno>
#include <cstdio>
#include <fstream>

#include "arguments.h"
#include "console_views.h"
#include "files/unit_file.h"
#include "platform/item_reader.h"
#include "platform/output_file.h"
#include "platform/qt/message_loop_qt.h"
#include "platform/qt/serial_backend_qt.h"
#include "platform/serial_backend_replay.h"
#include "sim/meter_simulator.h"
#include "transfer_runner.h"

namespace vantor::cli {

namespace {

std::string str(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// Records (four items each) in a data file; nothing when it cannot be read.
std::optional<Long> countRecords(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rbe");
    if (f == nullptr) return std::nullopt;
    ItemReader in(f);
    long long items = 0;
    try {
        while (!in.atEnd()) {
            in.readText();
            ++items;
        }
    } catch (const RuntimeError&) {
    }
    return static_cast<Long>(std::min<long long>(items / 4, 0x7fffffff));
}

}  // namespace

int downloadCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Downloads the meter's memory into a data file.");
    parser.addOptions({
        {"device", "The serial device that port N stands for.", "PATH"},
        {"port", "The port number given to the control (default 1).", "N", "1"},
        {"app-path", "Folder of unit2.dat; the data file becomes DIR/yyyymmdd.dat.", "DIR"},
        {"data-file", "The data file to write.", "FILE"},
        {"blocking", "Download in one blocking call instead of by receive events."},
        {"timeout", "Longest wait for the end of the transfer.", "SECONDS"},
        {"raw", "Append every byte read from the port to FILE.", "FILE"},
        {"view", "Print the data as a table after a successful transfer."},
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
    setup.device = str(parser.value("device"));
    setup.appPath = str(parser.value("app-path"));
    setup.dataFile = str(parser.value("data-file"));
    setup.rawFile = str(parser.value("raw"));
    setup.blocking = parser.isSet("blocking");
    setup.view = parser.isSet("view");
    setup.backend = std::make_unique<QtSerialBackend>();
    QtMessageLoop loop;
    return runTransfer(std::move(setup), loop);
}

int viewCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription("Shows a data file as a table.");
    parser.addPositionalArgument("FILE", "The data file.");
    parser.addOptions({
        {"records", "Show the first N records (default: all).", "N"},
        {"tsv", "One line per row, cells separated by TABs, exactly as they are."},
    });
    if (auto stop = parseArguments(parser, args, 1)) return *stop;

    std::string file = str(parser.positionalArguments()[0]);
    Long records = 0;
    if (parser.isSet("records")) {
        auto n = numberOption(parser, "records", -2147483648.0, 2147483647.0, true);
        if (!n) return kExitUsage;
        records = static_cast<Long>(*n);
    } else {
        // An unreadable file still goes to the control, which says why.
        records = countRecords(file).value_or(1);
    }

    QtMessageLoop loop;
    ConsoleMessageSink messages;
    LocalDateSource dates;
    Vantor_Comm comm(ControlPlatform{loop, messages, dates, std::make_unique<QtSerialBackend>()});
    comm.df = file;
    comm.datano = records;
    try {
        comm.ViewData();
    } catch (const RuntimeError& e) {
        printError(e);
        return kExitFailure;
    }
    printGrid(comm.Grid(), stdout, parser.isSet("tsv"));
    return kExitOk;
}

int decodeCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Replays a raw capture through the receiver and decoder into a data file.");
    parser.addPositionalArgument("RAWFILE", "A capture written by download --raw.");
    parser.addOptions({
        {"data-file", "The data file to write.", "FILE"},
        {"blocking", "Use the blocking download's framing."},
        {"app-path", "Folder of unit2.dat; the data file becomes DIR/yyyymmdd.dat.", "DIR"},
    });
    if (auto stop = parseArguments(parser, args, 1)) return *stop;

    std::string rawFile = str(parser.positionalArguments()[0]);
    if (std::FILE* f = std::fopen(rawFile.c_str(), "rbe")) {
        std::fclose(f);
    } else {
        printError(fileErrorFromErrno(
            errno, true, QFileInfo(QString::fromLocal8Bit(rawFile.c_str())).dir().exists(),
            rawFile));
        return kExitFailure;
    }
    QtMessageLoop loop;
    TransferSetup setup;
    setup.backend = std::make_unique<ReplaySerialBackend>(loop, rawFile);
    setup.appPath = str(parser.value("app-path"));
    setup.dataFile = str(parser.value("data-file"));
    setup.blocking = parser.isSet("blocking");
    setup.showPanel = false;
    setup.replay = true;
    int status = runTransfer(std::move(setup), loop);
    // A capture that ends before the end marker is a short capture, not a lost device.
    return status == kExitDeviceLost ? kExitTimeout : status;
}

int demoCommand(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Starts a simulated meter on a pseudo-terminal, downloads from it through the real "
        "serial path and prints the table.");
    if (auto stop = parseArguments(parser, args, 0)) return *stop;

    QString folder =
        QDir::temp().filePath(QString("vantor-demo-%1").arg(QCoreApplication::applicationPid()));
    QDir().mkpath(folder);
    std::string dir = str(folder);
    std::ofstream(dir + "/unit2.dat", std::ios::binary) << sim::unitFile();

    std::unique_ptr<sim::PtyMeter> meter;
    try {
        meter = std::make_unique<sim::PtyMeter>();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "cannot start the simulated meter: %s\n", e.what());
        return kExitFailure;
    }
    std::fprintf(stderr, "simulated meter on %s; unit file and data file in %s\n",
                 meter->device().c_str(), dir.c_str());

    QtMessageLoop loop;
    TransferSetup setup;
    setup.backend = std::make_unique<QtSerialBackend>();
    setup.device = meter->device();
    setup.appPath = dir;
    setup.view = true;
    setup.timeoutSeconds = 60;
    const std::string stream = sim::transferStream(sim::standardMemory(40));
    setup.onArmed = [&] {
        // Give the operator a moment to see the armed panel, then press SEND.
        QTimer::singleShot(1500, [&] { meter->sendAsync(stream, true); });
    };
    return runTransfer(std::move(setup), loop);
}

}  // namespace vantor::cli
