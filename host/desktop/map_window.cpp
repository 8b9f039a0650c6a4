#include "desktop/map_window.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QMenuBar>
#include <QSplitter>
#include <QStatusBar>

namespace selvane::desktop {

MapWindow::MapWindow()
    : m_canvas(new MapCanvas), m_tree(new LayerTree), m_progress(new qt_host::ProgressDisplay) {
    setWindowTitle(QStringLiteral("Selvane Map"));
    auto* splitter = new QSplitter(this);
    splitter->addWidget(m_tree);
    splitter->addWidget(m_canvas);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({220, 780});
    setCentralWidget(splitter);
    statusBar()->addPermanentWidget(m_progress);

    auto* file = menuBar()->addMenu(QStringLiteral("&File"));
    auto* open = file->addAction(QStringLiteral("&Open..."), this, [this] { OpenFromMenu(); });
    open->setShortcut(QKeySequence::Open);
    open->setStatusTip(QStringLiteral("Open a map document or data files"));
    file->addSeparator();
    file->addAction(QStringLiteral("E&xit"), this, [this] { close(); })->setShortcut(QKeySequence::Quit);

    auto* view = menuBar()->addMenu(QStringLiteral("&View"));
    auto* full_extent = view->addAction(QStringLiteral("&Full Extent"), this, [this] { m_canvas->ZoomToFullExtent(); });
    full_extent->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Home));
    full_extent->setStatusTip(QStringLiteral("Show every layer of the map"));
    auto* navigation = addToolBar(QStringLiteral("Navigation"));
    navigation->setObjectName(QStringLiteral("Navigation"));
    navigation->addAction(full_extent);

    m_canvas->on_problem = [this](const QString& problem) { statusBar()->showMessage(problem, 10000); };
    m_tree->on_visibility = [this](const platform::ILayer* layer, bool visible) {
        m_canvas->Renderer().SetVisible(layer, visible);
        m_canvas->Refresh();
    };
    resize(1000, 700);
}

void MapWindow::ShowDocument(const std::shared_ptr<gis::MxDocument>& document) {
    m_tree->SetMap(document->GetMap());
    m_canvas->SetMap(document->GetMap());
    // The canvas lives as long as the window; a view outliving it must not call into it.
    QPointer<MapCanvas> canvas(m_canvas);
    document->View()->OnRefresh([canvas] {
        if (canvas) canvas->Refresh();
    });
    const QString path = QString::fromStdString(document->Path());
    setWindowTitle(path.isEmpty() ? QStringLiteral("Selvane Map")
                                  : QStringLiteral("%1 - Selvane Map").arg(QFileInfo(path).fileName()));
}

QToolBar* MapWindow::CommandBar(const QString& category) {
    if (auto* bar = findChild<QToolBar*>(category)) return bar;
    auto* bar = addToolBar(category);
    bar->setObjectName(category);
    bar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    return bar;
}

void MapWindow::OpenFromMenu() {
    const QStringList files = QFileDialog::getOpenFileNames(
        this, QStringLiteral("Open a map document or data files"), QString(),
        QStringLiteral("Maps and data (*.json *.gpkg *.shp *.geojson *.fgb *.csv *.gml *.kml *.sqlite);;All files (*)"));
    if (files.isEmpty() || !on_open) return;
    std::vector<std::string> paths;
    for (const auto& file : files) paths.push_back(file.toStdString());
    on_open(paths);
}

}  // namespace selvane::desktop
