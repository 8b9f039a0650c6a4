#pragma once

#include <QAction>
#include <QMainWindow>
#include <QToolBar>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "desktop/layer_tree.h"
#include "desktop/map_canvas.h"
#include "qt_host/progress_display.h"
#include "gis/model/map.h"

namespace selvane::desktop {

/// The map application's main window: menus, a toolbar for commands, the layer tree
/// beside the map, and a status bar with the step progressor.
class MapWindow : public QMainWindow {
public:
    MapWindow();

    /// Shows `document`: its layers in the tree, its map on the canvas, and the canvas
    /// redrawn whenever the document's view is refreshed.
    void ShowDocument(const std::shared_ptr<gis::MxDocument>& document);

    /// A toolbar named after a command category (made on first use).
    QToolBar* CommandBar(const QString& category);

    MapCanvas& Canvas() { return *m_canvas; }
    LayerTree& Tree() { return *m_tree; }
    qt_host::ProgressDisplay& Progress() { return *m_progress; }

    /// Called with the files the user picked from File > Open.
    std::function<void(const std::vector<std::string>& paths)> on_open;

private:
    void OpenFromMenu();

    MapCanvas* m_canvas;
    LayerTree* m_tree;
    qt_host::ProgressDisplay* m_progress;
};

}  // namespace selvane::desktop
