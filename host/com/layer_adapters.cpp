#include "layer_adapters.h"

#include "feature_adapters.h"
#include "host_call.h"

namespace selvane::com {
namespace {

class LayerPort : public platform::ILayer {
public:
    explicit LayerPort(ComRef<::ILayer> layer) : m_layer(std::move(layer)) {}
    std::string Name() override {
        return ReadText([this](BSTR* text) { return m_layer->get_Name(text); }, "ILayer.Name");
    }

protected:
    ComRef<::ILayer> m_layer;
};

class GroupLayer final : public LayerPort, public platform::IGroupLayer, public platform::ICompositeLayer {
public:
    GroupLayer(ComRef<::ILayer> layer, ComRef<::ICompositeLayer> members)
        : LayerPort(std::move(layer)), m_members(std::move(members)) {}
    std::int32_t Count() override {
        return ReadValue<LONG>([this](LONG* value) { return m_members->get_Count(value); }, "ICompositeLayer.Count");
    }
    std::shared_ptr<platform::ILayer> Layer(std::int32_t index) override {
        auto member = ReadObject<::ILayer>([&](::ILayer** out) { return m_members->get_Layer(index, out); },
                                           "ICompositeLayer.Layer");
        return AdaptLayer(std::move(member));
    }

private:
    ComRef<::ICompositeLayer> m_members;
};

class FeatureLayer : public LayerPort, public platform::IFeatureLayer {
public:
    FeatureLayer(ComRef<::ILayer> layer, ComRef<::IFeatureLayer> features)
        : LayerPort(std::move(layer)), m_features(std::move(features)) {}
    std::shared_ptr<platform::IFeatureClass> FeatureClass() override {
        auto feature_class = ReadObject<::IFeatureClass>([this](::IFeatureClass** out) {
                                                             return m_features->get_FeatureClass(out);
                                                         },
                                                         "IFeatureLayer.FeatureClass");
        return AdaptFeatureClass(std::move(feature_class));
    }
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override {
        ComRef<::IFeatureCursor> cursor;
        Check(m_features->Search(HostFilter(filter).Get(), recycling ? VARIANT_TRUE : VARIANT_FALSE, cursor.Out()),
              "IFeatureLayer.Search");
        return AdaptFeatureCursor(std::move(cursor));
    }

private:
    ComRef<::IFeatureLayer> m_features;
};

class SelectableFeatureLayer final : public FeatureLayer, public platform::IFeatureSelection {
public:
    SelectableFeatureLayer(ComRef<::ILayer> layer, ComRef<::IFeatureLayer> features, ComRef<::IFeatureSelection> selection)
        : FeatureLayer(std::move(layer), std::move(features)), m_selection(std::move(selection)) {}
    void Add(const std::shared_ptr<platform::IFeature>& feature) override {
        Check(m_selection->Add(HostFeature(feature)), "IFeatureSelection.Add");
    }

private:
    ComRef<::IFeatureSelection> m_selection;
};

class Map final : public platform::IMap {
public:
    explicit Map(ComRef<::IMap> map) : m_map(std::move(map)) {}
    std::int32_t LayerCount() override {
        return ReadValue<LONG>([this](LONG* value) { return m_map->get_LayerCount(value); }, "IMap.LayerCount");
    }
    std::shared_ptr<platform::ILayer> Layer(std::int32_t index) override {
        auto layer = ReadObject<::ILayer>([&](::ILayer** out) { return m_map->get_Layer(index, out); }, "IMap.Layer");
        return AdaptLayer(std::move(layer));
    }
    std::int32_t SelectionCount() override {
        return ReadValue<LONG>([this](LONG* value) { return m_map->get_SelectionCount(value); }, "IMap.SelectionCount");
    }
    void ClearSelection() override { Check(m_map->ClearSelection(), "IMap.ClearSelection"); }

private:
    ComRef<::IMap> m_map;
};

}  // namespace

std::shared_ptr<platform::ILayer> AdaptLayer(ComRef<::ILayer> layer) {
    if (!layer) return nullptr;
    auto group = layer.As<::IGroupLayer>(IID_IGroupLayer);
    auto members = layer.As<::ICompositeLayer>(IID_ICompositeLayer);
    if (group && members) return std::make_shared<GroupLayer>(std::move(layer), std::move(members));
    if (auto features = layer.As<::IFeatureLayer>(IID_IFeatureLayer)) {
        if (auto selection = layer.As<::IFeatureSelection>(IID_IFeatureSelection)) {
            return std::make_shared<SelectableFeatureLayer>(std::move(layer), std::move(features), std::move(selection));
        }
        return std::make_shared<FeatureLayer>(std::move(layer), std::move(features));
    }
    return std::make_shared<LayerPort>(std::move(layer));
}

std::shared_ptr<platform::IMap> AdaptMap(ComRef<::IMap> map) {
    return map ? std::make_shared<Map>(std::move(map)) : nullptr;
}

}  // namespace selvane::com
