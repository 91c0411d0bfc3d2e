#include "main_window.h"

#include <vantor/data_file.h>
#include <vantor/data_grid_view.h>
#include <vantor/date_source.h>
#include <vantor/download.h>
#include <vantor/export.h>
#include <vantor/qt_platform.h>
#include <vantor/vantor_comm_widget.h>

#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <exception>
#include <string>
#include <tuple>

#include "live_table.h"
#include "port_picker.h"
#include "port_search.h"
#include "simulated_meter.h"
#ifdef VANTOR_GUI_CHARTS
#include "live_summary.h"
#include "readings_chart.h"
#endif

namespace vantor::gui {

namespace {

QString fromControl(const String& s) {
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

QPushButton* button(const QString& text, const char* name, QWidget* parent) {
    auto* b = new QPushButton(text, parent);
    b->setObjectName(name);
    return b;
}

// The view's selection goes with the model it was made for.
void showModel(QAbstractItemView* view, QAbstractItemModel* model) {
    QItemSelectionModel* old = view->selectionModel();
    view->setModel(model);
    delete old;
}

#ifdef VANTOR_GUI_CHARTS
// The charts of a running download are drawn again at most this often.
constexpr int kChartEveryMs = 250;

bool allDigits(const String& s) {
    return !s.empty() && s.find_first_not_of("0123456789-") == String::npos;
}

// A record as the finished charts read its row of the data view.
ChartSample chartSample(Long row, const RecordWritten& r, const DataRecord& record,
                        const ReadingsChart::StampClock& clock, std::string& unit) {
    ChartSample s;
    s.record = row;
    if (r.timeStamp) {
        s.kind = ChartSample::Kind::Stamp;
        s.time = clock(timeStampText(record.value));
        return s;
    }
    s.kind = !std::isfinite(r.value) ? ChartSample::Kind::Invalid
             : r.value == 999999     ? ChartSample::Kind::Overload
                                     : ChartSample::Kind::Value;
    s.value = r.value;
    s.channel = r.channel;
    unit = record.unit;
    while (!unit.empty() && (unit.back() == ' ' || unit.back() == '\0')) unit.pop_back();
    unit.erase(0, std::min(unit.find_first_not_of(' '), unit.size()));
    s.unit = unit;
    s.unitIsCode = allDigits(record.unit);
    return s;
}
#endif

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(tr("Vantor Comm"));
    auto* central = new QWidget(this);
    setCentralWidget(central);

    // The control sits on the form in a sunken frame of its design size.
    auto* site = new QFrame(central);
    site->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* siteLayout = new QVBoxLayout(site);
    siteLayout->setContentsMargins(2, 2, 2, 2);
    // The control's port may be found rather than named ("Any port").
    loop_ = qtMessageLoop();
    auto messages = messageBoxes(this);
    auto dates = std::make_shared<LocalDateSource>();
    auto port = std::make_unique<ports::FoundPort>(*loop_);
    found_ = port.get();
    ControlPlatform platform{*loop_, *messages, *dates, std::move(port)};
    // The window's children, the control among them, outlive its members.
    platform.keepAlive =
        std::make_shared<std::tuple<std::shared_ptr<MessageLoop>, std::shared_ptr<MessageSink>,
                                    std::shared_ptr<const DateSource>>>(loop_, messages, dates);
    comm_ = new VantorCommWidget(std::move(platform), site);
    comm_->setObjectName("vantorComm");
    siteLayout->addWidget(comm_);
    site->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    auto* download = new QGroupBox(tr("Download"), central);
    auto* grid = new QGridLayout(download);
    picker_ = new PortPicker(download);
    picker_->setObjectName("portPicker");
    simulateButton_ = button(tr("Simulated meter"), "simulatedMeterButton", download);
    simulateButton_->setToolTip(
        tr("Starts a meter on a pseudo-terminal and selects it; it "
           "presses SEND by itself after Start or Read."));
    folderLabel_ = new QLabel(download);
    folderLabel_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    folderLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    folderButton_ = button(tr("Folder\u2026"), "folderButton", download);
    folderButton_->setToolTip(tr("The folder of unit2.dat; the data file is written there."));
    startButton_ = button(tr("Start"), "startButton", download);
    startButton_->setToolTip(tr("Arms the download; then press SEND on the meter."));
    readButton_ = button(tr("Read"), "readButton", download);
    readButton_->setToolTip(tr("Downloads in one blocking call."));
    stopButton_ = button(tr("Stop"), "stopButton", download);
    stopButton_->setToolTip(
        tr("Ends the download now; every record received stays in the "
           "data file."));
    stopButton_->setEnabled(false);
    viewButton_ = button(tr("View"), "viewButton", download);
    viewButton_->setToolTip(tr("Shows the records of the data file."));
    exportButton_ = button(tr("Export\u2026"), "exportButton", download);
    exportButton_->setToolTip(
        tr("Writes the readings as CSV, each with the meter's time: a row per reading, or a "
           "row per time stamp with a column per channel."));
    chartButton_ = button(tr("Save chart\u2026"), "saveChartButton", download);
    chartButton_->setToolTip(tr("Saves the charts as a PNG, SVG or PDF file."));
#ifndef VANTOR_GUI_CHARTS
    chartButton_->setVisible(false);
#endif
    grid->addWidget(new QLabel(tr("Device:"), download), 0, 0);
    grid->addWidget(picker_, 0, 1);
    grid->addWidget(simulateButton_, 0, 2);
    grid->addWidget(new QLabel(tr("Folder:"), download), 1, 0);
    grid->addWidget(folderLabel_, 1, 1);
    grid->addWidget(folderButton_, 1, 2);
    auto* actions = new QHBoxLayout();
    actions->addWidget(startButton_);
    actions->addWidget(readButton_);
    actions->addWidget(stopButton_);
    actions->addWidget(viewButton_);
    actions->addWidget(exportButton_);
    actions->addWidget(chartButton_);
    actions->addStretch(1);
    grid->addLayout(actions, 2, 0, 1, 3);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(3, 1);

    auto* top = new QHBoxLayout();
    top->addWidget(site, 0, Qt::AlignTop);
    top->addWidget(download, 1);

    auto* split = new QSplitter(Qt::Horizontal, central);
    table_ = new DataGridView(split);
    table_->setObjectName("dataTable");
    table_->setSource(comm_);
    table_->gridModel()->setPresentation(DataGridModel::Presentation::Readings);
    split->addWidget(table_);
#ifdef VANTOR_GUI_CHARTS
    chart_ = new ReadingsChart(split);
    chart_->setObjectName("readingsChart");
    split->addWidget(chart_);
#else
    auto* noChart = new QLabel(tr("Built without Qt Charts: no chart."), split);
    noChart->setAlignment(Qt::AlignCenter);
    split->addWidget(noChart);
#endif
    split->setStretchFactor(0, 2);
    split->setStretchFactor(1, 3);
    split->setSizes({490, 560});

    auto* v = new QVBoxLayout(central);
    v->addLayout(top);
    v->addWidget(split, 1);

    status_ = new QLabel(this);
    status_->setObjectName("transferStatus");
    statusBar()->addWidget(status_, 1);

    connect(simulateButton_, &QPushButton::clicked, this, &MainWindow::startSimulatedMeter);
    connect(folderButton_, &QPushButton::clicked, this, &MainWindow::chooseFolder);
    connect(startButton_, &QPushButton::clicked, this, &MainWindow::start);
    connect(readButton_, &QPushButton::clicked, this, &MainWindow::read);
    connect(stopButton_, &QPushButton::clicked, this, &MainWindow::stop);
    connect(viewButton_, &QPushButton::clicked, this, &MainWindow::view);
    connect(exportButton_, &QPushButton::clicked, this, [this] { exportReadings(); });
    connect(chartButton_, &QPushButton::clicked, this, [this] { saveChart(); });
    connect(picker_, &PortPicker::deviceChosen, this, [this](const QString& device) {
        comm_->setDevice(comm_->port(), device);
        // A pseudo-terminal of this run means nothing to the next one.
        if (!meter_ || device != meter_->device()) QSettings().setValue("device", device);
    });
    // The signal comes from inside the control's event; finish outside it.
    connect(comm_, &VantorCommWidget::transferEnded, this, &MainWindow::afterTransfer,
            Qt::QueuedConnection);
    connect(table_, &DataGridView::refreshed, this, &MainWindow::refreshChart);

    comm_->setPort(1);
    comm_->setDevice(comm_->port(), picker_->currentDevice());
    // Until a folder is chosen, the day's data file goes to the current folder.
    comm_->control().df =
        dataFileName(QDir::currentPath().toLocal8Bit().toStdString(), LocalDateSource().today());
    folderLabel_->setText(tr("(none; data file in %1)").arg(QDir::currentPath()));
    restoreSettings();

    live_ = new LiveTable(this);
    connect(live_, &LiveTable::grew, this, [this] {
        if (table_->model() != live_) return;
        table_->scrollToBottom();
#ifdef VANTOR_GUI_CHARTS
        if (!sinceChart_.isValid() || sinceChart_.elapsed() >= kChartEveryMs) {
            showLiveChart();
        } else if (!chartDue_->isActive()) {
            chartDue_->start(kChartEveryMs - static_cast<int>(sinceChart_.elapsed()));
        }
#endif
    });
#ifdef VANTOR_GUI_CHARTS
    liveChart_ = std::make_unique<LiveSummary>(SummaryLimits{ReadingsChart::kLiveColumns});
    chartDue_ = new QTimer(this);
    chartDue_->setSingleShot(true);
    connect(chartDue_, &QTimer::timeout, this, &MainWindow::showLiveChart);
#endif
    comm_->control().onRecordWritten = [this](const RecordWritten& r) { addLiveRecord(r); };

    // The status line's counters, and the blocking read's count-down.
    poll_ = new QTimer(this);
    connect(poll_, &QTimer::timeout, this, &MainWindow::updateStatus);
    poll_->start(250);
    updateStatus();
}

void MainWindow::restoreSettings() {
    QSettings settings;
    const QString folder = settings.value("folder").toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) useFolder(folder);
    const QString device = settings.value("device").toString();
    if (device.isEmpty()) return;
    if (picker_->findData(device) >= 0) {
        picker_->setCurrentIndex(picker_->findData(device));
    } else if (QFileInfo::exists(device)) {
        picker_->addDevice(device, tr("used last time"));
    }
}

MainWindow::~MainWindow() {
    comm_->control().onRecordWritten = nullptr;
    // The children go after this destructor (the control first, and the table
    // lets go of its grid then): none of their signals may reach this window.
    for (QObject* sender : {static_cast<QObject*>(comm_), static_cast<QObject*>(table_),
                            static_cast<QObject*>(picker_)}) {
        disconnect(sender, nullptr, this, nullptr);
    }
}

QString MainWindow::statusText() const {
    Vantor_Comm& c = comm_->control();
    Long frames = 0;
    c.Read_Status(frames);
    Long records = 0;
    String file;
    c.GetFilename(records, file);
    return QStringLiteral("frames: %1  records: %2  file: %3")
        .arg(frames)
        .arg(records)
        .arg(fromControl(file));
}

void MainWindow::updateStatus() {
    const QString state = transferState();
    status_->setText(state.isEmpty() ? statusText()
                                     : state + QStringLiteral("    ") + statusText());
}

bool MainWindow::transferRunning() const {
    return searching_ || reading_ || comm_->control().fgComPortOpen;
}

QString MainWindow::transferState() {
    if (!transferRunning()) {
        lastProgress_ = -1;
        return {};
    }
    const TransferStats& stats = comm_->control().Stats();
    const std::int64_t progress = stats.framesReceived + stats.framesRejected + stats.bytesSkipped;
    if (progress != lastProgress_) {
        lastProgress_ = progress;
        sinceProgress_.restart();
    }
    if (progress > 0) return tr("Receiving…");
    if (!reading_) return tr("Armed: press SEND on the meter.");
    const auto timeout = comm_->control().readTimeout().count();
    if (timeout <= 0) return tr("Read: waiting for SEND on the meter.");
    const qint64 left = std::max<qint64>(0, (timeout - sinceProgress_.elapsed() + 999) / 1000);
    return tr("Read: waiting for SEND on the meter; gives up in %1 s.").arg(left);
}

void MainWindow::clearShown() {
    // The grid keeps the last download until the data view fills it again.
    table_->setGrid(nullptr);
    live_->clear();
    if (table_->model() != live_) {
        int widths[4];
        for (int c = 0; c < 4; ++c) widths[c] = table_->columnWidth(c);
        showModel(table_, live_);
        for (int c = 0; c < 4; ++c) {
            if (widths[c] > 0) table_->setColumnWidth(c, widths[c]);
        }
    }
#ifdef VANTOR_GUI_CHARTS
    chartDue_->stop();
    sinceChart_.invalidate();
    liveChart_->clear();
    liveClock_ = ReadingsChart::wallClock(MeterClock(clock_.dateOrder, clock_.timeZone));
    chart_->clear();
#endif
}

void MainWindow::addLiveRecord(const RecordWritten& r) {
    if (table_->model() != live_) return;  // a transfer this window did not start
    const DataRecord& record = r.items;
    live_->add(record);
#ifdef VANTOR_GUI_CHARTS
    std::string unit;
    liveChart_->add(chartSample(live_->records(), r, record, liveClock_, unit));
#endif
}

void MainWindow::showLiveChart() {
#ifdef VANTOR_GUI_CHARTS
    if (table_->model() != live_) return;
    sinceChart_.restart();
    chart_->showSummary(liveChart_->summary());
#endif
}

void MainWindow::showGrid() {
    if (table_->model() != table_->gridModel()) {
        showModel(table_, table_->gridModel());
        live_->clear();
#ifdef VANTOR_GUI_CHARTS
        chartDue_->stop();
        liveChart_->clear();
#endif
    }
    if (table_->gridModel()->grid() == nullptr) table_->setSource(comm_);
    table_->gridModel()->refresh();
}

void MainWindow::showError(const RuntimeError& e) {
    messageBoxes(this)->show("error " + std::to_string(e.number()) + ": " + e.description());
}

void MainWindow::chooseFolder() {
    const QString folder = QFileDialog::getExistingDirectory(
        this, tr("Folder of unit2.dat and the data file"), comm_->appPath());
    if (folder.isEmpty()) return;
    QSettings().setValue("folder", folder);
    useFolder(folder);
}

void MainWindow::useFolder(const QString& folder) {
    comm_->setAppPath(folder);
    folderLabel_->setText(folder);
    try {
        comm_->control().ReadUnitFile();
    } catch (const RuntimeError& e) {
        // df names the folder's data file all the same.
        showError(e);
    }
    updateStatus();
}

std::optional<bool> MainWindow::keepEarlier() {
    const String df = comm_->control().df;
    const QFileInfo info(fromControl(df));
    if (!info.isFile() || info.size() == 0) return false;
    QMessageBox box(QMessageBox::Question, tr("Earlier download"),
                    tr("%1 holds an earlier download (%2 bytes).\n\nKeep a copy of it beside "
                       "the file (%1.1, .2, ...), or replace it?")
                        .arg(info.filePath())
                        .arg(info.size()),
                    QMessageBox::NoButton, this);
    QPushButton* keep = box.addButton(tr("Keep a copy"), QMessageBox::AcceptRole);
    QPushButton* replace = box.addButton(tr("Replace"), QMessageBox::DestructiveRole);
    box.addButton(QMessageBox::Cancel);
    box.setDefaultButton(keep);
    box.exec();
    if (box.clickedButton() == replace) return false;
    if (box.clickedButton() != keep) return std::nullopt;
    return true;
}

bool MainWindow::startDownload(bool keep, bool blocking) {
    Download download(comm_->control(), {.blocking = blocking, .keepEarlier = keep});
    try {
        download.start();
    } catch (const RuntimeError& e) {
        showError(e);
        showGrid();  // nothing was armed: the last download is shown again
        return false;
    }
    const std::string kept = download.report().kept;
    if (!kept.empty()) {
        statusBar()->showMessage(tr("Earlier download kept as %1").arg(fromControl(kept)), 10000);
    }
    return true;
}

bool MainWindow::findMeterIfAsked() {
    if (picker_->currentDevice() != kAnyPort) return true;
    const std::vector<std::string> candidates = ports::portsMatching({"auto"}, true);
    if (candidates.empty()) {
        messageBoxes(this)->show(
            "No serial port is free to listen on: connect the meter's cable, or choose its "
            "device in the list.");
        return false;
    }
    searching_ = true;
    stopSearch_ = false;
    setBusy(true);
    status_->setText(tr("Looking for the meter on %n port(s): press SEND on the meter.", "",
                        static_cast<int>(candidates.size())));
    bool opened = false;
    const auto device = ports::findMeter(
        candidates, *loop_, *found_, std::nullopt, [this] { return stopSearch_; }, opened);
    searching_ = false;
    setBusy(false);
    if (closeAfterRead_) QTimer::singleShot(0, this, &QWidget::close);
    if (!device) {
        if (!opened) {
            messageBoxes(this)->show(
                "None of the serial ports could be opened: another program holds them, or "
                "this user may not use them (see vantor-comm list).");
        }
        updateStatus();
        return false;
    }
    comm_->setDevice(comm_->port(), QString::fromLocal8Bit(device->c_str()));
    return !closeAfterRead_;
}

void MainWindow::start() {
    if (transferRunning()) return;
    const std::optional<bool> keep = keepEarlier();
    if (!keep || !findMeterIfAsked()) return;
    clearShown();
    if (!startDownload(*keep, false) || !comm_->control().fgComPortOpen) return;
    setBusy(true);
    updateStatus();
    pressSendIfSimulated();
}

void MainWindow::stop() {
    stopSearch_ = true;
    if (transferRunning()) comm_->control().AbortTransfer();
}

void MainWindow::read() {
    if (transferRunning()) return;
    const std::optional<bool> keep = keepEarlier();
    if (!keep || !findMeterIfAsked()) return;
    clearShown();
    setBusy(true);
    reading_ = true;
    lastProgress_ = -1;
    updateStatus();
    // Runs while the download waits in the event loop for the first byte.
    pressSendIfSimulated();
    startDownload(*keep, true);
    reading_ = false;
    setBusy(false);
    if (closeAfterRead_) QTimer::singleShot(0, this, &QWidget::close);
}

void MainWindow::view() {
    try {
        comm_->control().ViewData();
        showGrid();
    } catch (const RuntimeError& e) {
        showError(e);
    }
}

void MainWindow::setClock(DateOrder order, const std::string& zone) {
    MeterClock check(order, zone);
    clock_.dateOrder = order;
    clock_.timeZone = zone;
    refreshChart();
}

void MainWindow::exportReadings(const QString& path, bool wide) {
    const std::string df = comm_->control().df;
    QString out = path;
    if (out.isEmpty()) {
        const QString perReading = tr("CSV, a row per reading (*.csv)");
        const QString perStamp = tr("CSV, a row per time stamp (*.csv)");
        QString filter = perReading;
        out = QFileDialog::getSaveFileName(this, tr("Export the readings"),
                                           fromControl(df) + QStringLiteral(".csv"),
                                           perReading + QStringLiteral(";;") + perStamp, &filter);
        if (out.isEmpty()) return;
        wide = filter == perStamp;
    }
    ExportOptions options = clock_;
    options.layout = wide ? ExportLayout::PerStamp : ExportLayout::PerReading;
    try {
        const ExportSummary s = exportDataFileTo(df, out.toLocal8Bit().toStdString(), options);
        QString note = tr("Exported %1 rows to %2.").arg(s.rows).arg(out);
        if (!s.keptEarlier.empty()) {
            note += QLatin1Char(' ') + tr("The earlier file is kept as %1.")
                                           .arg(QString::fromLocal8Bit(s.keptEarlier.c_str()));
        }
        statusBar()->showMessage(note, 10000);
    } catch (const RuntimeError& e) {
        showError(e);
    }
}

void MainWindow::saveChart(const QString& path) {
#ifdef VANTOR_GUI_CHARTS
    QString out = path;
    if (out.isEmpty()) {
        out = QFileDialog::getSaveFileName(
            this, tr("Save the charts"), fromControl(comm_->control().df) + QStringLiteral(".png"),
            tr("PNG picture (*.png);;SVG drawing (*.svg);;PDF document (*.pdf)"));
        if (out.isEmpty()) return;
    }
    try {
        const QSize size(std::max(chart_->viewport()->width(), 640),
                         220 * std::max(1, chart_->chartCount()));
        chart_->save(out.toLocal8Bit().toStdString(), size);
        statusBar()->showMessage(tr("Saved the charts to %1.").arg(out), 10000);
    } catch (const RuntimeError& e) {
        showError(e);
    }
#else
    (void)path;
#endif
}

void MainWindow::startSimulatedMeter() {
    if (!meter_) {
        try {
            meter_ = std::make_unique<SimulatedMeter>();
        } catch (const std::exception& e) {
            messageBoxes(this)->show(std::string("Cannot start the simulated meter: ") + e.what());
            return;
        }
    }
    picker_->addDevice(meter_->device(), tr("Simulated meter"));
    // Its unit codes need names; a folder the operator chose is left alone.
    if (comm_->appPath().isEmpty() && !meter_->unitFolder().isEmpty()) {
        useFolder(meter_->unitFolder());
    }
}

void MainWindow::pressSendIfSimulated() {
    if (!meter_ || picker_->currentDevice() != meter_->device()) return;
    QTimer::singleShot(sendDelayMs_, this, [this] {
        // Only into a port that is listening: bytes left in the line would
        // start the next download.
        if (meter_ && comm_->control().fgComPortOpen) meter_->pressSend();
    });
}

void MainWindow::afterTransfer() {
    Vantor_Comm& c = comm_->control();
    if (!reading_) setBusy(false);
    if (c.datano > 0) {
        try {
            c.ViewData();
        } catch (const RuntimeError& e) {
            showError(e);
        }
    }
    showGrid();
    updateStatus();
    emit downloadFinished();
}

void MainWindow::refreshChart() {
#ifdef VANTOR_GUI_CHARTS
    // The table lets go of the grid when the control goes; so does the chart.
    if (const DataGrid* grid = table_->gridModel()->grid()) {
        chart_->showReadings(
            *grid, ReadingsChart::wallClock(MeterClock(clock_.dateOrder, clock_.timeZone)));
    } else {
        chart_->clear();
    }
#endif
}

void MainWindow::setBusy(bool busy) {
    for (QPushButton* b : {startButton_, readButton_, viewButton_, exportButton_, chartButton_,
                           folderButton_, simulateButton_}) {
        b->setEnabled(!busy);
    }
    stopButton_->setEnabled(busy);
    picker_->setEnabled(!busy);
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (searching_) {
        // The search is on the stack: end it, and close once it has returned.
        closeAfterRead_ = true;
        stopSearch_ = true;
        event->ignore();
        return;
    }
    if (reading_) {
        // The blocking download is still on the stack: end it, and close once it has returned.
        closeAfterRead_ = true;
        comm_->control().AbortTransfer();
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

}  // namespace vantor::gui
