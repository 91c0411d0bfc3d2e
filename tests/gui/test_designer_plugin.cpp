// The Qt Designer plugin: loaded as Designer loads it, and a form made with it.
#include <gtest/gtest.h>
#include <vantor/vantor_comm_widget.h>

#include <QMetaProperty>
#include <QPluginLoader>
#include <QtUiPlugin/QDesignerCustomWidgetInterface>
#include <memory>

#include "ui_panel_form.h"

namespace vantor::testing {
namespace {

#ifdef VANTOR_DESIGNER_PLUGIN_FILE
// Every widget interface the plugin hands out, single or in a collection.
QList<QDesignerCustomWidgetInterface*> widgetsOf(QObject* plugin) {
    if (auto* one = qobject_cast<QDesignerCustomWidgetInterface*>(plugin)) return {one};
    if (auto* many = qobject_cast<QDesignerCustomWidgetCollectionInterface*>(plugin)) {
        return many->customWidgets();
    }
    return {};
}

TEST(DesignerPlugin, LoadsAndCreatesTheWidget) {
    QPluginLoader loader(QStringLiteral(VANTOR_DESIGNER_PLUGIN_FILE));
    QObject* plugin = loader.instance();
    ASSERT_NE(plugin, nullptr) << loader.errorString().toStdString();
    EXPECT_EQ(loader.metaData().value("IID").toString().toStdString(),
              "org.qt-project.Qt.QDesignerCustomWidgetInterface");

    const auto widgets = widgetsOf(plugin);
    ASSERT_EQ(widgets.size(), 1);
    QDesignerCustomWidgetInterface* w = widgets[0];
    // Designer compares it with the meta-object's class name; uic declares members with it.
    EXPECT_EQ(w->name().toStdString(), "vantor::VantorCommWidget");
    EXPECT_EQ(w->group().toStdString(), "Vantor Comm");
    EXPECT_EQ(w->includeFile().toStdString(), "vantor/vantor_comm_widget.h");
    EXPECT_FALSE(w->isContainer());
    EXPECT_FALSE(w->icon().isNull());
    EXPECT_TRUE(w->domXml().contains("class=\"vantor::VantorCommWidget\""));
    EXPECT_TRUE(w->domXml().contains("displayname=\"VantorCommWidget\""));
    w->initialize(nullptr);
    EXPECT_TRUE(w->isInitialized());

    QWidget parent;
    QWidget* created = w->createWidget(&parent);
    ASSERT_NE(created, nullptr);
    EXPECT_EQ(created->parentWidget(), &parent);
    // The plugin carries its own copy of the class: compare by name.
    EXPECT_STREQ(created->metaObject()->className(), "vantor::VantorCommWidget");
    const QMetaObject* mo = created->metaObject();
    for (const char* name : {"Port", "AppPath"}) {
        SCOPED_TRACE(name);
        const int i = mo->indexOfProperty(name);
        ASSERT_GE(i, 0);
        EXPECT_TRUE(mo->property(i).isDesignable());
        EXPECT_TRUE(mo->property(i).isWritable());
    }
    EXPECT_TRUE(created->setProperty("Port", 4));
    EXPECT_EQ(created->property("Port").toInt(), 4);
    EXPECT_TRUE(created->setProperty("AppPath", QStringLiteral("/srv/meter")));
    EXPECT_EQ(created->property("AppPath").toString().toStdString(), "/srv/meter");
    EXPECT_GT(created->sizeHint().width(), created->sizeHint().height());
    delete created;
}
#endif

TEST(DesignerForm, UicCodeBuildsTheWidgetWithItsProperties) {
    QWidget form;
    Ui::PanelForm ui;
    ui.setupUi(&form);
    ASSERT_NE(ui.vantorComm, nullptr);
    VantorCommWidget* w = form.findChild<VantorCommWidget*>("vantorComm");
    ASSERT_EQ(w, ui.vantorComm);
    EXPECT_EQ(w->port(), 3);
    EXPECT_EQ(w->control().Port(), 3);
    EXPECT_EQ(w->appPath().toStdString(), "/srv/meter");
}

}  // namespace
}  // namespace vantor::testing
