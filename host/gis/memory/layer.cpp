#include "gis/memory/layer.h"

#include <algorithm>

#include "gis/memory/feature.h"

namespace selvane::gis {

MemoryLayer::MemoryLayer(std::string name, std::shared_ptr<gis::MemoryFeatureClass> feature_class, ShownIds shown_ids,
                         std::string definition_query)
    : FeatureLayerOf(std::move(name), std::move(feature_class), std::move(definition_query)),
      m_shown_ids(std::move(shown_ids)) {}

std::shared_ptr<platform::IFeatureCursor> MemoryLayer::Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                              bool recycling) {
    return m_class->SearchShown(filter, recycling, ShownRows());
}

RowMask ShownRowMask(const MemoryFeatureClass& feature_class, const ShownIds& shown_ids) {
    if (!shown_ids) return nullptr;
    const auto& rows = feature_class.RowsByFid();
    auto shown = std::make_shared<std::vector<bool>>(feature_class.RowCount(), false);
    for (const auto fid : *shown_ids) {
        const auto found = rows.find(fid);
        if (found != rows.end()) (*shown)[found->second] = true;
    }
    return shown;
}

const RowMask& MemoryLayer::ShownRows() const {
    if (m_shown_ids && !m_shown) m_shown = ShownRowMask(*m_class, m_shown_ids);
    return m_shown;
}

void MemoryLayer::Add(const std::shared_ptr<platform::IFeature>& feature) {
    m_selection.Add(OwnFeature<MemoryFeature>(feature).Row());
}

std::vector<std::int64_t> MemoryLayer::SelectedFids() const {
    std::vector<std::int64_t> fids;
    if (m_selection.Count() == 0) return fids;  // no need to read the rows
    fids.reserve(m_selection.Count());
    for (std::size_t row = 0; row < m_class->RowCount(); ++row) {
        if (m_selection.Contains(row)) fids.push_back(m_class->Rows().Fid(row));
    }
    std::sort(fids.begin(), fids.end());
    return fids;
}

geos::geom::Envelope ShapesExtent(const MemoryFeatureClass& feature_class) {
    // The index holds every row's box, and a drawing of the extent needs it next.
    if (feature_class.RowCount() == 0) return {};
    return feature_class.Index().Extent();
}

geos::geom::Envelope MemoryLayer::ClassExtent() { return ShapesExtent(*m_class); }

void MemoryLayer::ReadShapes(const ShapeRequest& request, const ShapeVisitor& visit) {
    const auto& feature_class = *m_class;
    if (feature_class.RowCount() == 0 || (request.selected_only && m_selection.Count() == 0)) return;
    const auto read = [&](std::size_t row, const geos::geom::Envelope& box) {
        if (box.isNull() || !Shows(row) || (request.selected_only && !m_selection.Contains(row))) return;
        if (request.selected_only && !request.box.intersects(box)) return;
        const auto dimension = feature_class.Rows().NonEmptyDimensionAt(row);
        if (!dimension) return;
        // A line or an area smaller than a cell is drawn as a sample at the corner of its
        // envelope; a point as itself, and any other shape as its bytes: none made into a
        // GEOS shape.
        if (*dimension == ShapeDimension::Point && feature_class.Rows().PlainPointAt(row)) {
            visit(ShapeInView::Point(box.getMinX(), box.getMinY(), false));
        } else if (request.cell > 0 && *dimension != ShapeDimension::Point && box.getWidth() < request.cell &&
                   box.getHeight() < request.cell) {
            visit(ShapeInView::Point(box.getMinX(), box.getMinY(), true));
        } else {
            visit({box, *dimension, nullptr, feature_class.Rows().StoredBytesAt(row)});
        }
    };
    // A selection is walked by its own rows: fewer than the index would hand out.
    if (request.selected_only) {
        m_selection.ForEachRow([&](std::size_t row) { read(row, feature_class.Rows().EnvelopeAt(row)); });
    } else {
        feature_class.Index().QueryWithBoxes(request.box, read);
    }
}

std::string MemoryLayer::Description() {
    std::string count;
    try {
        count = std::to_string(m_class->RowCount()) + " features";
    } catch (const platform::Error& error) {
        count = std::string("rows cannot be read: ") + error.what();
    }
    std::string text = "Feature layer: " + m_class->Name() + " (" + count + ")";
    if (!m_definition_query.empty()) text += "\nDefinition query: " + m_definition_query;
    return text;
}

}  // namespace selvane::gis
