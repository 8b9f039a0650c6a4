#include "desktop/layer_tree.h"

#include <QHeaderView>

#include "gis/memory/layer.h"
#include "gis/model/layers.h"
#include "gis/postgis/layer.h"
#include "platform/error.h"

namespace selvane::qt {
namespace {

constexpr int kLayerRole = Qt::UserRole + 1;

QString KindOf(const platform::ILayer& layer) {
    if (dynamic_cast<const gis::GroupLayer*>(&layer)) return QStringLiteral("Group layer");
    if (dynamic_cast<const gis::RasterLayer*>(&layer)) return QStringLiteral("Raster layer");
    if (auto* feature = dynamic_cast<const gis::MemoryLayer*>(&layer)) {
        QString count;
        try {
            count = QStringLiteral("%1 features").arg(feature->Class()->RowCount());
        } catch (const platform::Error& error) {
            count = QStringLiteral("rows cannot be read: ") + QString::fromStdString(error.what());
        }
        QString kind = QStringLiteral("Feature layer: %1 (%2)").arg(QString::fromStdString(feature->Class()->Name()), count);
        if (!feature->DefinitionQuery().empty()) {
            kind += QStringLiteral("\nDefinition query: ") + QString::fromStdString(feature->DefinitionQuery());
        }
        return kind;
    }
    if (auto* database = dynamic_cast<const gis::PostgisLayer*>(&layer)) {
        // Not counted here: a count of a large table would hold up the tree.
        QString kind = QStringLiteral("Database layer: table %1, %2 (searched in the server, not drawn)")
                           .arg(QString::fromStdString(database->Class()->Table().Display()),
                                QString::fromStdString(database->Class()->Connection()->Source()));
        if (!database->DefinitionQuery().empty()) {
            kind += QStringLiteral("\nDefinition query: ") + QString::fromStdString(database->DefinitionQuery());
        }
        return kind;
    }
    return QStringLiteral("Layer");
}

void AddLayers(QTreeWidgetItem* parent, QTreeWidget* tree, const std::vector<std::shared_ptr<platform::ILayer>>& layers) {
    for (const auto& layer : layers) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
        item->setText(0, QString::fromStdString(layer->Name()));
        item->setToolTip(0, KindOf(*layer));
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(0, Qt::Checked);
        item->setData(0, kLayerRole, QVariant::fromValue(reinterpret_cast<quintptr>(layer.get())));
        if (auto group = std::dynamic_pointer_cast<gis::GroupLayer>(layer)) {
            AddLayers(item, tree, group->Members());
            item->setExpanded(true);
        }
    }
}

}  // namespace

LayerTree::LayerTree(QWidget* parent) : QTreeWidget(parent) {
    setHeaderLabel(QStringLiteral("Layers"));
    header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    connect(this, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        if (!on_visibility) return;
        const auto* layer = reinterpret_cast<const platform::ILayer*>(item->data(0, kLayerRole).value<quintptr>());
        on_visibility(layer, item->checkState(0) == Qt::Checked);
    });
}

void LayerTree::SetMap(const std::shared_ptr<gis::Map>& map) {
    const QSignalBlocker quiet(this);
    clear();
    if (map) AddLayers(nullptr, this, map->Layers());
}

QTreeWidgetItem* LayerTree::ItemOf(const platform::ILayer* layer) const {
    for (QTreeWidgetItemIterator it(const_cast<LayerTree*>(this)); *it; ++it) {
        if (reinterpret_cast<const platform::ILayer*>((*it)->data(0, kLayerRole).value<quintptr>()) == layer) return *it;
    }
    return nullptr;
}

}  // namespace selvane::qt
