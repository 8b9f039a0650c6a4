#pragma once

#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "gis/feature_class.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// The selected rows of one layer: a bit a row, so that Add costs a few instructions and
/// a feature added again is kept once.
class SelectionSet {
public:
    /// Grows with the rows added, so that a layer whose rows are not read yet holds none.
    SelectionSet() = default;
    void Add(std::size_t row) {
        if ((row >> 6) >= m_bits.size()) m_bits.resize((row >> 6) + 1, 0);
        auto& word = m_bits[row >> 6];
        const std::uint64_t bit = std::uint64_t{1} << (row & 63);
        m_count += (word & bit) == 0;
        word |= bit;
    }
    bool Contains(std::size_t row) const {
        return (row >> 6) < m_bits.size() && ((m_bits[row >> 6] >> (row & 63)) & 1);
    }
    std::size_t Count() const { return m_count; }
    /// Calls `visit` with each selected row, ascending.
    template <typename Visit>
    void ForEachRow(Visit&& visit) const {
        for (std::size_t word = 0; word < m_bits.size(); ++word) {
            for (std::uint64_t bits = m_bits[word]; bits != 0; bits &= bits - 1) {
                visit((word << 6) + static_cast<std::size_t>(std::countr_zero(bits)));
            }
        }
    }
    void Clear() {
        std::fill(m_bits.begin(), m_bits.end(), 0);
        m_count = 0;
    }

private:
    std::vector<std::uint64_t> m_bits;
    std::size_t m_count = 0;
};

/// A feature layer of any kind of feature class, as the map sees its selection.
class SelectableLayer : public platform::ILayer, public platform::IFeatureLayer, public platform::IFeatureSelection {
public:
    virtual std::size_t SelectedCount() const = 0;
    virtual void ClearSelection() = 0;
    /// Object ids of the selected features, ascending.
    virtual std::vector<std::int64_t> SelectedFids() const = 0;
};

/// A feature layer: a feature class in memory shown through an optional definition
/// query, with a selection of its own.
class FeatureLayer : public SelectableLayer {
public:
    /// `shown_ids` are the object ids the definition query lets through (null: all);
    /// `definition_query` is its text, kept for display.
    FeatureLayer(std::string name, std::shared_ptr<gis::FeatureClass> feature_class, ShownIds shown_ids = nullptr,
                 std::string definition_query = {});

    std::string Name() override { return m_name; }
    std::shared_ptr<platform::IFeatureClass> FeatureClass() override { return m_class; }
    std::shared_ptr<platform::IFeatureCursor> Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                     bool recycling) override;
    void Add(const std::shared_ptr<platform::IFeature>& feature) override;

    const std::shared_ptr<gis::FeatureClass>& Class() const { return m_class; }
    const std::string& DefinitionQuery() const { return m_definition_query; }
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

private:
    std::string m_name;
    std::shared_ptr<gis::FeatureClass> m_class;
    ShownIds m_shown_ids;
    mutable RowMask m_shown;
    std::string m_definition_query;
    SelectionSet m_selection;
};

/// A raster layer: listed in the layer tree, never queried.
class RasterLayer : public platform::ILayer {
public:
    RasterLayer(std::string name, std::string source) : m_name(std::move(name)), m_source(std::move(source)) {}
    std::string Name() override { return m_name; }
    const std::string& Source() const { return m_source; }

private:
    std::string m_name;
    std::string m_source;
};

/// A group layer holding member layers of any kind, to any depth.
class GroupLayer : public platform::ILayer, public platform::IGroupLayer, public platform::ICompositeLayer {
public:
    GroupLayer(std::string name, std::vector<std::shared_ptr<platform::ILayer>> members)
        : m_name(std::move(name)), m_members(std::move(members)) {}
    std::string Name() override { return m_name; }
    std::int32_t Count() override { return static_cast<std::int32_t>(m_members.size()); }
    std::shared_ptr<platform::ILayer> Layer(std::int32_t index) override;
    const std::vector<std::shared_ptr<platform::ILayer>>& Members() const { return m_members; }

private:
    std::string m_name;
    std::vector<std::shared_ptr<platform::ILayer>> m_members;
};

/// Calls `visit` for every layer of type `Layer` in `layers`, groups entered to any depth.
template <typename Layer, typename Visitor>
void ForEachLayerOf(const std::vector<std::shared_ptr<platform::ILayer>>& layers, Visitor&& visit) {
    for (const auto& layer : layers) {
        if (auto found = std::dynamic_pointer_cast<Layer>(layer)) visit(*found);
        if (auto group = std::dynamic_pointer_cast<GroupLayer>(layer)) ForEachLayerOf<Layer>(group->Members(), visit);
    }
}

/// Calls `visit` for every feature layer held in memory in `layers`, groups entered.
template <typename Visitor>
void ForEachFeatureLayer(const std::vector<std::shared_ptr<platform::ILayer>>& layers, Visitor&& visit) {
    ForEachLayerOf<FeatureLayer>(layers, visit);
}

}  // namespace selvane::gis
