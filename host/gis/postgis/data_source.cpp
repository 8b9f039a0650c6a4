#include "gis/postgis/data_source.h"

#include <utility>

#include "gis/postgis/layer.h"
#include "gis/postgis/source.h"

namespace selvane::gis {
std::shared_ptr<platform::ILayer> PostgisDataSource::Layer(const LayerEntry& entry) {
    auto& loaded = m_tables[{entry.table, entry.id_column}];
    if (!loaded) {
        const PostgisSource::KnownOfTable named{entry.id_column, std::nullopt};
        loaded = m_source.LoadTable(entry.table, entry.id_column.empty() ? nullptr : &named);
    }
    if (!entry.definition_query.empty()) loaded->RequireDefinitionQuery(entry.definition_query);
    return std::make_shared<PostgisLayer>(entry.name, loaded, entry.definition_query);
}

std::vector<std::shared_ptr<platform::ILayer>> PostgisDataSource::AllLayers() {
    std::vector<std::shared_ptr<platform::ILayer>> layers;
    for (auto& [table, feature_class] : m_source.UsableTables()) {
        layers.push_back(std::make_shared<PostgisLayer>(table, std::move(feature_class)));
    }
    return layers;
}

std::unique_ptr<DataSource> OpenPostgisDataSource(const std::string& source, std::shared_ptr<EngineTuning> tuning,
                                                  SearchesElsewhereMaker elsewhere) {
    return std::make_unique<PostgisDataSource>(source, std::move(tuning), std::move(elsewhere));
}

}  // namespace selvane::gis
