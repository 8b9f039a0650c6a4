#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gis/model/layers.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// A map: an ordered layer tree and the selection of all its feature layers.
class Map : public platform::IMap {
public:
    explicit Map(std::vector<std::shared_ptr<platform::ILayer>> layers = {}) : m_layers(std::move(layers)) {}

    std::int32_t LayerCount() override { return static_cast<std::int32_t>(m_layers.size()); }
    std::shared_ptr<platform::ILayer> Layer(std::int32_t index) override;
    std::int32_t SelectionCount() override;
    void ClearSelection() override;

    const std::vector<std::shared_ptr<platform::ILayer>>& Layers() const { return m_layers; }
    void AddLayer(std::shared_ptr<platform::ILayer> layer) { m_layers.push_back(std::move(layer)); }
    void RemoveLayer(std::int32_t index);

private:
    std::vector<std::shared_ptr<platform::ILayer>> m_layers;
};

/// The view drawing the focus map. The front end draws; the model counts redraws.
class ActiveView : public platform::IActiveView {
public:
    void Refresh() override {
        ++m_refresh_count;
        if (m_on_refresh) m_on_refresh();
    }
    int RefreshCount() const { return m_refresh_count; }
    void OnRefresh(std::function<void()> handler) { m_on_refresh = std::move(handler); }

private:
    int m_refresh_count = 0;
    std::function<void()> m_on_refresh;
};

/// A map document: its focus map and view.
class MxDocument : public platform::IMxDocument {
public:
    explicit MxDocument(std::shared_ptr<Map> map, std::string path = {})
        : m_map(std::move(map)), m_view(std::make_shared<gis::ActiveView>()), m_path(std::move(path)) {}
    std::shared_ptr<platform::IMap> FocusMap() override { return m_map; }
    std::shared_ptr<platform::IActiveView> ActiveView() override { return m_view; }
    const std::shared_ptr<Map>& GetMap() const { return m_map; }
    const std::shared_ptr<gis::ActiveView>& View() const { return m_view; }
    const std::string& Path() const { return m_path; }

private:
    std::shared_ptr<Map> m_map;
    std::shared_ptr<gis::ActiveView> m_view;
    std::string m_path;
};

/// A document that is not a map document (a layout or a scene, say).
class OtherDocument : public platform::IObject {};

}  // namespace selvane::gis
