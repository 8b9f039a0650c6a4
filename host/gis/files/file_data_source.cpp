#include "gis/files/file_data_source.h"

#include <map>
#include <utility>

#include "gis/files/file_source.h"
#include "gis/memory/layer.h"

namespace selvane::gis {
namespace {

class FileDataSource : public DataSource {
public:
    FileDataSource(const std::string& path, std::shared_ptr<EngineTuning> tuning) : m_source(path, std::move(tuning)) {}

    std::shared_ptr<platform::ILayer> Layer(const std::string& name, const std::string& table,
                                            const std::string& definition_query) override {
        auto feature_class = Table(table);
        ShownIds shown;
        if (!definition_query.empty()) shown = m_source.DefinitionQueryIds(table, definition_query);
        return std::make_shared<MemoryLayer>(name, std::move(feature_class), std::move(shown), definition_query);
    }

    std::vector<std::shared_ptr<platform::ILayer>> AllLayers() override {
        std::vector<std::shared_ptr<platform::ILayer>> layers;
        for (const auto& table : m_source.FeatureTables()) layers.push_back(std::make_shared<MemoryLayer>(table, Table(table)));
        return layers;
    }

private:
    std::shared_ptr<MemoryFeatureClass> Table(const std::string& table) {
        auto& loaded = m_tables[table];
        if (!loaded) loaded = m_source.LoadTable(table);
        return loaded;
    }

    FileSource m_source;
    std::map<std::string, std::shared_ptr<MemoryFeatureClass>> m_tables;
};

}  // namespace

bool ClaimsFile(std::string_view) { return true; }

std::unique_ptr<DataSource> OpenFileDataSource(const std::string& path, const std::shared_ptr<EngineTuning>& tuning) {
    return std::make_unique<FileDataSource>(path, tuning);
}

}  // namespace selvane::gis
