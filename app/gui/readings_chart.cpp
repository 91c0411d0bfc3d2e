#include "readings_chart.h"

#include <QtCharts/QChart>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <iterator>

#include "widgets/readings.h"

namespace vantor::gui {

namespace {

// More colours than the default theme has, so that channels do not share one.
const QColor kColours[] = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c),
    QColor(0xd6, 0x27, 0x28), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
    QColor(0xe3, 0x77, 0xc2), QColor(0x7f, 0x7f, 0x7f), QColor(0xbc, 0xbd, 0x22),
    QColor(0x17, 0xbe, 0xcf), QColor(0x00, 0x00, 0x80), QColor(0x80, 0x80, 0x00),
};

}  // namespace

// setChart() would only release the view's own first chart, not delete it.
ReadingsChart::ReadingsChart(QWidget* parent) : QChartView(new QChart(), parent) {
    chart()->setTitle(tr("Readings by record (click a channel to hide or show it)"));
    chart()->legend()->setAlignment(Qt::AlignRight);
    chart()->setMargins(QMargins(4, 4, 4, 4));
    setRenderHint(QPainter::Antialiasing);
    setMinimumSize(320, 240);
}

void ReadingsChart::clear() {
    QChart* c = chart();
    c->removeAllSeries();
    for (QAbstractAxis* axis : c->axes()) {
        c->removeAxis(axis);
        delete axis;
    }
    x_ = y_ = nullptr;
}

void ReadingsChart::showReadings(const DataGrid& grid) {
    clear();
    QChart* c = chart();
    x_ = new QValueAxis();
    x_->setTitleText(tr("Record"));
    x_->setLabelFormat("%d");
    y_ = new QValueAxis();
    y_->setTitleText(tr("Value"));
    y_->setLabelFormat("%.6g");
    c->addAxis(x_, Qt::AlignBottom);
    c->addAxis(y_, Qt::AlignLeft);

    std::size_t n = 0;
    for (const auto& [channel, points] : readingsByChannel(grid)) {
        auto* series = new QLineSeries();
        series->setName(tr("Channel %1").arg(channel));
        series->setPointsVisible(true);
        series->setColor(kColours[n++ % std::size(kColours)]);
        for (const ReadingPoint& p : points) series->append(p.record, p.value);
        c->addSeries(series);
        series->attachAxis(x_);
        series->attachAxis(y_);
    }
    const auto markers = c->legend()->markers();
    for (int i = 0; i < markers.size(); ++i) {
        connect(markers[i], &QLegendMarker::clicked, this, [this, i] { toggleSeries(i); });
    }
    fitAxes();
}

void ReadingsChart::toggleSeries(int index) {
    const auto markers = chart()->legend()->markers();
    if (index < 0 || index >= markers.size()) return;
    QLegendMarker* marker = markers[index];
    QAbstractSeries* series = marker->series();
    series->setVisible(!series->isVisible());
    // A hidden series hides its legend entry too; keep it there, dimmed, to click again.
    marker->setVisible(true);
    QColor label = chart()->legend()->labelColor();
    label.setAlphaF(series->isVisible() ? 1.0 : 0.4);
    marker->setLabelBrush(label);
    fitAxes();
}

void ReadingsChart::fitAxes() {
    if (x_ == nullptr) return;
    double maxX = 1;
    double minY = 0, maxY = 0;
    bool any = false;
    for (QAbstractSeries* s : chart()->series()) {
        auto* line = qobject_cast<QLineSeries*>(s);
        if (line == nullptr || !line->isVisible()) continue;
        for (const QPointF& p : line->points()) {
            maxX = std::max(maxX, p.x());
            minY = any ? std::min(minY, p.y()) : p.y();
            maxY = any ? std::max(maxY, p.y()) : p.y();
            any = true;
        }
    }
    x_->setRange(0, maxX);
    x_->applyNiceNumbers();
    if (minY == maxY) {
        minY -= 1;
        maxY += 1;
    }
    y_->setRange(minY, maxY);
    y_->applyNiceNumbers();
}

int ReadingsChart::seriesCount() const {
    return static_cast<int>(chart()->series().size());
}

int ReadingsChart::pointCount() const {
    int n = 0;
    for (QAbstractSeries* s : chart()->series()) {
        if (auto* line = qobject_cast<QLineSeries*>(s)) n += static_cast<int>(line->count());
    }
    return n;
}

}  // namespace vantor::gui
