#include <vantor/qt_platform.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <tuple>

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

std::unique_ptr<Vantor_Comm> createControl(ControlOptions options) {
    if (!options.loop) options.loop = qtMessageLoop();
    if (!options.serial) options.serial = qtSerialBackend();
    if (!options.messages) options.messages = std::make_shared<ConsoleMessageSink>();
    if (!options.dates) options.dates = std::make_shared<LocalDateSource>();
    ControlPlatform platform{*options.loop, *options.messages, *options.dates,
                             std::move(options.serial)};
    platform.keepAlive =
        std::make_shared<std::tuple<std::shared_ptr<MessageLoop>, std::shared_ptr<MessageSink>,
                                    std::shared_ptr<const DateSource>>>(
            options.loop, options.messages, options.dates);
    return std::make_unique<Vantor_Comm>(std::move(platform));
}

}  // namespace vantor
