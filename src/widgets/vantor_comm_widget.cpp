#include <vantor/indicator_widget.h>
#include <vantor/panel_label.h>
#include <vantor/qt_platform.h>
#include <vantor/vantor_comm_widget.h>

#include <QEvent>
#include <algorithm>

#include "platform/qt/message_loop_qt.h"
#include "widgets/forms_qt.h"
#include "widgets/qt_message_sink.h"

namespace vantor {

namespace {

Integer toInteger(int value) {
    return static_cast<Integer>(std::clamp(value, -32768, 32767));
}

QString fromControl(const String& s) {
    return QString::fromLocal8Bit(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

struct VantorCommWidget::OwnPlatform {
    explicit OwnPlatform(QWidget* parent) : messages(parent) {}
    QtMessageLoop loop;
    QtMessageSink messages;
    LocalDateSource dates;
};

VantorCommWidget::VantorCommWidget(QWidget* parent)
    : QWidget(parent), own_(std::make_unique<OwnPlatform>(this)) {
    control_ = std::make_unique<Vantor_Comm>(
        ControlPlatform{own_->loop, own_->messages, own_->dates, qtSerialBackend()});
    build();
}

VantorCommWidget::VantorCommWidget(ControlPlatform platform, QWidget* parent)
    : QWidget(parent), control_(std::make_unique<Vantor_Comm>(std::move(platform))) {
    build();
}

VantorCommWidget::~VantorCommWidget() {
    for (auto& [model, id] : subscriptions_) model->unsubscribe(id);
    control_->onTransferEnded = nullptr;
    // The control goes before the platform it stands on.
    control_.reset();
    own_.reset();
}

void VantorCommWidget::build() {
    StatusPanel& panel = control_->Panel();
    for (std::size_t i = 0; i < label1_.size(); ++i) {
        label1_[i] = new PanelLabel(this);
        label1_[i]->setObjectName(QString("Label1_%1").arg(i));
        bind(label1_[i], panel.Label1[i]);
    }

    shape1_ = new IndicatorWidget(this);
    shape1_->setObjectName("Shape1");
    Shape& shape = panel.Shape1;
    auto syncShape = [this, &shape] {
        shape1_->setFillColour(toQColor(shape.fillColour()));
        shape1_->setVisible(shape.visible());
    };
    syncShape();
    subscriptions_.emplace_back(&shape, shape.subscribe(syncShape));

    label3_ = new PanelLabel(this);
    label3_->setObjectName("Label3");
    bind(label3_, panel.Label3);

    control_->onTransferEnded = [this] { emit transferEnded(); };
    layoutPanel();
}

void VantorCommWidget::bind(PanelLabel* view, Label& model) {
    view->setFont(toQFont(model.font));
    QPalette pal = view->palette();
    if (model.foreColour != kDefaultColour) {
        pal.setColor(QPalette::WindowText, toQColor(model.foreColour));
    }
    const bool opaque = !model.transparent && model.backColour != kDefaultColour;
    if (opaque) pal.setColor(QPalette::Window, toQColor(model.backColour));
    view->setPalette(pal);
    view->setAutoFillBackground(opaque);
    view->setBorder(model.border);
    // Labels of this kind draw their text from the top.
    view->setAlignment(Qt::AlignTop |
                       (model.alignment == Alignment::Centre ? Qt::AlignHCenter : Qt::AlignLeft));

    auto sync = [this, view, &model] {
        view->setText(fromControl(model.caption()));
        view->setVisible(model.visible());
        place(view, model);
    };
    sync();
    subscriptions_.emplace_back(&model, model.subscribe(sync));
}

void VantorCommWidget::place(PanelLabel* view, const Label& model) {
    QRect r = twipsToPixels(model.rect, logicalDpiX(), logicalDpiY());
    // A label without a border shows no edge: where the font on this system
    // is wider than the designed one, it grows rather than cut its caption.
    if (!model.border) r.setWidth(std::max(r.width(), view->sizeHint().width()));
    view->setGeometry(r);
}

void VantorCommWidget::layoutPanel() {
    StatusPanel& panel = control_->Panel();
    for (std::size_t i = 0; i < label1_.size(); ++i) place(label1_[i], panel.Label1[i]);
    place(label3_, panel.Label3);
    shape1_->setGeometry(twipsToPixels(panel.Shape1.rect, logicalDpiX(), logicalDpiY()));
    updateGeometry();
}

int VantorCommWidget::port() const {
    return control_->Port();
}

void VantorCommWidget::setPort(int port) {
    control_->Port(toInteger(port));
}

void VantorCommWidget::setAppPath(const QString& path) {
    appPath_ = path;
    control_->AppPath(path.toLocal8Bit().toStdString());
}

void VantorCommWidget::setDevice(int port, const QString& device) {
    control_->Ports().set(toInteger(port), device.toLocal8Bit().toStdString());
}

QSize VantorCommWidget::sizeHint() const {
    return QSize(twipsToPixels(kDesignWidth, logicalDpiX()),
                 twipsToPixels(kDesignHeight, logicalDpiY()));
}

QSize VantorCommWidget::minimumSizeHint() const {
    return sizeHint();
}

void VantorCommWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    control_->UserControl_Resize();
}

void VantorCommWidget::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (shown_) return;
    shown_ = true;
    // The screen is known now; its resolution may differ from the primary one.
    layoutPanel();
    control_->UserControl_Resize();
}

bool VantorCommWidget::event(QEvent* event) {
    if (event->type() == QEvent::ScreenChangeInternal) layoutPanel();
    return QWidget::event(event);
}

}  // namespace vantor
