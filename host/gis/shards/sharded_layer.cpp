#include "gis/shards/sharded_layer.h"

#include <algorithm>

namespace selvane::gis {

ShardedLayer::ShardedLayer(std::string name, std::shared_ptr<ShardedFeatureClass> feature_class,
                           std::string definition_query)
    : FeatureLayerOf(std::move(name), std::move(feature_class), std::move(definition_query)) {
    for (const auto& part : m_class->Parts()) {
        m_parts.push_back(std::make_shared<PostgisLayer>(m_name, part.table, m_definition_query));
        m_filters.push_back(m_parts.back()->Filter());
    }
}

std::shared_ptr<platform::IFeatureCursor> ShardedLayer::Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                               bool recycling) {
    return m_class->SearchParts(filter, recycling, m_filters);
}

void ShardedLayer::Add(const std::shared_ptr<platform::IFeature>& feature) {
    if (!feature) throw platform::Error(platform::kInvalidArg, "The feature does not belong to layer " + m_name);
    m_parts[m_class->PartOf(*feature)]->Add(feature);
}

std::size_t ShardedLayer::SelectedCount() const {
    std::size_t count = 0;
    for (const auto& part : m_parts) count += part->SelectedCount();
    return count;
}

void ShardedLayer::ClearSelection() {
    for (const auto& part : m_parts) part->ClearSelection();
}

std::vector<std::int64_t> ShardedLayer::SelectedFids() const {
    std::vector<std::int64_t> fids;
    for (const auto& part : m_parts) {
        const auto of_part = part->SelectedFids();
        fids.insert(fids.end(), of_part.begin(), of_part.end());
    }
    std::sort(fids.begin(), fids.end());
    return fids;
}

geos::geom::Envelope ShardedLayer::ClassExtent() {
    geos::geom::Envelope extent;
    for (const auto& part : m_parts) extent.expandToInclude(part->ClassExtent());
    return extent;
}

void ShardedLayer::ReadShapes(const ShapeRequest& request, const ShapeVisitor& visit) {
    for (const auto& part : m_parts) part->ReadShapes(request, visit);
}

std::string ShardedLayer::Description() {
    std::string text = "Database layer spread over " + std::to_string(m_parts.size()) + " tables, each searched and drawn by its own server:";
    for (const auto& part : m_class->Parts()) {
        text += "\n  " + part.table->Table().Display() + ", " + part.server + " (" + part.table->Connection()->Named() + ")";
    }
    if (!m_definition_query.empty()) text += "\nDefinition query: " + m_definition_query;
    return text;
}

}  // namespace selvane::gis
