#pragma once

#include <memory>
#include <string>

#include "gis/model/id_selection.h"
#include "gis/model/layers.h"
#include "gis/postgis/feature_class.h"

namespace selvane::gis {

/// A feature layer on a database table: searches run in the server with the layer's
/// definition query in their WHERE clause, and the selection holds object ids.
class PostgisLayer : public SelectableLayer {
public:
    /// `definition_query` must have passed the class's RequireDefinitionQuery.
    PostgisLayer(std::string name, std::shared_ptr<PostgisFeatureClass> feature_class, std::string definition_query = {});

    std::string Name() override { return m_name; }
    std::shared_ptr<platform::IFeatureClass> FeatureClass() override { return m_class; }
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override;
    void Add(const std::shared_ptr<platform::IFeature>& feature) override;

    std::size_t SelectedCount() const override { return static_cast<std::size_t>(m_selection.Count()); }
    void ClearSelection() override { m_selection.Clear(); }
    std::vector<std::int64_t> SelectedFids() const override;

    const std::shared_ptr<PostgisFeatureClass>& Class() const { return m_class; }
    const std::string& DefinitionQuery() const { return m_definition_query; }
    const IdSelection& Selection() const { return m_selection; }

private:
    std::string m_name;
    std::shared_ptr<PostgisFeatureClass> m_class;
    std::string m_definition_query;
    IdSelection m_selection;
};

}  // namespace selvane::gis
