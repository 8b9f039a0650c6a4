#include "gis/memory/layer.h"

#include <algorithm>

#include "gis/memory/feature.h"

namespace selvane::gis {

MemoryLayer::MemoryLayer(std::string name, std::shared_ptr<gis::MemoryFeatureClass> feature_class, ShownIds shown_ids,
                           std::string definition_query)
    : m_name(std::move(name)),
      m_class(std::move(feature_class)),
      m_shown_ids(std::move(shown_ids)),
      m_definition_query(std::move(definition_query)) {
    m_class->AddLayerName(m_name);
}

std::shared_ptr<platform::IFeatureCursor> MemoryLayer::Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                               bool recycling) {
    return m_class->SearchShown(filter, recycling, ShownRows());
}

const RowMask& MemoryLayer::ShownRows() const {
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

void MemoryLayer::Add(const std::shared_ptr<platform::IFeature>& feature) {
    const auto* row = dynamic_cast<const MemoryFeature*>(feature.get());
    if (!row || &row->Owner() != m_class.get()) {
        throw platform::Error(platform::kInvalidArg, "The feature does not belong to layer " + m_name);
    }
    m_selection.Add(row->Row());
}

std::vector<std::int64_t> MemoryLayer::SelectedFids() const {
    std::vector<std::int64_t> fids;
    if (m_selection.Count() == 0) return fids;  // no need to read the rows
    fids.reserve(m_selection.Count());
    for (std::size_t row = 0; row < m_class->RowCount(); ++row) {
        if (m_selection.Contains(row)) fids.push_back(m_class->Fid(row));
    }
    std::sort(fids.begin(), fids.end());
    return fids;
}

}  // namespace selvane::gis
