#include "widgets/qt_message_sink.h"

#include <vantor/vantor_comm_widget.h>

#include <QMessageBox>

namespace vantor {

void QtMessageSink::show(const std::string& text) {
    QMessageBox box(parent_.data());
    box.setWindowTitle(QString());
    box.setIcon(QMessageBox::NoIcon);
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size())));
    box.setStandardButtons(QMessageBox::Ok);
    box.setDefaultButton(QMessageBox::Ok);
    box.exec();
}

std::shared_ptr<MessageSink> messageBoxes(QWidget* parent) {
    return std::make_shared<QtMessageSink>(parent);
}

}  // namespace vantor
