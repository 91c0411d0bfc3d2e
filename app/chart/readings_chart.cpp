#include "readings_chart.h"

#include <vantor/errors.h>
#include <vantor/file_output.h>
#include <vantor/grid_readings.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QFontMetrics>
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
#include <QtCharts/QScatterSeries>
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
const QMargins kMargins(2, 2, 2, 2);
// A line cut into more pieces than this is bridged at its later gaps (their
// triangles stay): Qt Charts slows down with every series.
constexpr std::size_t kMostPieces = 64;

QString local(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

// The axis labels in local time: the meter's clock reading, as it is.
double wallClockMs(double stampSeconds) {
    const QDateTime utc = QDateTime::fromSecsSinceEpoch(static_cast<qint64>(stampSeconds), Qt::UTC);
    return static_cast<double>(QDateTime(utc.date(), utc.time()).toMSecsSinceEpoch());
}

QString dayOf(double stampSeconds) {
    return QDateTime::fromSecsSinceEpoch(static_cast<qint64>(stampSeconds), Qt::UTC)
        .date()
        .toString(Qt::ISODate);
}

void removeAll(QChart* c) {
    c->removeAllSeries();
    for (QAbstractAxis* axis : c->axes()) {
        c->removeAxis(axis);
        delete axis;
    }
}

QAbstractAxis* timeAxis(const ChartAxis& a) {
    if (!a.byTime) {
        auto* r = new QValueAxis();
        r->setLabelFormat("%.0f");
        r->setTitleText(QObject::tr("Record"));
        r->setRange(a.min, a.max);
        r->setTickCount(a.ticks());
        return r;
    }
    auto* t = new QDateTimeAxis();
    const bool days = a.max - a.min > 86400;
    t->setFormat(a.step >= 86400 ? "yyyy-MM-dd"
                 : days          ? "MM-dd HH:mm"
                 : a.step < 60   ? "HH:mm:ss"
                                 : "HH:mm");
    const QString first = dayOf(a.min), last = dayOf(a.max - 1);
    t->setTitleText(first == last ? QObject::tr("Time, %1").arg(first)
                                  : QObject::tr("Time, %1 to %2").arg(first, last));
    const double from = wallClockMs(a.min);
    t->setRange(QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(from)),
                QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(from + (a.max - a.min) * 1000)));
    t->setTickCount(a.ticks());
    return t;
}

}  // namespace

ReadingsChart::ReadingsChart(QWidget* parent)
    : QScrollArea(parent),
      box_(new QWidget(this)),
      layout_(new QVBoxLayout(box_)),
      note_(new QLabel(box_)) {
    layout_->setContentsMargins(0, 0, 0, 0);
    layout_->setSpacing(2);
    layout_->addStretch(1);
    note_->setWordWrap(true);
    note_->hide();
    layout_->addWidget(note_);
    setWidget(box_);
    setWidgetResizable(true);
    setMinimumSize(320, 240);
}

ReadingsChart::Shown& ReadingsChart::shownFor(const std::string& unit, const QString& label) {
    auto it = views_.find(unit);
    if (it != views_.end()) return it->second;
    // setChart() would only release the view's own first chart, not delete it.
    auto* view = new QChartView(new QChart(), box_);
    view->setRenderHint(QPainter::Antialiasing);
    view->setMinimumHeight(kChartHeight);
    QChart* c = view->chart();
    c->setTitle(label);
    c->legend()->setAlignment(Qt::AlignRight);
    c->setMargins(kMargins);
    return views_.emplace(unit, Shown{view, {}}).first->second;
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
    for (auto& [unit, shown] : views_) delete shown.view;
    views_.clear();
    shown_.clear();
    summary_ = ReadingSummary();
    note_->hide();
}

void ReadingsChart::showReadings(const DataGrid& grid, const StampClock& clock) {
    showSummary(ReadingSummary::build(gridFeed(grid, clock ? clock : StampClock(stampSeconds)),
                                      SummaryLimits{kLiveColumns}));
}

void ReadingsChart::showSummary(ReadingSummary summary) {
    summary_ = std::move(summary);
    for (auto it = views_.begin(); it != views_.end();) {
        const bool kept =
            std::any_of(summary_.charts.begin(), summary_.charts.end(),
                        [&](const ReadingSummary::Chart& c) { return c.unit == it->first; });
        if (kept) {
            removeAll(it->second.view->chart());
            it->second.lines.clear();
            ++it;
        } else {
            delete it->second.view;
            it = views_.erase(it);
        }
    }
    for (QChartView* view : box_->findChildren<QChartView*>()) layout_->removeWidget(view);
    shown_.clear();

    points_ = 0;
    const ChartAxis& axis = summary_.axis;
    // Local time once: each conversion reads the zone anew.
    const double base = axis.byTime ? wallClockMs(axis.min) : 0;
    auto xOf = [&](double x) { return axis.byTime ? base + (x - axis.min) * 1000 : x; };
    std::size_t colour = 0;
    for (const ReadingSummary::Chart& chart : summary_.charts) {
        const QString label = local(ReadingSummary::unitLabel(chart.unit, chart.unitIsCode));
        Shown& shown = shownFor(chart.unit, label);
        QChart* c = shown.view->chart();
        c->addAxis(timeAxis(axis), Qt::AlignBottom);
        auto* y = new QValueAxis();
        y->setLabelFormat("%.6g");
        y->setTitleText(label);
        c->addAxis(y, Qt::AlignLeft);

        // The legend's series first, so that series(i) is channel i's.
        for (const ReadingSummary::Line& l : chart.lines) {
            Line& line = shown.lines.emplace_back();
            auto* first = new QLineSeries();
            first->setName(tr("Channel %1, %2").arg(l.channel).arg(label));
            first->setColor(kColours[colour++ % std::size(kColours)]);
            line.parts.push_back(first);
            line.low = l.low;
            line.high = l.high;
            line.any = l.readings > 0;
            c->addSeries(first);
        }
        for (std::size_t i = 0; i < chart.lines.size(); ++i) {
            const ReadingSummary::Line& l = chart.lines[i];
            Line& line = shown.lines[i];
            const QColor colourOf = line.parts.front()->color();
            // Sparse readings show their points, as a dense line cannot.
            const bool points = l.readings * 8 <= summary_.columns;
            QList<QPointF> piece;
            QList<QPointF> gaps;
            auto store = [&] {
                if (piece.isEmpty()) return;
                if (line.parts.size() == 1 && line.parts.front()->count() == 0) {
                    line.parts.front()->replace(piece);
                } else {
                    auto* next = new QLineSeries();
                    next->setName(line.parts.front()->name());
                    next->setColor(colourOf);
                    next->replace(piece);
                    line.parts.push_back(next);
                }
                piece.clear();
            };
            auto add = [&](const ReadingSummary::Part& p) {
                if (p.count == 0) return;
                piece.append(QPointF(xOf(p.firstX), p.first));
                if (p.count > 2) {
                    const double mid = xOf((p.firstX + p.lastX) / 2);
                    const bool rising = p.last >= p.first;
                    piece.append(QPointF(mid, rising ? p.low : p.high));
                    piece.append(QPointF(mid, rising ? p.high : p.low));
                }
                if (p.count > 1) piece.append(QPointF(xOf(p.lastX), p.last));
            };
            for (const ReadingSummary::Column& col : l.columns) {
                add(col.before);
                if (col.overload) {
                    gaps.append(QPointF(xOf(col.overloadX), 0));
                    if (line.parts.size() < kMostPieces) store();
                }
                add(col.after);
            }
            store();
            if (!gaps.isEmpty()) {
                line.overloads = new QScatterSeries();
                line.overloads->setName(tr("Channel %1 overloads, %2").arg(l.channel).arg(label));
                line.overloads->setColor(colourOf);
                line.overloads->setBorderColor(colourOf);
                line.overloads->setMarkerShape(QScatterSeries::MarkerShapeTriangle);
                line.overloads->setMarkerSize(9);
                line.overloads->replace(gaps);
            }
            for (QLineSeries* part : line.parts) {
                points_ += part->count();
                part->setPointsVisible(points || part->count() == 1);
                if (part != line.parts.front()) c->addSeries(part);
            }
            if (line.overloads != nullptr) c->addSeries(line.overloads);
        }
        for (QAbstractSeries* series : c->series()) {
            for (QAbstractAxis* a : c->axes()) series->attachAxis(a);
        }
        const auto markers = c->legend()->markers();
        for (int m = static_cast<int>(chart.lines.size()); m < markers.size(); ++m) {
            markers[m]->setVisible(false);
        }
        shown_.push_back(&shown);
        const int index = static_cast<int>(shown_.size()) - 1;
        layout_->insertWidget(index, shown.view);
        for (int m = 0; m < static_cast<int>(chart.lines.size()); ++m) {
            connect(markers[m], &QLegendMarker::clicked, this,
                    [this, index, m] { toggleSeries(index, m); });
        }
        fitAxes(shown_.size() - 1);
    }
    for (Shown* shown : shown_) shown->view->setRenderHint(QPainter::Antialiasing, smooth());
    note_->setText(leftOutNote());
    note_->setVisible(!note_->text().isEmpty());
}

QString ReadingsChart::leftOutNote() const {
    QStringList parts;
    if (!summary_.leftOutUnits.empty()) {
        QStringList units;
        for (const std::string& u : summary_.leftOutUnits) units << local(u);
        parts << tr("not drawn (at most %1 charts): %2")
                     .arg(SummaryLimits{}.charts)
                     .arg(units.join(", "));
    }
    if (summary_.leftOutLines > 0) {
        parts << tr("%n channel(s) not drawn (at most %1 lines a chart)", nullptr,
                    static_cast<int>(summary_.leftOutLines))
                     .arg(SummaryLimits{}.lines);
    }
    return parts.join("; ");
}

void ReadingsChart::toggleSeries(int chart, int index) {
    if (chart < 0 || chart >= chartCount()) return;
    Shown& shown = *shown_[static_cast<std::size_t>(chart)];
    if (index < 0 || index >= static_cast<int>(shown.lines.size())) return;
    QChart* c = shown.view->chart();
    Line& line = shown.lines[static_cast<std::size_t>(index)];
    const bool visible = !line.parts.front()->isVisible();
    for (QLineSeries* part : line.parts) part->setVisible(visible);
    if (line.overloads != nullptr) line.overloads->setVisible(visible);
    // A hidden series hides its legend entry too; keep it there, dimmed, to click again.
    const auto markers = c->legend()->markers(line.parts.front());
    for (QLegendMarker* marker : markers) {
        marker->setVisible(true);
        QColor label = c->legend()->labelColor();
        label.setAlphaF(visible ? 1.0 : 0.4);
        marker->setLabelBrush(label);
    }
    for (QAbstractSeries* other : c->series()) {
        if (other == line.parts.front()) continue;
        for (QLegendMarker* marker : c->legend()->markers(other)) marker->setVisible(false);
    }
    fitAxes(static_cast<std::size_t>(chart));
}

void ReadingsChart::fitAxes(std::size_t chart) {
    Shown& shown = *shown_[chart];
    const auto vertical = shown.view->chart()->axes(Qt::Vertical);
    if (vertical.isEmpty()) return;
    bool any = false;
    double low = 0, high = 0;
    for (const Line& line : shown.lines) {
        if (!line.any || !line.parts.front()->isVisible()) continue;
        low = any ? std::min(low, line.low) : line.low;
        high = any ? std::max(high, line.high) : line.high;
        any = true;
    }
    if (!any) return;
    // A flat line sits in the middle of a band around it.
    const double pad = low == high ? std::max(std::abs(low) * 0.01, 1e-3) : 0;
    auto* y = qobject_cast<QValueAxis*>(vertical.front());
    y->setRange(low - pad, high + pad);
    y->applyNiceNumbers();
    // The overloads' triangles along the top: they have no value.
    const double top = y->max() - (y->max() - y->min()) * 0.03;
    for (const Line& line : shown.lines) {
        if (line.overloads == nullptr) continue;
        QList<QPointF> points = line.overloads->points();
        for (QPointF& p : points) p.setY(top);
        line.overloads->replace(points);
    }
}

bool ReadingsChart::smooth() const {
    // Antialiased, a few hundred thousand line pieces take seconds (Qt fills each on its
    // threads); as dense as that, the difference does not show.
    return points_ < 20000;
}

int ReadingsChart::chartCount() const {
    return static_cast<int>(shown_.size());
}

QChart* ReadingsChart::chartAt(int index) const {
    if (index < 0 || index >= chartCount()) return nullptr;
    return shown_[static_cast<std::size_t>(index)]->view->chart();
}

int ReadingsChart::seriesCount() const {
    int n = 0;
    for (const Shown* shown : shown_) n += static_cast<int>(shown->lines.size());
    return n;
}

int ReadingsChart::pointCount() const {
    return static_cast<int>(summary_.readings);
}

void ReadingsChart::paint(QPaintDevice& device, QSize size) {
    QPainter painter(&device);
    painter.setRenderHint(QPainter::Antialiasing, smooth());
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    if (shown_.empty()) {
        painter.drawText(QRect(QPoint(0, 0), size), Qt::AlignCenter, tr("No readings to plot"));
        return;
    }
    const QString note = leftOutNote();
    const QFontMetrics metrics(painter.font());
    const int noteHeight = note.isEmpty() ? 0 : metrics.height() + 6;
    const qreal height =
        static_cast<qreal>(size.height() - noteHeight) / static_cast<qreal>(shown_.size());
    std::vector<QRectF> onScreen;
    qreal left = 0, right = size.width();
    for (const Shown* shown : shown_) {
        QChart* c = shown->view->chart();
        onScreen.push_back(c->geometry());
        c->setGeometry(QRectF(0, 0, size.width(), height));
    }
    QCoreApplication::processEvents();  // the charts lay themselves out anew
    for (const Shown* shown : shown_) {
        left = std::max(left, shown->view->chart()->plotArea().left());
        right = std::min(right, shown->view->chart()->plotArea().right());
    }
    // One time axis for all: the plot areas line up.
    for (const Shown* shown : shown_) {
        QChart* c = shown->view->chart();
        const QRectF area = c->plotArea();
        if (right <= left) break;
        QMargins margins = c->margins();
        margins.setLeft(margins.left() + static_cast<int>(std::lround(left - area.left())));
        margins.setRight(margins.right() + static_cast<int>(std::lround(area.right() - right)));
        c->setMargins(margins);
    }
    QCoreApplication::processEvents();
    for (std::size_t i = 0; i < shown_.size(); ++i) {
        QChart* c = shown_[i]->view->chart();
        c->scene()->render(&painter,
                           QRectF(0, height * static_cast<qreal>(i), size.width(), height),
                           c->geometry());
        c->setMargins(kMargins);
        c->setGeometry(onScreen[i]);
    }
    if (noteHeight > 0) {
        const QRect line(4, size.height() - noteHeight, size.width() - 8, noteHeight);
        painter.setPen(Qt::black);
        painter.drawText(line, Qt::AlignLeft | Qt::AlignVCenter,
                         metrics.elidedText(note, Qt::ElideRight, line.width()));
    }
}

std::string ReadingsChart::save(const std::string& path, QSize size) {
    const QString name = QString::fromLocal8Bit(path.c_str());
    const QString kind = QFileInfo(name).suffix().toLower();
    FileOutput output(path);  // the painters open it by its name
    const QString temp = QString::fromLocal8Bit(output.temporary().c_str());
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
    if (!written || QFileInfo(temp).size() == 0) {
        throw RuntimeError(kErrPathFileAccess, standardDescription(kErrPathFileAccess) + ": " +
                                                   path + " could not be written");
    }
    return output.commit();
}

}  // namespace vantor::gui
