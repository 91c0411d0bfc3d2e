#include "readings_chart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vantor/data_file.h>
#include <vantor/errors.h>
#include <vantor/grid_readings.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPdfWriter>
#include <QSvgGenerator>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLegendMarker>
#include <QtCharts/QLineSeries>
#include <QtCharts/QValueAxis>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <iterator>

namespace vantor::gui {

namespace {

// More colours than the default theme has, so that channels do not share one.
const QColor kColours[] = {
    QColor(0x1f, 0x77, 0xb4), QColor(0xff, 0x7f, 0x0e), QColor(0x2c, 0xa0, 0x2c),
    QColor(0xd6, 0x27, 0x28), QColor(0x94, 0x67, 0xbd), QColor(0x8c, 0x56, 0x4b),
    QColor(0xe3, 0x77, 0xc2), QColor(0x7f, 0x7f, 0x7f), QColor(0xbc, 0xbd, 0x22),
    QColor(0x17, 0xbe, 0xcf), QColor(0x00, 0x00, 0x80), QColor(0x80, 0x80, 0x00),
};

constexpr int kChartHeight = 190;

QString unitLabel(const std::string& unit, bool isCode) {
    if (unit.empty()) return QObject::tr("(no unit name)");
    const QString text = QString::fromLocal8Bit(unit.data(), static_cast<qsizetype>(unit.size()));
    return isCode ? QObject::tr("unit code %1").arg(text) : text;
}

// The axis labels in local time: the meter's clock reading, as it is.
double wallClockMs(std::int64_t stampSeconds) {
    const QDateTime utc = QDateTime::fromSecsSinceEpoch(stampSeconds, Qt::UTC);
    return static_cast<double>(QDateTime(utc.date(), utc.time()).toMSecsSinceEpoch());
}

void removeAll(QChart* c) {
    c->removeAllSeries();
    for (QAbstractAxis* axis : c->axes()) {
        c->removeAxis(axis);
        delete axis;
    }
}

}  // namespace

ReadingsChart::ReadingsChart(QWidget* parent)
    : QScrollArea(parent), box_(new QWidget(this)), layout_(new QVBoxLayout(box_)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(2);
    layout_->addStretch(1);
    setWidget(box_);
    setWidgetResizable(true);
    setMinimumSize(320, 240);
}

QChartView* ReadingsChart::viewFor(const std::string& unit, bool isCode) {
    auto it = views_.find(unit);
    if (it != views_.end()) return it->second;
    // setChart() would only release the view's own first chart, not delete it.
    auto* view = new QChartView(new QChart(), box_);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(kChartHeight);
    QChart* c = view->chart();
    c->setTitle(unitLabel(unit, isCode));
    c->legend()->setAlignment(Qt::AlignRight);
    c->setMargins(QMargins(2, 2, 2, 2));
    views_.emplace(unit, view);
    return view;
}

void ReadingsChart::order(const std::map<std::string, int>& firstChannel) {
    std::vector<std::pair<int, std::string>> byChannel;
    for (const auto& [unit, view] : views_) byChannel.emplace_back(firstChannel.at(unit), unit);
    std::sort(byChannel.begin(), byChannel.end());
    for (QChartView* view : shown_) layout_->removeWidget(view);
    shown_.clear();
    for (const auto& [channel, unit] : byChannel) {
        shown_.push_back(views_.at(unit));
        layout_->insertWidget(static_cast<int>(shown_.size()) - 1, shown_.back());
    }
}

ReadingsChart::StampClock ReadingsChart::wallClock(const MeterClock& clock) {
    return [clock](const std::string& cell) {
        std::string digits;  // "120604 15:48:15" as the meter sent it: 120604154815
        for (char c : cell) {
            if (c != ' ' && c != ':') digits.push_back(c);
        }
        const auto t = clock.read(digits);
        return t ? std::optional<std::int64_t>(t->epochSeconds + t->offsetSeconds) : std::nullopt;
    };
}

void ReadingsChart::clear() {
    for (auto& [unit, view] : views_) delete view;
    views_.clear();
    shown_.clear();
    byTime_ = false;
}

void ReadingsChart::showReadings(const DataGrid& grid, const StampClock& clock) {
    const std::vector<ReadingSeries> all = clock ? readingSeries(grid, clock) : readingSeries(grid);
    byTime_ = !all.empty() && all.front().points.front().time.has_value();
    std::map<std::string, int> firstChannel;
    for (const ReadingSeries& s : all) firstChannel.try_emplace(s.unit, s.channel);
    for (auto it = views_.begin(); it != views_.end();) {
        if (firstChannel.count(it->first) == 0) {
            std::erase(shown_, it->second);
            delete it->second;
            it = views_.erase(it);
        } else {
            removeAll(it->second->chart());
            ++it;
        }
    }

    std::size_t n = 0;
    for (const ReadingSeries& s : all) {
        QChart* c = viewFor(s.unit, s.unitIsCode)->chart();
        if (c->axes().isEmpty()) {
            QAbstractAxis* x = nullptr;
            if (byTime_) {
                auto* t = new QDateTimeAxis();
                t->setFormat("HH:mm:ss");
                t->setTitleText(tr("Time"));
                x = t;
            } else {
                auto* r = new QValueAxis();
                r->setLabelFormat("%d");
                r->setTitleText(tr("Record"));
                x = r;
            }
            auto* y = new QValueAxis();
            y->setLabelFormat("%.6g");
            y->setTitleText(unitLabel(s.unit, s.unitIsCode));
            c->addAxis(x, Qt::AlignBottom);
            c->addAxis(y, Qt::AlignLeft);
        }
        auto* series = new QLineSeries();
        series->setName(tr("Channel %1, %2").arg(s.channel).arg(unitLabel(s.unit, s.unitIsCode)));
        series->setPointsVisible(true);
        series->setColor(kColours[n++ % std::size(kColours)]);
        for (const ReadingPoint& p : s.points) {
            const double x = byTime_ ? wallClockMs(*p.time) : static_cast<double>(p.record);
            series->append(x, p.value);
        }
        c->addSeries(series);
        for (QAbstractAxis* axis : c->axes()) series->attachAxis(axis);
    }
    order(firstChannel);
    for (int i = 0; i < chartCount(); ++i) {
        QChart* c = chartAt(i);
        const auto markers = c->legend()->markers();
        for (int m = 0; m < markers.size(); ++m) {
            connect(markers[m], &QLegendMarker::clicked, this,
                    [this, i, m] { toggleSeries(i, m); });
        }
        fitAxes(c);
    }
}

void ReadingsChart::toggleSeries(int chart, int index) {
    QChart* c = chartAt(chart);
    if (c == nullptr) return;
    const auto markers = c->legend()->markers();
    if (index < 0 || index >= markers.size()) return;
    QLegendMarker* marker = markers[index];
    QAbstractSeries* series = marker->series();
    series->setVisible(!series->isVisible());
    // A hidden series hides its legend entry too; keep it there, dimmed, to click again.
    marker->setVisible(true);
    QColor label = c->legend()->labelColor();
    label.setAlphaF(series->isVisible() ? 1.0 : 0.4);
    marker->setLabelBrush(label);
    fitAxes(c);
}

void ReadingsChart::fitAxes(QChart* c) {
    const auto horizontal = c->axes(Qt::Horizontal);
    const auto vertical = c->axes(Qt::Vertical);
    if (horizontal.isEmpty() || vertical.isEmpty()) return;
    bool any = false;
    double minX = 0, maxX = 0, minY = 0, maxY = 0;
    for (QAbstractSeries* s : c->series()) {
        auto* line = qobject_cast<QLineSeries*>(s);
        if (line == nullptr || !line->isVisible()) continue;
        for (const QPointF& p : line->points()) {
            minX = any ? std::min(minX, p.x()) : p.x();
            maxX = any ? std::max(maxX, p.x()) : p.x();
            minY = any ? std::min(minY, p.y()) : p.y();
            maxY = any ? std::max(maxY, p.y()) : p.y();
            any = true;
        }
    }
    if (!any) return;
    if (auto* t = qobject_cast<QDateTimeAxis*>(horizontal.front())) {
        if (maxX - minX < 60000) maxX = minX + 60000;
        t->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(minX)),
                    QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(maxX)));
        t->setFormat(maxX - minX > 86400000.0 ? "dd.MM. HH:mm" : "HH:mm:ss");
    } else if (auto* r = qobject_cast<QValueAxis*>(horizontal.front())) {
        r->setRange(minX, std::max(maxX, minX + 1));
        r->applyNiceNumbers();
    }
    // A flat line sits in the middle of a band around it.
    const double pad = minY == maxY ? std::max(std::abs(minY) * 0.01, 1e-3) : 0;
    auto* y = qobject_cast<QValueAxis*>(vertical.front());
    y->setRange(minY - pad, maxY + pad);
    y->applyNiceNumbers();
}

int ReadingsChart::chartCount() const {
    return static_cast<int>(views_.size());
}

QChart* ReadingsChart::chartAt(int index) const {
    if (index < 0 || index >= static_cast<int>(shown_.size())) return nullptr;
    return shown_[static_cast<std::size_t>(index)]->chart();
}

int ReadingsChart::seriesCount() const {
    int n = 0;
    for (const auto& [unit, view] : views_) n += static_cast<int>(view->chart()->series().size());
    return n;
}

int ReadingsChart::pointCount() const {
    int n = 0;
    for (const auto& [unit, view] : views_) {
        for (QAbstractSeries* s : view->chart()->series()) {
            if (auto* line = qobject_cast<QLineSeries*>(s)) n += static_cast<int>(line->count());
        }
    }
    return n;
}

void ReadingsChart::paint(QPaintDevice& device, QSize size) {
    QPainter painter(&device);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    if (shown_.empty()) {
        painter.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, tr("No readings to plot"));
        return;
    }
    const qreal height = static_cast<qreal>(size.height()) / static_cast<qreal>(shown_.size());
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        QChart* c = shown_[i]->chart();
        const QRectF onScreen = c->geometry();
        c->setGeometry(QRectF(0, 0, size.width(), height));
        QCoreApplication::processEvents();  // the chart lays itself out anew
        c->scene()->render(&painter,
                           QRectF(0, height * static_cast<qreal>(i), size.width(), height),
                           c->geometry());
        c->setGeometry(onScreen);
    }
}

void ReadingsChart::save(const std::string& path, QSize size) {
    const QString name = QString::fromLocal8Bit(path.c_str());
    const QString kind = QFileInfo(name).suffix().toLower();
    std::string temporary;
    ::close(createBeside(path, temporary));
    const QString temp = QString::fromLocal8Bit(temporary.c_str());
    bool written = true;
    if (kind == "svg") {
        QSvgGenerator svg;
        svg.setFileName(temp);
        svg.setSize(size);
        svg.setViewBox(QRect(QPoint(0, 0), size));
        svg.setTitle(tr("Readings"));
        paint(svg, size);
    } else if (kind == "pdf") {
        QPdfWriter pdf(temp);
        pdf.setResolution(96);
        pdf.setPageSize(
            QPageSize(QSizeF(size.width() * 0.75, size.height() * 0.75), QPageSize::Point));
        pdf.setPageMargins(QMarginsF(0, 0, 0, 0));
        paint(pdf, size);
    } else {
        QImage image(size, QImage::Format_ARGB32);
        paint(image, size);
        written = image.save(temp, "PNG");
    }
    struct stat st {};
    if (!written || ::stat(temporary.c_str(), &st) != 0 || st.st_size == 0) {
        ::unlink(temporary.c_str());
        throw RuntimeError(kErrPathFileAccess, standardDescription(kErrPathFileAccess) + ": " +
                                                   path + " could not be written");
    }
    putInPlace(temporary, path);
}

}  // namespace vantor::gui
