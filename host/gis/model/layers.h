#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/arcobjects.h"

namespace selvane::gis {

/// A feature layer of any kind of feature class, as the map sees its selection.
class SelectableLayer : public platform::ILayer, public platform::IFeatureLayer, public platform::IFeatureSelection {
public:
    virtual std::size_t SelectedCount() const = 0;
    virtual void ClearSelection() = 0;
    /// Object ids of the selected features, ascending.
    virtual std::vector<std::int64_t> SelectedFids() const = 0;
};

/// A raster layer: listed in the layer tree, never queried.
class RasterLayer : public platform::ILayer {
public:
    RasterLayer(std::string name, std::string source) : m_name(std::move(name)), m_source(std::move(source)) {}
    std::string Name() override { return m_name; }
    const std::string& Source() const { return m_source; }

private:
    std::string m_name;
    std::string m_source;
};

/// A group layer holding member layers of any kind, to any depth.
class GroupLayer : public platform::ILayer, public platform::IGroupLayer, public platform::ICompositeLayer {
public:
    GroupLayer(std::string name, std::vector<std::shared_ptr<platform::ILayer>> members)
        : m_name(std::move(name)), m_members(std::move(members)) {}
    std::string Name() override { return m_name; }
    std::int32_t Count() override { return static_cast<std::int32_t>(m_members.size()); }
    std::shared_ptr<platform::ILayer> Layer(std::int32_t index) override;
    const std::vector<std::shared_ptr<platform::ILayer>>& Members() const { return m_members; }

private:
    std::string m_name;
    std::vector<std::shared_ptr<platform::ILayer>> m_members;
};

/// Calls `visit` for every layer of type `Layer` in `layers`, groups entered to any depth.
template <typename Layer, typename Visitor>
void ForEachLayerOf(const std::vector<std::shared_ptr<platform::ILayer>>& layers, Visitor&& visit) {
    for (const auto& layer : layers) {
        if (auto found = std::dynamic_pointer_cast<Layer>(layer)) visit(*found);
        if (auto group = std::dynamic_pointer_cast<GroupLayer>(layer)) ForEachLayerOf<Layer>(group->Members(), visit);
    }
}

}  // namespace selvane::gis
