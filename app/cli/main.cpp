// vantor-comm: a console host of the control.
#include <QCoreApplication>
#include <cstdio>

#include "control/vantor_comm.h"
#include "platform/qt/message_loop_qt.h"
#include "platform/qt/serial_backend_qt.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    vantor::QtMessageLoop loop;
    vantor::ConsoleMessageSink messages;
    vantor::LocalDateSource dates;
    vantor::Vantor_Comm comm({loop, messages, dates, std::make_unique<vantor::QtSerialBackend>()});
    comm.UserControl_Resize();
    const auto& p = comm.Panel();
    std::printf("%s\n%s | %s\n%s | %s\n", p.Label1[0].caption().c_str(),
                p.Label1[1].caption().c_str(), p.Label1[3].caption().c_str(),
                p.Label1[2].caption().c_str(), p.Label1[4].caption().c_str());
    return 0;
}
