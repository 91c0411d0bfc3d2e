// The main window of vantor-comm-gui: the control's panel, the port and
// folder pickers, the download buttons, the data table and the chart.
#pragma once

#include <vantor/errors.h>
#include <vantor/export.h>
#include <vantor/types.h>

#include <QElapsedTimer>
#include <QMainWindow>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QLabel;
class QPushButton;
class QTimer;

namespace vantor {
struct RecordWritten;
class DataGridView;
class MessageLoop;
class VantorCommWidget;
}  // namespace vantor

namespace vantor::ports {
class FoundPort;
}

namespace vantor::gui {

class LiveSummary;
class LiveTable;
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
    QPushButton* stopButton() const { return stopButton_; }
    QPushButton* startButton() const { return startButton_; }
    QPushButton* readButton() const { return readButton_; }
    // "frames: N  records: M  file: ..."; the status bar puts what a running
    // transfer waits for before it.
    QString statusText() const;
    // How long after arming the simulated meter's SEND key is pressed.
    void setSendDelay(int ms) { sendDelayMs_ = ms; }

  public slots:
    void chooseFolder();
    // Loads the unit file of `folder` and names the day's data file after it.
    void useFolder(const QString& folder);
    void start();
    void read();
    // Ends the running transfer (armed or blocking); every record stays.
    void stop();
    void view();
    // How the charts and exports read the time stamps (default: ymd, the
    // machine's zone). Throws RuntimeError 5 for an unknown zone.
    void setClock(DateOrder order, const std::string& zone);
    // The data file's readings as CSV (a row per reading, or per time stamp)
    // into `path`, as vantor-comm export writes them; asks for it when empty.
    void exportReadings(const QString& path = {}, bool wide = false);
    // The charts as PNG, SVG or PDF into `path`; asks for it when empty.
    void saveChart(const QString& path = {});
    void startSimulatedMeter();

  signals:
    // A download ended and the table and chart show its records.
    void downloadFinished();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void afterTransfer();
    bool transferRunning() const;
    // Empties the table and the chart, which then show the records as they
    // are written: a new download begins.
    void clearShown();
    void addLiveRecord(const RecordWritten& record);
    void showLiveChart();
    // Shows what the grid holds now, following it again after clearShown.
    void showGrid();
    // What the running transfer waits for, for the status bar.
    QString transferState();
    void restoreSettings();
    // Asks before a download replaces an earlier one in the data file:
    // whether to keep it, none when the user cancels.
    std::optional<bool> keepEarlier();
    // Keeps the earlier download if asked, then arms (or, blocking, downloads);
    // false when the earlier download could not be kept.
    bool startDownload(bool keep, bool blocking);
    void refreshChart();
    void pressSendIfSimulated();
    // With "Any port" chosen: waits, with the window alive, for the first
    // port a frame arrives on and gives it to the control; false when none
    // did (stopped, closed, no free port).
    bool findMeterIfAsked();
    void updateStatus();
    void showError(const RuntimeError& e);
    void setBusy(bool busy);

    std::shared_ptr<MessageLoop> loop_;
    ports::FoundPort* found_ = nullptr;  // the control's serial port
    bool searching_ = false;
    bool stopSearch_ = false;
    VantorCommWidget* comm_;
    DataGridView* table_;
    ReadingsChart* chart_ = nullptr;
    PortPicker* picker_;
    QLabel* folderLabel_;
    QLabel* status_;
    QPushButton* folderButton_;
    QPushButton* startButton_;
    QPushButton* readButton_;
    QPushButton* stopButton_;
    QPushButton* viewButton_;
    QPushButton* exportButton_;
    ExportOptions clock_;
    QPushButton* chartButton_;
    QPushButton* simulateButton_;
    QTimer* poll_;
    LiveTable* live_;
#ifdef VANTOR_GUI_CHARTS
    std::unique_ptr<LiveSummary> liveChart_;
    std::function<std::optional<std::int64_t>(const std::string&)> liveClock_;
    QTimer* chartDue_;
    QElapsedTimer sinceChart_;
#endif
    std::unique_ptr<SimulatedMeter> meter_;
    int sendDelayMs_ = 800;
    bool reading_ = false;
    std::int64_t lastProgress_ = -1;
    QElapsedTimer sinceProgress_;
    bool closeAfterRead_ = false;
};

}  // namespace vantor::gui
