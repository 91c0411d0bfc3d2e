// Picks the serial device: "Any port" (kAnyPort: the first port a meter
// sends on), the system's serial ports with their
// descriptions, the stable names under /dev/serial/by-id, devices the
// program added itself (a simulated meter's pseudo-terminal), and any path
// typed into it (a udev link, say), kept in the list once entered.
#pragma once

#include <QComboBox>
#include <QList>
#include <QPair>

namespace vantor::gui {

inline const QString kAnyPort = QStringLiteral("auto");

class PortPicker : public QComboBox {
    Q_OBJECT

  public:
    explicit PortPicker(QWidget* parent = nullptr);

    // Lists the devices present now, keeping the selection where it still exists.
    void refresh();
    // Keeps `device` in the list from now on and selects it.
    void addDevice(const QString& device, const QString& description);
    // The selected device's path; empty when nothing is listed.
    QString currentDevice() const;
    // Devices come and go: the list is rebuilt each time it opens.
    void showPopup() override;

  private slots:
    void takeTypedPath();

  signals:
    void deviceChosen(const QString& device);

  private:
    QList<QPair<QString, QString>> extra_;  // device, description
    bool refreshing_ = false;
};

}  // namespace vantor::gui
