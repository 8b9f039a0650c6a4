// The QGIS plugin: the entry points QGIS looks up in a plugin library, and the plugin that
// puts the command on the plugins toolbar and in the Plugins menu.

#include <qgisinterface.h>
#include <qgisplugin.h>
#include <qgsproject.h>
#include <qgsstatusbar.h>

#include <QMainWindow>
#include <QStatusBar>

#include <memory>

#include "qgis/qgis_host.h"
#include "qt/builtin_resources.h"

namespace {

const QString kPluginName = QStringLiteral("Selvane");
const QString kDescription =
    QStringLiteral("Selects the features of one layer that stand in a spatial relationship to the features of another");
const QString kCategory = QStringLiteral("Vector");
const QString kVersion = QStringLiteral(SELVANE_VERSION);
const QString kIcon = QStringLiteral(":/selvane/resources/command_icon.png");

class SelvanePlugin : public QgisPlugin {
public:
    explicit SelvanePlugin(QgisInterface* iface)
        : QgisPlugin(kPluginName, kDescription, kCategory, kVersion, QgisPlugin::UI), m_iface(iface) {}
    ~SelvanePlugin() override { unload(); }

    void initGui() override {
        if (m_host) return;
        QStatusBar* status_bar = nullptr;
        if (auto* main = qobject_cast<QMainWindow*>(m_iface->mainWindow())) status_bar = main->statusBar();
        m_host = std::make_unique<selvane::qgis::QgisHost>(
            *QgsProject::instance(), selvane::qgis::QgisWindows{m_iface->mainWindow(), m_iface->mapCanvas(), status_bar});
        m_iface->addToolBarIcon(m_host->CommandAction());
        m_iface->addPluginToVectorMenu(kPluginName, m_host->CommandAction());
    }

    void unload() override {
        if (!m_host) return;
        m_iface->removeToolBarIcon(m_host->CommandAction());
        m_iface->removePluginVectorMenu(kPluginName, m_host->CommandAction());
        m_host.reset();
    }

private:
    QgisInterface* m_iface;
    std::unique_ptr<selvane::qgis::QgisHost> m_host;
};

}  // namespace

QGISEXTERN QgisPlugin* classFactory(QgisInterface* iface) { return new SelvanePlugin(iface); }
QGISEXTERN const QString* name() { return &kPluginName; }
QGISEXTERN const QString* description() { return &kDescription; }
QGISEXTERN const QString* category() { return &kCategory; }
QGISEXTERN int type() { return QgisPlugin::UI; }
QGISEXTERN const QString* version() { return &kVersion; }
QGISEXTERN const QString* icon() {
    // The plugin manager shows the icon before it makes the plugin.
    selvane::qt::LoadBuiltInResources();
    return &kIcon;
}
QGISEXTERN void unload(QgisPlugin* plugin) { delete plugin; }
