// vantor-comm: downloads the readings a hand-held meter has logged, shows a
// finished data file, replays captures and simulates a meter.
#include <vantor/version.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#ifdef VANTOR_CLI_PLOT
#include <QApplication>
#endif

#include "commands.h"
#include "console_views.h"
#include "export_command.h"
#include "station.h"
#include "transfer_runner.h"

namespace {

const char* const kUsage =
    "Usage: vantor-comm COMMAND [OPTIONS]\n"
    "\n"
    "Commands:\n"
    "  list       the serial ports, their stable names and who holds them\n"
    "  download   download the meter's memory into a data file\n"
    "  view       show a data file as a table\n"
    "  export     a data file's readings as CSV, TSV or JSON Lines\n"
    "  plot       a data file's readings as charts in a PNG, SVG or PDF file\n"
    "  decode     turn a raw capture into a data file\n"
    "  station    stay armed on every port and archive each download\n"
    "  simulate   a meter on a pseudo-terminal\n"
    "  demo       download from a simulated meter and show the table\n"
    "\n"
    "Run 'vantor-comm COMMAND --help' for the options of a command.\n";

// Qt's own chatter ("QStandardPaths: XDG_RUNTIME_DIR not set" without a
// login session) is no message of the program's, which prints its own; a
// developer who sets QT_LOGGING_RULES gets it back.
void quietQt(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    static const bool asked = std::getenv("QT_LOGGING_RULES") != nullptr;
    if (!asked && (type == QtDebugMsg || type == QtInfoMsg || type == QtWarningMsg)) return;
    std::fputs(qPrintable(qFormatLogMessage(type, context, message) + '\n'), stderr);
}

int run(int argc, char** argv) {
    // The charts are widgets: plot draws them without a display.
    [[maybe_unused]] const bool plot = argc > 1 && std::strcmp(argv[1], "plot") == 0;
    std::unique_ptr<QCoreApplication> app;
#ifdef VANTOR_CLI_PLOT
    if (plot) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        app = std::make_unique<QApplication>(argc, argv);
    }
#endif
    if (!app) app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName("vantor-comm");
    QCoreApplication::setApplicationVersion(VANTOR_COMM_VERSION);
    QStringList args = QCoreApplication::arguments();
    if (args.size() < 2) {
        std::fputs(kUsage, stderr);
        return vantor::cli::kExitUsage;
    }
    QString command = args[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsage, stdout);
        return vantor::cli::kExitOk;
    }
    if (command == "--version") {
        std::printf("vantor-comm %s\n", VANTOR_COMM_VERSION);
        return vantor::cli::kExitOk;
    }
    QStringList rest = args.mid(2);
    rest.prepend("vantor-comm " + command);
    if (command == "list") return vantor::cli::listCommand(rest);
    if (command == "download") return vantor::cli::downloadCommand(rest);
    if (command == "view") return vantor::cli::viewCommand(rest);
    if (command == "export") return vantor::cli::exportCommand(rest);
    if (command == "plot") {
#ifdef VANTOR_CLI_PLOT
        return vantor::cli::plotCommand(rest);
#else
        std::fprintf(stderr, "vantor-comm: plot was not built (it needs Qt Charts and Qt SVG)\n");
        return vantor::cli::kExitFailure;
#endif
    }
    if (command == "decode") return vantor::cli::decodeCommand(rest);
    if (command == "simulate") return vantor::cli::simulateCommand(rest);
    if (command == "station") return vantor::cli::stationCommand(rest);
    if (command == "demo") return vantor::cli::demoCommand(rest);
    std::fprintf(stderr, "vantor-comm: unknown command '%s'\n\n%s",
                 command.toLocal8Bit().constData(), kUsage);
    return vantor::cli::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
    qInstallMessageHandler(quietQt);
    return vantor::cli::finishStandardOutput(run(argc, argv));
}
