#include "vantor_comm_widget_plugin.h"

#include <vantor/status_panel.h>
#include <vantor/vantor_comm_widget.h>

#include <QIcon>
#include <QPainter>
#include <QPixmap>

#include "widgets/forms_qt.h"

namespace vantor {

QString VantorCommWidgetPlugin::name() const {
    // Designer matches this against the widget's meta-object class name, and
    // uic declares the member with it: both need the namespace.
    return QStringLiteral("vantor::VantorCommWidget");
}

QString VantorCommWidgetPlugin::group() const {
    return QStringLiteral("Vantor Comm");
}

QString VantorCommWidgetPlugin::toolTip() const {
    return QStringLiteral("Downloads the readings a hand-held meter has logged");
}

QString VantorCommWidgetPlugin::whatsThis() const {
    return QStringLiteral(
        "The Vantor_Comm control with its status panel. Set Port (and the device it stands "
        "for) and AppPath, then call Start or ReadDataLogger on control().");
}

QString VantorCommWidgetPlugin::includeFile() const {
    return QStringLiteral("vantor/vantor_comm_widget.h");
}

QIcon VantorCommWidgetPlugin::icon() const {
    // The panel's indicator in both of its colours.
    QPixmap pixmap(22, 22);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(Qt::black);
    p.setBrush(toQColor(kIndicatorGreen));
    p.drawRect(1, 1, 12, 12);
    p.setBrush(toQColor(kIndicatorBlue));
    p.drawRect(8, 8, 12, 12);
    return QIcon(pixmap);
}

QWidget* VantorCommWidgetPlugin::createWidget(QWidget* parent) {
    return new VantorCommWidget(parent);
}

void VantorCommWidgetPlugin::initialize(QDesignerFormEditorInterface*) {
    initialized_ = true;
}

QString VantorCommWidgetPlugin::domXml() const {
    // Port 0 is no port at all; a new widget starts on the first one.
    return QStringLiteral(R"(<ui language="c++" displayname="VantorCommWidget">
 <widget class="vantor::VantorCommWidget" name="vantorComm">
  <property name="Port">
   <number>1</number>
  </property>
 </widget>
</ui>
)");
}

}  // namespace vantor
