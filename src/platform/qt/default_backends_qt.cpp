#include <vantor/qt_platform.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

#include "platform/default_backends.h"
#include "platform/qt/message_loop_qt.h"
#include "platform/qt/serial_backend_qt.h"

namespace vantor {

namespace {

// QTimer and QSerialPort need both; without them they fail quietly or crash.
void requireEventLoop() {
    if (QCoreApplication::instance() == nullptr) {
        throw RuntimeError(kErrInvalidCall,
                           "Invalid procedure call or argument: Vantor Comm needs a "
                           "QCoreApplication; create one (QCoreApplication app(argc, argv)) "
                           "before the control");
    }
    if (QAbstractEventDispatcher::instance(QThread::currentThread()) == nullptr) {
        throw RuntimeError(kErrInvalidCall,
                           "Invalid procedure call or argument: Vantor Comm needs a Qt event "
                           "loop on the thread that creates it; create the control on the "
                           "application's thread or in a QThread");
    }
}

}  // namespace

std::shared_ptr<MessageLoop> qtMessageLoop() {
    requireEventLoop();
    return std::make_shared<QtMessageLoop>();
}

std::unique_ptr<SerialBackend> qtSerialBackend(std::chrono::milliseconds holdOff) {
    requireEventLoop();
    return std::make_unique<QtSerialBackend>(holdOff);
}

std::shared_ptr<MessageLoop> defaultMessageLoop() {
    return qtMessageLoop();
}

std::unique_ptr<SerialBackend> defaultSerialBackend(const std::shared_ptr<MessageLoop>&) {
    return qtSerialBackend();
}

std::shared_ptr<MessageSink> defaultMessageSink() {
    return std::make_shared<ConsoleMessageSink>();
}

}  // namespace vantor
