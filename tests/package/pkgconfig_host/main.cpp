// pkgconfig_host DATAFILE: shows the first records of DATAFILE through the
// control's data view. Built with pkg-config alone.
#include <vantor/qt_platform.h>

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    QCoreApplication app(argc, argv);
    auto control = vantor::createControl();
    control->df = argv[1];
    control->datano = 3;
    try {
        control->ViewData();
    } catch (const vantor::RuntimeError& e) {
        std::printf("error %d: %s\n", static_cast<int>(e.number()), e.description().c_str());
        return 1;
    }
    const vantor::DataGrid& grid = control->Grid();
    for (vantor::Long row = 0; row < grid.Rows(); ++row) {
        for (vantor::Long col = 0; col < grid.Cols(); ++col)
            std::printf("%s%s", col ? "\t" : "", grid.TextMatrix(row, col).c_str());
        std::printf("\n");
    }
    return 0;
}
