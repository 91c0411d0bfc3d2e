#include <vantor/panel_label.h>

#include <QPainter>

namespace vantor {

PanelLabel::PanelLabel(QWidget* parent) : QLabel(parent) {
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

void PanelLabel::setBorder(bool border) {
    if (border == border_) return;
    border_ = border;
    // A frame of QFrame's own would take the text colour; the border is a plain dark line.
    const int m = border ? 1 : 0;
    setContentsMargins(m, m, m, m);
    update();
}

void PanelLabel::paintEvent(QPaintEvent* event) {
    QLabel::paintEvent(event);
    if (!border_) return;
    QPainter p(this);
    p.setPen(QPen(palette().color(QPalette::Shadow), 1));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

}  // namespace vantor
