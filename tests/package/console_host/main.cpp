// console_host DEVICE DATAFILE: arms a download on DEVICE, says "armed",
// and waits for the meter. console_host --no-app: creates a control without
// a QCoreApplication, which must fail with a clear error.
#include <vantor/qt_platform.h>
#include <vantor/version.h>

#include <QCoreApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--no-app") == 0) {
        try {
            auto control = vantor::createControl();
        } catch (const vantor::RuntimeError& e) {
            std::printf("error %d: %s\n", static_cast<int>(e.number()), e.description().c_str());
            return 0;
        }
        return 1;
    }
    if (argc != 3) return 2;
    QCoreApplication app(argc, argv);
    auto control = vantor::createControl();
    control->Ports().set(1, argv[1]);
    control->Port(1);
    control->df = argv[2];
    control->onTransferEnded = [&app] { app.quit(); };
    control->Start();
    if (!control->fgComPortOpen) return 4;
    std::printf("armed on %s (Vantor Comm %s)\n", control->DeviceName().c_str(),
                VANTOR_COMM_VERSION);
    std::fflush(stdout);
    app.exec();
    std::printf("%d records, transfer %s\n", static_cast<int>(control->datano),
                control->fgTransferOK ? "OK" : "not complete");
    return control->fgTransferOK ? 0 : 1;
}
