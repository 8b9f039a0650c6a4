#include "desktop/layer_tree.h"

#include <QHeaderView>

#include "gis/common/feature_source.h"
#include "gis/support/message_text.h"
#include "gis/model/layers.h"

namespace selvane::desktop {
namespace {

constexpr int kLayerRole = Qt::UserRole + 1;

QString KindOf(platform::ILayer& layer) {
    if (dynamic_cast<const gis::GroupLayer*>(&layer)) return QStringLiteral("Group layer");
    if (dynamic_cast<const gis::RasterLayer*>(&layer)) return QStringLiteral("Raster layer");
    if (auto* source = dynamic_cast<gis::FeatureSource*>(&layer)) return QString::fromStdString(source->Description());
    return QStringLiteral("Layer");
}

void AddLayers(QTreeWidgetItem* parent, QTreeWidget* tree, const std::vector<std::shared_ptr<platform::ILayer>>& layers) {
    for (const auto& layer : layers) {
        auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree);
        // A name is shown as it is spelled: what would reorder the line is escaped.
        item->setText(0, QString::fromStdString(gis::Printable(layer->Name())));
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

}  // namespace selvane::desktop
