#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gis/common/feature_layer.h"
#include "gis/memory/feature_class.h"
#include "gis/model/layers.h"
#include "gis/model/selection_set.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// The rows of `feature_class` whose ids are in `shown_ids` (null: every row). Reads the
/// class's rows.
RowMask ShownRowMask(const MemoryFeatureClass& feature_class, const ShownIds& shown_ids);

/// The extent of the class's shapes; null when it has none. Reads the class's rows.
geos::geom::Envelope ShapesExtent(const MemoryFeatureClass& feature_class);

/// A feature layer: a feature class in memory shown through an optional definition
/// query, with a selection of its own.
class MemoryLayer : public FeatureLayerOf<MemoryFeatureClass> {
public:
    /// `shown_ids` are the object ids the definition query lets through (null: all);
    /// `definition_query` is its text, kept for display.
    MemoryLayer(std::string name, std::shared_ptr<gis::MemoryFeatureClass> feature_class, ShownIds shown_ids = nullptr,
                std::string definition_query = {});

    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override;
    void Add(const std::shared_ptr<platform::IFeature>& feature) override;

    /// Whether the layer shows the row (its definition query lets it through). Reads the
    /// class's rows.
    bool Shows(std::size_t row) const {
        const auto& shown = ShownRows();
        return !shown || (*shown)[row];
    }
    /// The rows the layer shows (null: all), made from the ids when first needed.
    const RowMask& ShownRows() const;
    const SelectionSet& Selection() const { return m_selection; }
    std::size_t SelectedCount() const override { return m_selection.Count(); }
    void ClearSelection() override { m_selection.Clear(); }
    std::vector<std::int64_t> SelectedFids() const override;

    geos::geom::Envelope ClassExtent() override;
    /// Walks the class's index, or the selection's rows when only they are asked for.
    void ReadShapes(const ShapeRequest& request, const ShapeVisitor& visit) override;
    std::string Description() override;

private:
    ShownIds m_shown_ids;
    mutable RowMask m_shown;
    SelectionSet m_selection;
};

/// Calls `visit` for every feature layer held in memory in `layers`, groups entered.
template <typename Visitor>
void ForEachFeatureLayer(const std::vector<std::shared_ptr<platform::ILayer>>& layers, Visitor&& visit) {
    ForEachLayerOf<MemoryLayer>(layers, visit);
}

}  // namespace selvane::gis
