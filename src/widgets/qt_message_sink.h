// The control's message boxes as modal Qt message boxes.
#pragma once

#include <vantor/message_sink.h>

#include <QPointer>
#include <QWidget>

namespace vantor {

// One OK button, no icon and no title of its own. While the box is open the
// event loop keeps running, so receive events and timer ticks go on.
class QtMessageSink : public MessageSink {
  public:
    explicit QtMessageSink(QWidget* parent = nullptr) : parent_(parent) {}
    void setParent(QWidget* parent) { parent_ = parent; }
    void show(const std::string& text) override;

  private:
    QPointer<QWidget> parent_;
};

}  // namespace vantor
