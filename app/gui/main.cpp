// vantor-comm-gui: downloads a meter's memory with the control's panel on screen.
#include <vantor/version.h>

#include <QApplication>
#include <QCommandLineParser>
#include <cstdio>
#include <memory>
#include <string_view>

#include "main_window.h"
#include "screenshot_demo.h"

namespace {

void describe(QCommandLineParser& parser, const QCommandLineOption& screenshot) {
    parser.setApplicationDescription("Downloads the readings a hand-held meter has logged.");
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(screenshot);
}

// --help and --version need no display.
bool onlyAsksForText(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "-h" || a == "--help" || a == "--help-all" || a == "-v" || a == "--version") {
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    QCommandLineOption screenshot("demo-screenshot", "Simulated download, then a picture.", "PNG");
    screenshot.setFlags(QCommandLineOption::HiddenFromHelp);
    QCommandLineParser parser;
    describe(parser, screenshot);
    const QCommandLineOption dateOrder(
        "date-order", "The time stamps' date group for the charts and exports: ymd, dmy or mdy.",
        "ORDER", "ymd");
    const QCommandLineOption zone("tz", "The meter's clock is local time in ZONE.", "ZONE");
    parser.addOption(dateOrder);
    parser.addOption(zone);

    std::unique_ptr<QCoreApplication> app;
    if (onlyAsksForText(argc, argv)) {
        app = std::make_unique<QCoreApplication>(argc, argv);
    } else {
        app = std::make_unique<QApplication>(argc, argv);
    }
    QCoreApplication::setOrganizationName("vantor-comm");
    QCoreApplication::setApplicationName("vantor-comm-gui");
    QCoreApplication::setApplicationVersion(VANTOR_COMM_VERSION);
    parser.process(*app);

    vantor::gui::MainWindow window;
    const QString order = parser.value(dateOrder);
    if (order != "ymd" && order != "dmy" && order != "mdy") {
        std::fprintf(stderr, "--date-order: '%s' is not one of ymd, dmy, mdy\n",
                     order.toLocal8Bit().constData());
        return 2;
    }
    try {
        window.setClock(order == "dmy"   ? vantor::DateOrder::Dmy
                        : order == "mdy" ? vantor::DateOrder::Mdy
                                         : vantor::DateOrder::Ymd,
                        parser.value(zone).toStdString());
    } catch (const vantor::RuntimeError& e) {
        std::fprintf(stderr, "--tz: %s\n", e.description().c_str());
        return 2;
    }
    window.resize(1100, 700);
    window.show();
    if (parser.isSet(screenshot)) vantor::gui::runScreenshotDemo(window, parser.value(screenshot));
    return QCoreApplication::exec();
}
