#include "gis/postgis/data_source.h"

#include <utility>

#include "gis/postgis/layer.h"
#include "gis/postgis/source.h"

namespace selvane::gis {
std::shared_ptr<platform::ILayer> PostgisDataSource::Layer(const std::string& name, const std::string& table,
                                                           const std::string& definition_query) {
    auto& loaded = m_tables[table];
    if (!loaded) loaded = m_source.LoadTable(table);
    if (!definition_query.empty()) loaded->RequireDefinitionQuery(definition_query);
    return std::make_shared<PostgisLayer>(name, loaded, definition_query);
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
