#include "simulated_meter.h"

#include <QFile>

#include "sim/pty_meter.h"

namespace vantor::gui {

namespace {}  // namespace

SimulatedMeter::SimulatedMeter()
    : meter_(std::make_unique<sim::PtyMeter>()),
      stream_(sim::transferStream(sim::sessionMemory(kRecords))) {
    if (!folder_.isValid()) return;
    QFile file(folder_.filePath(QStringLiteral("unit2.dat")));
    unitFileWritten_ = file.open(QIODevice::WriteOnly) &&
                       file.write(QByteArray::fromStdString(sim::unitFile())) >= 0;
}

SimulatedMeter::~SimulatedMeter() = default;

QString SimulatedMeter::device() const {
    return QString::fromStdString(meter_->device());
}

QString SimulatedMeter::unitFolder() const {
    return unitFileWritten_ ? folder_.path() : QString();
}

void SimulatedMeter::pressSend() {
    meter_->stop();
    meter_->wait();
    meter_->sendAsync(stream_, true);
}

}  // namespace vantor::gui
