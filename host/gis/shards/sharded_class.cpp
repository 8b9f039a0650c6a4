#include "gis/shards/sharded_class.h"

#include <cpl_string.h>

#include <algorithm>
#include <exception>
#include <system_error>
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

// The features every part's search found, handed out part after part; a part's failure to
// read its rows is thrown at the first feature, as a search's cursor throws it.
class AllPartsAtOnceCursor : public platform::IFeatureCursor {
public:
    AllPartsAtOnceCursor(const ShardedFeatureClass& owner, std::vector<std::vector<std::int64_t>> found,
                         std::exception_ptr failure)
        : m_owner(owner), m_found(std::move(found)), m_failure(std::move(failure)) {}

    std::shared_ptr<platform::IFeature> NextFeature() override {
        if (m_failure) std::rethrow_exception(std::exchange(m_failure, nullptr));
        if (!m_checked) {
            m_checked = true;
            RequireIdsOfOnePart();
        }
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
    std::vector<std::vector<std::int64_t>> m_found;  // a part each
    std::exception_ptr m_failure;
    bool m_checked = false;
    std::size_t m_part = 0;
    std::size_t m_next = 0;
};

// `text` as XML character data or an attribute's value.
std::string XmlText(const std::string& text) {
    char* escaped = CPLEscapeString(text.c_str(), static_cast<int>(text.size()), CPLES_XML);
    std::string kept(escaped);
    CPLFree(escaped);
    return kept;
}

const Shape* QueryShape(const std::shared_ptr<platform::IQueryFilter>& filter) {
    const auto spatial = std::dynamic_pointer_cast<platform::ISpatialFilter>(filter);
    if (!spatial) return nullptr;
    const auto* shape = dynamic_cast<const Shape*>(spatial->Geometry().get());
    return shape && shape->Geometry() ? shape : nullptr;
}

}  // namespace

ShardedFeatureClass::ShardedFeatureClass(std::shared_ptr<PostgisFeatureClass> whole, std::vector<ShardPart> parts,
                                         bool union_of_parts)
    : m_whole(std::move(whole)), m_parts(std::move(parts)), m_union_of_parts(union_of_parts) {}

void ShardedFeatureClass::AddLayerName(const std::string& name) {
    // Each part is named by the layer's own layer on it.
    m_whole->AddLayerName(name);
}

GdalTable ShardedFeatureClass::AsGdalTable() const {
    // Read through the coordinator, which reads each part's rows on its server.
    if (!m_union_of_parts) return m_whole->AsGdalTable();
    // Without one, GDAL reads each part on its server as a layer of a union, which keeps
    // each feature's id, each part opened with its own table alone.
    std::string union_of_parts = "<OGRVRTDataSource><OGRVRTUnionLayer name=\"parts\"><PreserveSrcFID>ON</PreserveSrcFID>";
    for (std::size_t part = 0; part < m_parts.size(); ++part) {
        const auto own = m_parts[part].table->AsGdalTable();
        union_of_parts += "<OGRVRTLayer name=\"part" + std::to_string(part + 1) + "\"><SrcDataSource>" +
                          XmlText(own.source) + "</SrcDataSource><OpenOptions>";
        for (const auto& option : own.open_options) {
            const auto equals = option.find('=');
            union_of_parts += "<OOI key=\"" + XmlText(option.substr(0, equals)) + "\">" +
                              XmlText(option.substr(equals + 1)) + "</OOI>";
        }
        union_of_parts += "</OpenOptions><SrcLayer>" + XmlText(own.table) + "</SrcLayer></OGRVRTLayer>";
    }
    union_of_parts += "</OGRVRTUnionLayer></OGRVRTDataSource>";
    auto table = m_whole->AsGdalTable();
    table.source = std::move(union_of_parts);
    table.table = "parts";
    table.open_options.clear();
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
    return SearchParts(filter, recycling, std::vector<std::string>{});
}

std::shared_ptr<platform::IFeatureCursor> ShardedFeatureClass::SearchParts(
    const std::shared_ptr<platform::IQueryFilter>& filter, bool recycling, const std::vector<std::string>& wheres) const {
    static const std::string kAllRows;
    const auto where = [&wheres](std::size_t part) -> const std::string& {
        return part < wheres.size() ? wheres[part] : kAllRows;
    };
    const auto* query = QueryShape(filter);
    if (!query) {
        return std::make_shared<PartAfterPartCursor>(
            m_parts.size(), [this, filter, recycling, wheres](std::size_t part) {
                return m_parts[part].table->SearchWhere(filter, recycling, part < wheres.size() ? wheres[part] : kAllRows);
            });
    }
    // Every part searched, each on its own connection: a search its class refuses is
    // thrown here, as a search's refusal is; a failure to read the rows, at the cursor.
    const std::size_t parts = m_parts.size();
    std::vector<std::vector<std::int64_t>> found(parts);
    std::vector<std::exception_ptr> refused(parts), failed(parts);
    if (query->Reading() != m_prepared_for.lock() || !query->Reading()) {
        // Threads read the query shape at once: what GEOS would work out on first need is
        // worked out here, before them.
        FillLazyEnvelopes(*query->Geometry());
        // What a part's first search of a scan makes ready (a copy of its table when that
        // costs less than its searches; the check of every coordinate, a scan of it) is
        // made for all parts at once, each on a thread. A part that fails fails its own
        // search just after.
        m_workers.RunEach(parts, [&](std::size_t part) noexcept { m_parts[part].table->PrepareSearch(filter, where(part)); });
        m_prepared_for = query->Reading();
    }
    std::vector<std::shared_ptr<platform::IFeatureCursor>> cursors(parts);
    const auto ask = [&](std::size_t part) noexcept {
        try {
            cursors[part] = m_parts[part].table->SearchWhere(filter, recycling, where(part));
        } catch (...) {
            refused[part] = std::current_exception();
        }
    };
    const auto read = [&](std::size_t part) noexcept {
        if (!cursors[part]) return;
        try {
            while (const auto feature = cursors[part]->NextFeature()) found[part].push_back(feature->OID());
        } catch (...) {
            failed[part] = std::current_exception();
        }
        cursors[part].reset();
    };
    if (query->Reading()) {
        // A shape a scan tells of: every part answers the scan's next shapes ahead, in one
        // statement a part. Asking sends each part's statement when a batch begins and
        // reads nothing, so every server works on its statement at once; this search then
        // reads what each has answered, in turn on this thread rather than waking a thread
        // a part for every shape.
        for (std::size_t part = 0; part < parts; ++part) ask(part);
        for (std::size_t part = 0; part < parts; ++part) read(part);
    } else {
        // A shape searched alone: each part asked and read on a thread of its own (each
        // part's class has a connection of its own, which only that thread uses until it
        // is joined).
        m_workers.RunEach(parts, [&](std::size_t part) noexcept {
            ask(part);
            read(part);
        });
    }
    for (const auto& refusal : refused) {
        if (refusal) std::rethrow_exception(refusal);
    }
    std::exception_ptr failure;
    for (const auto& part_failure : failed) {
        if (part_failure && !failure) failure = part_failure;
    }
    return std::make_shared<AllPartsAtOnceCursor>(*this, std::move(found), failure);
}

}  // namespace selvane::gis
