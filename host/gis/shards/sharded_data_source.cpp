#include "gis/shards/sharded_data_source.h"

#include <exception>
#include <map>
#include <set>
#include <tuple>

#include "gis/postgis/data_source.h"
#include "gis/shards/part_workers.h"
#include "gis/shards/shard_catalog.h"
#include "gis/shards/sharded_layer.h"
#include "gis/support/message_text.h"

namespace selvane::gis {
namespace {

class ShardedPostgisDataSource : public DataSource {
public:
    ShardedPostgisDataSource(const std::string& source, std::shared_ptr<EngineTuning> tuning,
                             SearchesElsewhereMaker elsewhere)
        : m_tuning(tuning), m_elsewhere(elsewhere), m_coordinator(source, std::move(tuning), std::move(elsewhere)) {}

    std::shared_ptr<platform::ILayer> Layer(const LayerEntry& entry) override {
        if (entry.parts_through_source) return m_coordinator.Layer(entry);
        auto& spread = m_spread[{entry.table, entry.id_column, entry.part_sources}];
        if (!spread && !entry.part_sources.empty()) {
            // Parts the map lists, with no coordinator: the table on each of those servers.
            std::vector<ShardPlace> places;
            for (const auto& source : entry.part_sources) {
                places.push_back({"part " + std::to_string(places.size() + 1) + " of " +
                                      std::to_string(entry.part_sources.size()),
                                  source, entry.table, entry.table});
            }
            spread = Open(entry.table, places, entry.id_column, false);
        } else if (!spread) {
            const auto& coordinator = m_coordinator.Source();
            const auto places = ForeignShards(coordinator, coordinator.Find(entry.table));
            if (places.empty()) return m_coordinator.Layer(entry);
            spread = Open(entry.table, places, entry.id_column, true);
        }
        for (const auto& part : spread->Parts()) {
            if (!entry.definition_query.empty()) part.table->RequireDefinitionQuery(entry.definition_query);
        }
        return std::make_shared<ShardedLayer>(entry.name, spread, entry.definition_query);
    }

    std::vector<std::shared_ptr<platform::ILayer>> AllLayers() override {
        auto layers = m_coordinator.AllLayers();
        std::set<std::string> listed;
        for (const auto& layer : layers) listed.insert(layer->Name());
        for (const auto& table : m_coordinator.Source().FeatureTables()) {
            if (listed.count(table)) continue;
            try {
                layers.push_back(Layer(LayerEntry{table, table, {}, {}, false, {}}));
            } catch (const platform::Error&) {
                if (m_coordinator.Source().Connection()->Lost()) throw;
            }
        }
        return layers;
    }

private:
    // Each part opened on its own server, with the user's own credentials, and checked to
    // hold the parent's columns, shape type and system.
    // `id_column`: the map's, or empty for each part's primary key.
    // `through_coordinator`: the parts are a partitioned table's of the source, which gives
    // the table as a whole; otherwise the first part stands for the whole.
    std::shared_ptr<ShardedFeatureClass> Open(const std::string& table, const std::vector<ShardPlace>& places,
                                              const std::string& id_column, bool through_coordinator) {
        const PostgisSource::KnownOfTable named{id_column, std::nullopt};
        std::vector<ShardPart> parts;
        const auto where = [&table](const ShardPlace& place) {
            return "table " + InMessage(table) + ", part " + InMessage(place.display) + " on " + place.server;
        };
        // Each part opened on a thread of its own: connecting, and for a column that declares
        // no system the scan of its rows' SRIDs, take each server's time at once.
        std::vector<std::shared_ptr<PostgisFeatureClass>> opened(places.size());
        std::vector<std::exception_ptr> failed(places.size());
        PartWorkers().RunEach(places.size(), [&](std::size_t part) noexcept {
            try {
                opened[part] = PostgisSource(places[part].source, m_tuning, m_elsewhere)
                                   .LoadTable(places[part].table, id_column.empty() ? nullptr : &named);
            } catch (...) {
                failed[part] = std::current_exception();
            }
        });
        for (std::size_t part = 0; part < places.size(); ++part) {
            try {
                if (failed[part]) std::rethrow_exception(failed[part]);
            } catch (const platform::Error& error) {
                throw platform::Error(error.Number(), where(places[part]) + ": " + error.what());
            }
            parts.push_back({places[part].server, std::move(opened[part])});
        }
        const auto& key = parts.front().table->Table().fid_column;
        const PostgisSource::KnownOfTable known{key, parts.front().table->Table().srid};
        auto whole = through_coordinator ? m_coordinator.Source().LoadTable(table, &known) : parts.front().table;
        const auto& parent = whole->Table();
        for (std::size_t index = 0; index < parts.size(); ++index) {
            const auto& own = parts[index].table->Table();
            std::string differs;
            if (own.geometry_column != parent.geometry_column) {
                differs = "its geometry column is " + own.geometry_column + ", not " + parent.geometry_column;
            } else if (own.srid != parent.srid || own.dimension != parent.dimension) {
                differs = "its geometry column is " + own.declared_type + ", not " + parent.declared_type;
            } else if (own.fid_column != key) {
                differs = "its primary key is " + own.fid_column + ", not " + key + " as on " + parts.front().server;
            }
            if (!differs.empty()) throw platform::Error(platform::kFail, where(places[index]) + ": " + differs);
        }
        return std::make_shared<ShardedFeatureClass>(std::move(whole), std::move(parts), !through_coordinator);
    }

    std::shared_ptr<EngineTuning> m_tuning;
    SearchesElsewhereMaker m_elsewhere;
    PostgisDataSource m_coordinator;
    // By table, id column and listed parts.
    std::map<std::tuple<std::string, std::string, std::vector<std::string>>, std::shared_ptr<ShardedFeatureClass>> m_spread;
};

}  // namespace

std::unique_ptr<DataSource> OpenShardedPostgisDataSource(const std::string& source, std::shared_ptr<EngineTuning> tuning,
                                                         SearchesElsewhereMaker elsewhere) {
    return std::make_unique<ShardedPostgisDataSource>(source, std::move(tuning), std::move(elsewhere));
}

}  // namespace selvane::gis
