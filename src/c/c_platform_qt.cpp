#include <QCoreApplication>

#include "c/c_platform.h"

namespace vantor {

// The application a host without Qt gets; it lives as long as the process.
void prepareCHost() {
    if (QCoreApplication::instance() != nullptr) return;
    static int argc = 1;
    static char name[] = "vantor-comm";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    (void)app;
}

}  // namespace vantor
