#include "gis/shards/sharded_class.h"

#include <algorithm>
#include <exception>
#include <thread>
#include <unordered_map>
#include <utility>

#include "gis/geometry/shape.h"
#include "platform/error.h"

namespace selvane::gis {
namespace {

// The features of every part, one part after another (a scan: each part streams its rows).
class PartAfterPartCursor : public platform::IFeatureCursor {
public:
    PartAfterPartCursor(std::size_t parts, ShardedFeatureClass::PartSearch search)
        : m_parts(parts), m_search(std::move(search)) {}

    std::shared_ptr<platform::IFeature> NextFeature() override {
        while (m_part < m_parts) {
            if (!m_cursor) m_cursor = m_search(m_part);
            if (auto feature = m_cursor->NextFeature()) return feature;
            m_cursor.reset();
            ++m_part;
        }
        return nullptr;
    }

private:
    std::size_t m_parts;
    ShardedFeatureClass::PartSearch m_search;
    std::size_t m_part = 0;
    std::shared_ptr<platform::IFeatureCursor> m_cursor;
};

// The features every part's search finds. The searches are asked for at once (each part's
// statement then runs on its server while the others are asked, and a query its class
// refuses is refused here, as a search is); their rows are read when the first feature is
// asked for, each part's on a thread, so that a failure surfaces at the cursor.
class AllPartsAtOnceCursor : public platform::IFeatureCursor {
public:
    AllPartsAtOnceCursor(const ShardedFeatureClass& owner, const ShardedFeatureClass::PartSearch& search)
        : m_owner(owner) {
        for (std::size_t part = 0; part < owner.Parts().size(); ++part) m_cursors.push_back(search(part));
    }

    std::shared_ptr<platform::IFeature> NextFeature() override {
        if (!m_read) Read();
        while (m_part < m_found.size()) {
            if (m_next < m_found[m_part].size()) {
                return std::make_shared<PostgisFeature>(m_owner.Parts()[m_part].table, m_found[m_part][m_next++],
                                                        std::nullopt);
            }
            ++m_part;
            m_next = 0;
        }
        return nullptr;
    }

private:
    void Read() {
        m_read = true;
        m_found.assign(m_cursors.size(), {});
        std::vector<std::exception_ptr> failures(m_cursors.size());
        const auto read = [&](std::size_t part) noexcept {
            try {
                while (const auto feature = m_cursors[part]->NextFeature()) m_found[part].push_back(feature->OID());
            } catch (...) {
                failures[part] = std::current_exception();
            }
            m_cursors[part].reset();
        };
        {
            // Each part's class has a connection of its own, which only its thread uses until
            // every thread has been joined.
            std::vector<std::jthread> threads;
            threads.reserve(m_cursors.size());
            for (std::size_t part = 1; part < m_cursors.size(); ++part) {
                try {
                    threads.emplace_back(read, part);
                } catch (const std::system_error&) {
                    read(part);  // no thread to be had: read here, in turn
                }
            }
            if (!m_cursors.empty()) read(0);
        }
        for (const auto& failure : failures) {
            if (failure) std::rethrow_exception(failure);
        }
        RequireIdsOfOnePart();
    }

    void RequireIdsOfOnePart() const {
        if (m_found.size() < 2) return;
        std::unordered_map<std::int64_t, std::size_t> part_of;
        for (std::size_t part = 0; part < m_found.size(); ++part) {
            for (const auto fid : m_found[part]) {
                const auto [at, added] = part_of.emplace(fid, part);
                if (added || at->second == part) continue;
                const auto& parts = m_owner.Parts();
                throw platform::Error(platform::kFail, parts[part].table->Culprit() + " gives the object id " +
                                                           std::to_string(fid) + " to a feature on " +
                                                           parts[at->second].server + " and to one on " +
                                                           parts[part].server +
                                                           "; each feature of a table spread over servers needs an "
                                                           "id of its own across all of them");
            }
        }
    }

    const ShardedFeatureClass& m_owner;
    std::vector<std::shared_ptr<platform::IFeatureCursor>> m_cursors;  // a part each, until read
    bool m_read = false;
    std::vector<std::vector<std::int64_t>> m_found;  // a part each
    std::size_t m_part = 0;
    std::size_t m_next = 0;
};

const geos::geom::Geometry* QueryGeometry(const std::shared_ptr<platform::IQueryFilter>& filter) {
    const auto spatial = std::dynamic_pointer_cast<platform::ISpatialFilter>(filter);
    if (!spatial) return nullptr;
    const auto shape = std::dynamic_pointer_cast<Shape>(spatial->Geometry());
    return shape ? shape->Geometry() : nullptr;
}

}  // namespace

ShardedFeatureClass::ShardedFeatureClass(std::shared_ptr<PostgisFeatureClass> whole, std::vector<ShardPart> parts)
    : m_whole(std::move(whole)), m_parts(std::move(parts)) {}

void ShardedFeatureClass::AddLayerName(const std::string& name) {
    // Each part is named by the layer's own layer on it.
    m_whole->AddLayerName(name);
}

GdalTable ShardedFeatureClass::AsGdalTable() const {
    // Read through the coordinator, which reads each part's rows on its server.
    auto table = m_whole->AsGdalTable();
    table.ids_without_key = true;
    return table;
}

std::size_t ShardedFeatureClass::PartOf(const platform::IFeature& feature) const {
    const auto* own = dynamic_cast<const PostgisFeature*>(&feature);
    for (std::size_t part = 0; own && part < m_parts.size(); ++part) {
        if (&own->Owner() == m_parts[part].table.get()) return part;
    }
    throw platform::Error(platform::kInvalidArg, "The feature does not belong to " + m_whole->Culprit());
}

std::int32_t ShardedFeatureClass::FeatureCount(std::shared_ptr<platform::IQueryFilter> filter) {
    if (!filter) {
        std::int64_t count = 0;
        for (auto& part : m_parts) count += part.table->FeatureCount(nullptr);
        return static_cast<std::int32_t>(std::min<std::int64_t>(count, INT32_MAX));
    }
    std::int32_t count = 0;
    const auto cursor = Search(filter, true);
    while (cursor->NextFeature()) ++count;
    return count;
}

std::shared_ptr<platform::IFeatureCursor> ShardedFeatureClass::Search(std::shared_ptr<platform::IQueryFilter> filter,
                                                                      bool recycling) {
    return SearchParts(filter, recycling,
                       [this, filter, recycling](std::size_t part) { return m_parts[part].table->Search(filter, recycling); });
}

std::shared_ptr<platform::IFeatureCursor> ShardedFeatureClass::SearchParts(
    const std::shared_ptr<platform::IQueryFilter>& filter, bool recycling, const PartSearch& search) const {
    static_cast<void>(recycling);
    const auto* query = QueryGeometry(filter);
    if (!query) return std::make_shared<PartAfterPartCursor>(m_parts.size(), search);
    // The threads read the query shape at once: what GEOS would work out on first need is
    // worked out here, before them.
    FillLazyEnvelopes(*query);
    return std::make_shared<AllPartsAtOnceCursor>(*this, search);
}

}  // namespace selvane::gis
