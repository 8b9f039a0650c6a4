#include "gis/model/map.h"

#include <limits>

namespace selvane::gis {

std::shared_ptr<platform::ILayer> Map::Layer(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_layers.size()) {
        throw platform::Error(platform::kInvalidArg, "No layer " + std::to_string(index) + " in the map");
    }
    return m_layers[static_cast<std::size_t>(index)];
}

void Map::RemoveLayer(std::int32_t index) {
    Layer(index);
    m_layers.erase(m_layers.begin() + index);
}

std::int32_t Map::SelectionCount() {
    std::size_t count = 0;
    ForEachLayerOf<SelectableLayer>(m_layers, [&count](SelectableLayer& layer) { count += layer.SelectedCount(); });
    if (count > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        throw platform::Error(platform::kFail, "The selection is too large to count");
    }
    return static_cast<std::int32_t>(count);
}

void Map::ClearSelection() {
    ForEachLayerOf<SelectableLayer>(m_layers, [](SelectableLayer& layer) { layer.ClearSelection(); });
}

}  // namespace selvane::gis
