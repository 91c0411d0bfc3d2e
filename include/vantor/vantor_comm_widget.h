// The control on a Qt form: owns a Vantor_Comm and draws its status panel.
// Library VantorComm::widgets (pkg-config vantor-comm-widgets); needs a
// QApplication. The Qt Designer plugin puts it on forms (group "Vantor Comm").
#pragma once

#include <vantor/backends.h>
#include <vantor/status_panel.h>
#include <vantor/vantor_comm.h>

#include <QString>
#include <QWidget>
#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace vantor {

class IndicatorWidget;
class PanelLabel;

// The control's message boxes as modal Qt dialogs over `parent`, for
// createControl (ControlOptions::messages) in a widgets program.
std::shared_ptr<MessageSink> messageBoxes(QWidget* parent = nullptr);

class VantorCommWidget : public QWidget {
    Q_OBJECT
    Q_PROPERTY(int Port READ port WRITE setPort)
    Q_PROPERTY(QString AppPath READ appPath WRITE setAppPath)

  public:
    // On the Qt backends: the application's event loop, the system's serial
    // ports, message boxes over this widget and the local date.
    explicit VantorCommWidget(QWidget* parent = nullptr);
    // On backends of the host's (<vantor/backends.h>). The loop, the
    // message sink and the date source must outlive the widget.
    explicit VantorCommWidget(ControlPlatform platform, QWidget* parent = nullptr);
    ~VantorCommWidget() override;

    Vantor_Comm& control() { return *control_; }
    const Vantor_Comm& control() const { return *control_; }

    // The control's Port; values beyond a 16-bit Integer are clamped.
    int port() const;
    void setPort(int port);
    // The control has no getter for AppPath: the widget keeps what it gave.
    QString appPath() const { return appPath_; }
    void setAppPath(const QString& path);
    // Names the device that port number `port` stands for.
    void setDevice(int port, const QString& device);

    // The drawn parts of the panel, for hosts that style or inspect them
    // (<vantor/panel_label.h>, <vantor/indicator_widget.h>).
    PanelLabel* label1(int index) const { return label1_.at(static_cast<std::size_t>(index)); }
    PanelLabel* label3() const { return label3_; }
    IndicatorWidget* shape1() const { return shape1_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

  signals:
    // A transfer ended, whichever way. Emitted from inside the control's
    // receive event or its blocking download: connect with a queued
    // connection to call back into the control. The widget owns the
    // control's onTransferEnded for this.
    void transferEnded();

  protected:
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool event(QEvent* event) override;

  private:
    struct OwnPlatform;

    void build();
    void bind(PanelLabel* view, Label& model);
    void place(PanelLabel* view, const Label& model);
    void layoutPanel();

    std::unique_ptr<OwnPlatform> own_;
    std::unique_ptr<Vantor_Comm> control_;
    QString appPath_;
    std::array<PanelLabel*, 5> label1_{};
    PanelLabel* label3_ = nullptr;
    IndicatorWidget* shape1_ = nullptr;
    std::vector<std::pair<Observable*, int>> subscriptions_;
    bool shown_ = false;
};

}  // namespace vantor
