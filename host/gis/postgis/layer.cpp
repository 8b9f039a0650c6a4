#include "gis/postgis/layer.h"

namespace selvane::gis {

PostgisLayer::PostgisLayer(std::string name, std::shared_ptr<PostgisFeatureClass> feature_class,
                           std::string definition_query)
    : m_name(std::move(name)), m_class(std::move(feature_class)), m_definition_query(std::move(definition_query)) {
    m_class->AddLayerName(m_name);
}

std::shared_ptr<platform::IFeatureCursor> PostgisLayer::Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                               bool recycling) {
    return m_class->SearchWhere(filter, recycling, m_definition_query);
}

void PostgisLayer::Add(const std::shared_ptr<platform::IFeature>& feature) {
    const auto* row = dynamic_cast<const PostgisFeature*>(feature.get());
    if (!row || &row->Owner() != m_class.get()) {
        throw platform::Error(platform::kInvalidArg, "The feature does not belong to layer " + m_name);
    }
    m_selection.Add(feature->OID());
}

std::vector<std::int64_t> PostgisLayer::SelectedFids() const {
    std::vector<std::int64_t> fids;
    fids.reserve(static_cast<std::size_t>(m_selection.Count()));
    m_selection.ForEachId([&fids](std::int64_t fid) { fids.push_back(fid); });
    return fids;
}

}  // namespace selvane::gis
