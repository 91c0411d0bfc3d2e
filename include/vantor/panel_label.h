// A label of the panel: a QLabel with an optional one-pixel line border.
#pragma once

#include <QLabel>

namespace vantor {

class PanelLabel : public QLabel {
    Q_OBJECT
    Q_PROPERTY(bool border READ border WRITE setBorder)

  public:
    explicit PanelLabel(QWidget* parent = nullptr);

    bool border() const { return border_; }
    void setBorder(bool border);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool border_ = false;
};

}  // namespace vantor
