// The panel's indicator: a small solid square with a thin outline.
#pragma once

#include <QColor>
#include <QWidget>

namespace vantor {

class IndicatorWidget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QColor fillColour READ fillColour WRITE setFillColour)

  public:
    explicit IndicatorWidget(QWidget* parent = nullptr);

    QColor fillColour() const { return fill_; }
    void setFillColour(const QColor& colour);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QColor fill_;
};

}  // namespace vantor
