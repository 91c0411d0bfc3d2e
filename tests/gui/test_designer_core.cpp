// The plugin as Qt Designer itself takes it: its plugin manager, widget
// database, widget factory and property sheet, without a window on screen.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QWidget>
#include <QtDesigner/QDesignerComponents>
#include <QtDesigner/QDesignerFormEditorInterface>
#include <QtDesigner/QDesignerPropertySheetExtension>
#include <QtDesigner/QDesignerWidgetDataBaseInterface>
#include <QtDesigner/QDesignerWidgetFactoryInterface>
#include <QtDesigner/QExtensionManager>

namespace vantor::testing {
namespace {

QStringList* designerWarnings = nullptr;

void collect(QtMsgType type, const QMessageLogContext&, const QString& text) {
    if (type != QtDebugMsg && designerWarnings != nullptr) designerWarnings->append(text);
}

TEST(DesignerCore, WidgetBoxFactoryAndPropertyEditorTakeTheWidget) {
    QStringList warnings;
    designerWarnings = &warnings;
    QtMessageHandler previous = qInstallMessageHandler(collect);

    QCoreApplication::addLibraryPath(QStringLiteral(VANTOR_PLUGIN_DIR));
    // Designer's core lives as long as the process, as in Designer; held in a
    // static so that the leak checker sees it is still in use.
    static QDesignerFormEditorInterface* core = nullptr;
    core = QDesignerComponents::createFormEditor(nullptr);
    QDesignerComponents::initializePlugins(core);

    QDesignerWidgetDataBaseInterface* db = core->widgetDataBase();
    const int index = db->indexOfClassName(QStringLiteral("vantor::VantorCommWidget"));
    ASSERT_GE(index, 0);
    QDesignerWidgetDataBaseItemInterface* item = db->item(index);
    EXPECT_TRUE(item->isCustom());
    EXPECT_EQ(item->group().toStdString(), "Vantor Comm");
    EXPECT_EQ(item->includeFile().toStdString(), "vantor/vantor_comm_widget.h");

    QWidget form;
    QWidget* widget =
        core->widgetFactory()->createWidget(QStringLiteral("vantor::VantorCommWidget"), &form);
    ASSERT_NE(widget, nullptr);
    EXPECT_STREQ(widget->metaObject()->className(), "vantor::VantorCommWidget");
    // Designer worked out the base class from the widget's meta-object.
    EXPECT_EQ(item->extends().toStdString(), "QWidget");

    auto* sheet = qt_extension<QDesignerPropertySheetExtension*>(core->extensionManager(), widget);
    ASSERT_NE(sheet, nullptr);
    const int port = sheet->indexOf(QStringLiteral("Port"));
    const int appPath = sheet->indexOf(QStringLiteral("AppPath"));
    ASSERT_GE(port, 0);
    ASSERT_GE(appPath, 0);
    EXPECT_TRUE(sheet->isVisible(port));
    EXPECT_TRUE(sheet->isVisible(appPath));
    sheet->setProperty(port, 6);
    sheet->setProperty(appPath, QStringLiteral("/srv/meter"));
    EXPECT_EQ(widget->property("Port").toInt(), 6);
    EXPECT_EQ(widget->property("AppPath").toString().toStdString(), "/srv/meter");

    qInstallMessageHandler(previous);
    designerWarnings = nullptr;
    for (const QString& w : warnings) {
        EXPECT_FALSE(w.contains("Vantor", Qt::CaseInsensitive) || w.contains("mismatch"))
            << w.toStdString();
    }
}

}  // namespace
}  // namespace vantor::testing
