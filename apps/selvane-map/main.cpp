// selvane-map: the desktop map application that hosts the Spatial Selection command.
//
//   selvane-map [FILE]...     a map document, or data files; the sample map without any

#include <QApplication>
#include <QStyleFactory>
#include <QTimer>

#include <cstdio>
#include <string>
#include <vector>

#include "desktop/desktop_host.h"
#include "gis/support/large_blocks.h"
#include "gis/map_document.h"

int main(int argc, char** argv) {
    selvane::gis::MapLargeBlocksApart();
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Selvane Map"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    std::vector<std::string> paths;
    for (const auto& argument : QApplication::arguments().mid(1)) paths.push_back(argument.toStdString());
    if (paths.empty()) paths.push_back(selvane::gis::SampleMapPath(SELVANE_SAMPLE_MAP));

    // The window opens on an empty map; what the command line names is loaded into it,
    // so that a file that fails gives the same message box as File > Open.
    selvane::desktop::DesktopHost host(std::make_shared<selvane::gis::MxDocument>(std::make_shared<selvane::gis::Map>()));
    host.Window().show();
    QTimer::singleShot(0, &host.Window(), [&host, paths] { host.Open(paths); });
    return QApplication::exec();
}
