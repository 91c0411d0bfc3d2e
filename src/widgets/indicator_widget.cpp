#include <vantor/indicator_widget.h>

#include <QPainter>

namespace vantor {

IndicatorWidget::IndicatorWidget(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void IndicatorWidget::setFillColour(const QColor& colour) {
    if (colour == fill_) return;
    fill_ = colour;
    update();
}

void IndicatorWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const QRect r = rect();
    p.fillRect(r, fill_);
    p.setPen(QPen(Qt::black, 1));
    p.drawRect(r.adjusted(0, 0, -1, -1));
}

}  // namespace vantor
