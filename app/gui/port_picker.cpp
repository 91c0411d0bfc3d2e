#include "port_picker.h"

#include <QDir>
#include <QLineEdit>
#include <QSerialPortInfo>
#include <algorithm>

namespace vantor::gui {

namespace {

QString label(const QString& device, const QString& description) {
    return description.isEmpty() ? device : device + QStringLiteral(" \u2014 ") + description;
}

}  // namespace

PortPicker::PortPicker(QWidget* parent) : QComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    lineEdit()->setPlaceholderText(tr("a device, e.g. /dev/ttyUSB0"));
    connect(lineEdit(), &QLineEdit::editingFinished, this, &PortPicker::takeTypedPath);
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(28);
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        if (!refreshing_) emit deviceChosen(currentDevice());
    });
    refresh();
}

void PortPicker::refresh() {
    const QString before = currentDevice();
    refreshing_ = true;
    clear();
    addItem(tr("Any port \u2014 the first one a meter sends on"), kAnyPort);
    for (const auto& [device, description] : extra_) addItem(label(device, description), device);
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        const QString device = info.systemLocation();
        if (findData(device) >= 0) continue;
        QString description = info.description();
        if (!info.manufacturer().isEmpty() && !description.contains(info.manufacturer())) {
            description += (description.isEmpty() ? "" : ", ") + info.manufacturer();
        }
        addItem(label(device, description), device);
    }
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
        const QString device = link.absoluteFilePath();
        if (findData(device) >= 0) continue;
        addItem(label(device, QStringLiteral("stable name of ") + link.symLinkTarget()), device);
    }
    int index = findData(before);
    // "Any port" only when chosen: it makes Start wait on every port.
    setCurrentIndex(index >= 0 ? index : (count() > 1 ? 1 : -1));
    refreshing_ = false;
    if (currentDevice() != before) emit deviceChosen(currentDevice());
}

void PortPicker::addDevice(const QString& device, const QString& description) {
    if (std::none_of(extra_.begin(), extra_.end(),
                     [&](const auto& e) { return e.first == device; })) {
        extra_.append({device, description});
    }
    refresh();
    setCurrentIndex(findData(device));
}

void PortPicker::takeTypedPath() {
    const QString text = currentText().trimmed();
    if (text.isEmpty() || findText(text) >= 0) return;  // a listed entry as shown
    const int listed = findData(text);
    if (listed >= 0) {
        setCurrentIndex(listed);
    } else {
        addDevice(text, tr("typed"));
    }
}

QString PortPicker::currentDevice() const {
    return currentIndex() >= 0 ? currentData().toString() : QString();
}

void PortPicker::showPopup() {
    refresh();
    QComboBox::showPopup();
}

}  // namespace vantor::gui
