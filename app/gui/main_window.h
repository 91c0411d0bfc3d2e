// The main window of vantor-comm-gui: the control's panel, the port and
// folder pickers, the download buttons, the data table and the chart.
#pragma once

#include <vantor/errors.h>

#include <QMainWindow>
#include <memory>

class QLabel;
class QPushButton;
class QTimer;

namespace vantor {
class DataGridView;
class VantorCommWidget;
}  // namespace vantor

namespace vantor::gui {

class PortPicker;
class ReadingsChart;
class SimulatedMeter;

class MainWindow : public QMainWindow {
    Q_OBJECT

  public:
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    VantorCommWidget* comm() const { return comm_; }
    DataGridView* table() const { return table_; }
    PortPicker* portPicker() const { return picker_; }
    // Null where the program was built without Qt Charts.
    ReadingsChart* chart() const { return chart_; }
    // "frames: N  records: M  file: ..."
    QString statusText() const;
    // How long after arming the simulated meter's SEND key is pressed.
    void setSendDelay(int ms) { sendDelayMs_ = ms; }

  public slots:
    void chooseFolder();
    // Loads the unit file of `folder` and names the day's data file after it.
    void useFolder(const QString& folder);
    void start();
    void read();
    void view();
    void startSimulatedMeter();

  signals:
    // A download ended and the table and chart show its records.
    void downloadFinished();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void afterTransfer();
    // Asks before a download replaces an earlier one in the data file; false
    // when the user cancels.
    bool mayWriteDataFile();
    void refreshChart();
    void pressSendIfSimulated();
    void updateStatus();
    void showError(const RuntimeError& e);
    void setBusy(bool busy);

    VantorCommWidget* comm_;
    DataGridView* table_;
    ReadingsChart* chart_ = nullptr;
    PortPicker* picker_;
    QLabel* folderLabel_;
    QLabel* status_;
    QPushButton* folderButton_;
    QPushButton* startButton_;
    QPushButton* readButton_;
    QPushButton* viewButton_;
    QPushButton* simulateButton_;
    QTimer* poll_;
    std::unique_ptr<SimulatedMeter> meter_;
    int sendDelayMs_ = 800;
    bool reading_ = false;
    bool closeAfterRead_ = false;
};

}  // namespace vantor::gui
