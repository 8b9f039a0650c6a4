#pragma once

// What a feature layer is whichever engine holds its class: a name, the class, the
// definition query it shows the class through (kept for display), and the class's part of
// the reading interface. Each engine's layer adds its search and its selection.

#include <memory>
#include <string>
#include <typeinfo>
#include <utility>

#include "gis/common/feature_source.h"
#include "gis/model/layers.h"
#include "platform/error.h"

namespace selvane::gis {

template <typename ClassType>
class FeatureLayerOf : public SelectableLayer, public FeatureSource {
public:
    FeatureLayerOf(std::string name, std::shared_ptr<ClassType> feature_class, std::string definition_query)
        : m_name(std::move(name)), m_class(std::move(feature_class)), m_definition_query(std::move(definition_query)) {
        m_class->AddLayerName(m_name);
    }

    std::string Name() override { return m_name; }
    std::shared_ptr<platform::IFeatureClass> FeatureClass() override { return m_class; }
    const std::shared_ptr<ClassType>& Class() const { return m_class; }
    const std::string& DefinitionQuery() const { return m_definition_query; }

    const void* ClassIdentity() const override { return m_class.get(); }
    ShapeDimension ClassDimension() const override { return m_class->Dimension(); }
    const std::shared_ptr<const OGRSpatialReference>& ClassSpatialReference() const override {
        return m_class->SpatialReference();
    }
    GdalTable ClassGdalTable() const override { return m_class->AsGdalTable(); }

protected:
    /// `feature` as a feature of this layer's class, for the selection to add; throws
    /// platform::Error for a feature of another class or kind.
    template <typename Feature>
    const Feature& OwnFeature(const std::shared_ptr<platform::IFeature>& feature) const {
        // Every feature a search of the class hands out is exactly a Feature: the type's
        // identity settles that without the walk of a cast across the interfaces, which
        // a selection of many features paid for each one.
        const auto* given = feature.get();
        const auto* own = given && typeid(*given) == typeid(Feature) ? static_cast<const Feature*>(given)
                                                                      : dynamic_cast<const Feature*>(given);
        if (!own || &own->Owner() != m_class.get()) {
            throw platform::Error(platform::kInvalidArg, "The feature does not belong to layer " + m_name);
        }
        return *own;
    }

    std::string m_name;
    std::shared_ptr<ClassType> m_class;
    std::string m_definition_query;
};

}  // namespace selvane::gis
