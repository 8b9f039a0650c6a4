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

    std::shared_ptr<platform::ILayer> Layer(const LayerEntry& entry) override {
        if (!entry.id_column.empty() || entry.parts_through_source || !entry.part_sources.empty()) {
            throw platform::Error(platform::kInvalidArg, std::string(entry.id_column.empty() ? "\"parts\"" : "\"id_column\"") +
                                                             " is for database tables; a file's features have their ids");
        }
        auto feature_class = Table(entry.table);
        ShownIds shown;
        if (!entry.definition_query.empty()) shown = m_source.DefinitionQueryIds(entry.table, entry.definition_query);
        return std::make_shared<MemoryLayer>(entry.name, std::move(feature_class), std::move(shown), entry.definition_query);
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
