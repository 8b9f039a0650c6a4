#pragma once

// A PostGIS database ("PG:" and a connection string) as a source of feature layers whose
// searches run in the server.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gis/common/data_source.h"
#include "gis/common/engine_tuning.h"
#include "gis/postgis/searches_elsewhere.h"
#include "gis/postgis/source.h"

namespace selvane::gis {

class PostgisDataSource : public DataSource {
public:
    PostgisDataSource(const std::string& source, std::shared_ptr<EngineTuning> tuning, SearchesElsewhereMaker elsewhere)
        : m_source(source, std::move(tuning), std::move(elsewhere)) {}

    std::shared_ptr<platform::ILayer> Layer(const LayerEntry& entry) override;
    std::vector<std::shared_ptr<platform::ILayer>> AllLayers() override;
    const PostgisSource& Source() const { return m_source; }

private:
    PostgisSource m_source;
    std::map<std::pair<std::string, std::string>, std::shared_ptr<PostgisFeatureClass>> m_tables;  // by table and id column
};

/// `elsewhere` (may be empty) answers a scan's searches outside the server.
std::unique_ptr<DataSource> OpenPostgisDataSource(const std::string& source, std::shared_ptr<EngineTuning> tuning,
                                                  SearchesElsewhereMaker elsewhere);

}  // namespace selvane::gis
