#pragma once

#include <QTreeWidget>

#include <functional>
#include <memory>

#include "gis/model/map.h"

namespace selvane::desktop {

/// The layer tree: the map's layers in document order, groups with their members, each
/// with a check box that shows or hides it on the map.
class LayerTree : public QTreeWidget {
public:
    explicit LayerTree(QWidget* parent = nullptr);

    /// Lists `map`'s layers, all checked.
    void SetMap(const std::shared_ptr<gis::Map>& map);

    /// Called when the user checks or unchecks a layer.
    std::function<void(const platform::ILayer* layer, bool visible)> on_visibility;

    /// The item of a layer; nullptr when it is not listed.
    QTreeWidgetItem* ItemOf(const platform::ILayer* layer) const;
};

}  // namespace selvane::desktop
