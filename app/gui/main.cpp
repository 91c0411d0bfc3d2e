// vantor-comm-gui: downloads a meter's memory with the control's panel on screen.
#include <vantor/version.h>

#include <QApplication>
#include <QCommandLineParser>
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
    window.resize(1100, 700);
    window.show();
    if (parser.isSet(screenshot)) vantor::gui::runScreenshotDemo(window, parser.value(screenshot));
    return QCoreApplication::exec();
}
