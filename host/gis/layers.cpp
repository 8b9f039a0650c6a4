#include "gis/layers.h"

#include "gis/feature.h"

namespace selvane::gis {

FeatureLayer::FeatureLayer(std::string name, std::shared_ptr<gis::FeatureClass> feature_class, ShownIds shown_ids,
                           std::string definition_query)
    : m_name(std::move(name)),
      m_class(std::move(feature_class)),
      m_shown_ids(std::move(shown_ids)),
      m_definition_query(std::move(definition_query)) {
    m_class->AddLayerName(m_name);
}

std::shared_ptr<platform::IFeatureCursor> FeatureLayer::Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                               bool recycling) {
    return m_class->SearchShown(filter, recycling, ShownRows());
}

const RowMask& FeatureLayer::ShownRows() const {
    if (m_shown_ids && !m_shown) {
        const auto& rows = m_class->RowsByFid();
        auto shown = std::make_shared<std::vector<bool>>(m_class->RowCount(), false);
        for (const auto fid : *m_shown_ids) {
            const auto found = rows.find(fid);
            if (found != rows.end()) (*shown)[found->second] = true;
        }
        m_shown = std::move(shown);
    }
    return m_shown;
}

void FeatureLayer::Add(const std::shared_ptr<platform::IFeature>& feature) {
    const auto* row = dynamic_cast<const Feature*>(feature.get());
    if (!row || &row->Owner() != m_class.get()) {
        throw platform::Error(platform::kInvalidArg, "The feature does not belong to layer " + m_name);
    }
    m_selection.Add(row->Row());
}

std::vector<std::int64_t> FeatureLayer::SelectedFids() const {
    std::vector<std::int64_t> fids;
    if (m_selection.Count() == 0) return fids;  // no need to read the rows
    fids.reserve(m_selection.Count());
    for (std::size_t row = 0; row < m_class->RowCount(); ++row) {
        if (m_selection.Contains(row)) fids.push_back(m_class->Fid(row));
    }
    std::sort(fids.begin(), fids.end());
    return fids;
}

std::shared_ptr<platform::ILayer> GroupLayer::Layer(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_members.size()) {
        throw platform::Error(platform::kInvalidArg, "No member " + std::to_string(index) + " in group " + m_name);
    }
    return m_members[static_cast<std::size_t>(index)];
}

}  // namespace selvane::gis
