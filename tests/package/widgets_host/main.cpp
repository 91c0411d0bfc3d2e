// widgets_host: shows the Designer form and prints what its widget shows.
#include <vantor/panel_label.h>
#include <vantor/qt_platform.h>
#include <vantor/vantor_comm_widget.h>

#include <QApplication>
#include <QLabel>
#include <cstdio>

#include "ui_meter_form.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget form;
    Ui::MeterForm ui;
    ui.setupUi(&form);
    form.show();
    QApplication::processEvents();
    vantor::Vantor_Comm& control = ui.vantorComm->control();
    // A control of its own, in one line, with its message boxes as dialogs.
    auto second = vantor::createControl({.messages = vantor::messageBoxes(&form)});
    second->Port(2);
    std::printf("Port %d, device %s, caption \"%s\", %s\n", static_cast<int>(control.Port()),
                control.DeviceName().c_str(), ui.vantorComm->label1(0)->text().toUtf8().constData(),
                ui.vantorComm->isVisible() ? "shown" : "hidden");
    return control.Port() == 3 && second->Port() == 2 && ui.vantorComm->isVisible() ? 0 : 1;
}
