#include "gis/memory/cursors.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "gis/common/shape_errors.h"
#include "gis/support/slices.h"
#include "gis/geometry/spatial_relation.h"

namespace selvane::gis {

void MemoryScan::ShapesFrom(std::size_t row, std::size_t count, std::vector<std::size_t>& rows,
                            std::vector<std::string>& wkb) const {
    const auto owner = scanned.lock();
    if (!owner) return;
    const auto& store = owner->Rows();
    for (; row < store.Count() && rows.size() < count; ++row) {
        if (shown && !(*shown)[row]) continue;
        rows.push_back(row);
        if (const auto* point = store.PlainPointAt(row)) {
            // A point as WKB in the machine's byte order: the order, type 1, x, y.
            std::string bytes(21, '\0');
            bytes[0] = std::endian::native == std::endian::little ? 1 : 0;
            const std::uint32_t type = 1;
            std::memcpy(bytes.data() + 1, &type, 4);
            std::memcpy(bytes.data() + 5, &point->x, 8);
            std::memcpy(bytes.data() + 13, &point->y, 8);
            wkb.push_back(std::move(bytes));
        } else {
            const auto stored = store.StoredBytesAt(row);
            wkb.emplace_back(reinterpret_cast<const char*>(stored.data()), stored.size());
        }
    }
}

std::shared_ptr<platform::IFeature> MemoryScanCursor::NextFeature() {
    const auto row_count = m_source.Owner().RowCount();
    while (m_next < row_count) {
        const auto row = m_next++;
        if (!m_shown || (*m_shown)[row]) return m_source.At(row);
    }
    return nullptr;
}

MemorySearchCursor::MemorySearchCursor(std::shared_ptr<const MemoryFeatureClass> owner, bool recycling, RowMask shown,
                             platform::esriSpatialRelEnum relation, std::shared_ptr<platform::IGeometry> query_owner,
                             const geos::geom::Geometry& query, std::unique_ptr<geos::geom::Geometry> projected,
                             const ShapeOrigin* query_source, std::size_t query_row)
    : m_source(std::move(owner), recycling),
      m_answered(Answered::AsRead),
      m_shown(std::move(shown)),
      m_relation(relation),
      m_query_owner(std::move(query_owner)),
      m_projected(std::move(projected)),
      m_query(m_projected ? m_projected.get() : &query),
      m_query_source(query_source),
      m_query_row(query_row) {
    m_answer.candidates = CandidatesOf(m_source.Owner(), *m_query, m_shown);
}

MemorySearchCursor::MemorySearchCursor(std::shared_ptr<const MemoryFeatureClass> owner, bool recycling, SearchAnswer answer)
    : m_source(std::move(owner), recycling), m_answered(Answered::Before), m_answer(std::move(answer)) {}

std::vector<std::size_t> CandidatesOf(const MemoryFeatureClass& target, const geos::geom::Geometry& query,
                                      const RowMask& shown) {
    std::vector<std::size_t> candidates;
    // The index holds only rows with a non-empty shape, so null and empty shapes never match.
    target.Index().query(*query.getEnvelopeInternal(), [&candidates, &shown](std::size_t row) {
        if (!shown || (*shown)[row]) candidates.push_back(row);
    });
    // Table order, so that a cursor reads like a scan of the table.
    std::sort(candidates.begin(), candidates.end());
    return candidates;
}

namespace {

// The longest line whose vertices alone may decide a CROSS, read onto the stack.
constexpr std::size_t kLineVerticesOnStack = 16;

// A row the index found, with its envelope as the index keeps it: for a plain point or a
// rectangle, the shape itself.
struct FoundRow {
    std::size_t row;
    geos::geom::Envelope box;
};

// Whether the relation holds for one candidate row: its validity checked first, and a
// failure of GEOS named with the row. A point or a rectangle is answered from its
// coordinates where the relation allows; any other row's shape is made once for both.
// `found`: the row as the index found it; a point or a rectangle is then tested at the
// index's copy of its numbers, so that the class's arrays are not read at a random place
// for each candidate (a cache miss apiece, most of a small query's search). Every row of
// an index `over_points` is a plain point.
bool Evaluate(platform::esriSpatialRelEnum relation, const PreparedQuery& query, const MemoryFeatureClass& owner,
              std::size_t row, const FoundRow* found = nullptr, bool over_points = false) {
    try {
        if (found && over_points) return query.HoldsAtPoint(relation, {found->box.getMinX(), found->box.getMinY()});
        if (const auto* point = owner.Rows().PlainPointAt(row)) return query.HoldsAtPoint(relation, *point);
        const auto box = !found ? owner.Rows().RectangleAt(row)
                         : owner.Rows().IsRectangleAt(row) ? std::optional(found->box)
                                                    : std::nullopt;
        if (box) {
            if (const auto verdict = query.HoldsAtRectangle(relation, *box)) return *verdict;
        }
        if (relation == platform::esriSpatialRelCrosses) {
            geos::geom::Coordinate vertices[kLineVerticesOnStack];
            if (const auto count = owner.Rows().LineVerticesAt(row, vertices)) {
                if (const auto verdict = query.CrossesAtVertices({vertices, count})) return *verdict;
            }
        }
    } catch (const geos::util::GEOSException& error) {
        throw CannotEvaluateError(relation, owner.Culprit(), owner.Rows().Fid(row), error.what());
    }
    const auto shape = owner.Rows().ShapeAt(row);
    owner.RequireValid(row, *shape);
    try {
        return query.Holds(relation, *shape);
    } catch (const geos::util::GEOSException& error) {
        throw CannotEvaluateError(relation, owner.Culprit(), owner.Rows().Fid(row), error.what());
    }
}

// How far ahead of the candidate tested its successors' rows, then their bytes, are
// asked for.
constexpr std::size_t kRowsAhead = 8;
constexpr std::size_t kBytesAhead = 4;

// How many found rows a thread keeps room for between searches.
constexpr std::size_t kKeptFoundRows = 4096;

// The candidates of `query`, as CandidatesOf gives them, each with its envelope.
void FoundRowsOf(const MemoryFeatureClass& target, const geos::geom::Geometry& query, const RowMask& shown,
                 std::vector<FoundRow>& found) {
    found.clear();
    target.Index().QueryWithBoxes(*query.getEnvelopeInternal(), [&](std::size_t row, const geos::geom::Envelope& box) {
        if (!shown || (*shown)[row]) found.push_back({row, box});
    });
    std::sort(found.begin(), found.end(), [](const FoundRow& a, const FoundRow& b) { return a.row < b.row; });
}

}  // namespace

SearchAnswer AnswerSearch(const MemoryFeatureClass& target, const RowMask& shown, platform::esriSpatialRelEnum relation,
                          const geos::geom::Geometry& query, const ShapeOrigin* query_source, std::size_t query_row) {
    SearchAnswer answer;
    // The failures in the order a cursor meets them: before any candidate, at the first
    // (the query shape's validity), at each candidate.
    try {
        if (query_source) query_source->RequireFinite(query_row);
        target.RequireAllFinite();
    } catch (...) {
        answer.before_candidates = std::current_exception();
        return answer;
    }
    // Reused by every search of the thread, which mostly finds a handful of rows; the room
    // a large search made is given back when it ends.
    thread_local std::vector<FoundRow> found;
    struct GiveBackLargeRoom {
        std::vector<FoundRow>& kept;
        ~GiveBackLargeRoom() {
            if (kept.capacity() > kKeptFoundRows) std::vector<FoundRow>().swap(kept);
        }
    } give_back{found};
    FoundRowsOf(target, query, shown, found);
    answer.candidates.reserve(found.size());
    for (const auto& row : found) answer.candidates.push_back(row.row);
    answer.verdicts.assign(answer.candidates.size(), 1);
    if (relation == platform::esriSpatialRelEnvelopeIntersects || answer.candidates.empty()) return answer;
    try {
        // `query` is the row's own shape: the search is answered ahead only without a projection.
        if (query_source) query_source->RequireValid(query_row, query);
    } catch (...) {
        answer.failed_at = 0;
        answer.failure = std::current_exception();
        return answer;
    }
    const PreparedQuery prepared(query, query_source != nullptr,
                                 query_source && query_source->KnownStrictlyConvex(query_row));
    const bool over_points = target.Index().OverPlainPoints();
    // A few candidates ahead of the one tested, where a row's kind and bytes lie is asked
    // for, then the bytes themselves: the processor brings them in meanwhile.
    const std::size_t count = found.size();
    const auto prefetch = [&](std::size_t index) {
        if (index + kRowsAhead < count) target.Rows().PrefetchRow(found[index + kRowsAhead].row);
        if (index + kBytesAhead < count) target.Rows().PrefetchBytes(found[index + kBytesAhead].row);
    };
    if (!over_points) {
        for (std::size_t index = 0; index < std::min(count, kRowsAhead); ++index) target.Rows().PrefetchRow(found[index].row);
    }
    for (std::size_t index = 0; index < answer.candidates.size(); ++index) {
        if (!over_points) prefetch(index);
        try {
            answer.verdicts[index] =
                Evaluate(relation, prepared, target, found[index].row, &found[index], over_points) ? 1 : 0;
        } catch (...) {
            answer.failed_at = index;
            answer.failure = std::current_exception();
            break;
        }
    }
    return answer;
}

bool MemorySearchCursor::Matches(std::size_t row) {
    if (m_relation == platform::esriSpatialRelEnvelopeIntersects) return true;  // the index compared envelopes
    if (!m_prepared) {
        if (m_query_source) m_query_source->RequireValid(m_query_row);
        m_prepared = std::make_unique<PreparedQuery>(*m_query, KnownValid());
    }
    return Evaluate(m_relation, *m_prepared, m_source.Owner(), row);
}

void MemorySearchCursor::Start() {
    if (m_answered == Answered::Before) {
        // An answer worked out ahead: its failures stand where this cursor meets them.
        if (m_answer.before_candidates) {
            m_next = m_answer.candidates.size();
            std::rethrow_exception(m_answer.before_candidates);
        }
        return;
    }
    // Shapes with non-finite coordinates are outside the index, where no envelope can find
    // them: report them before answering rather than leave them out silently.
    if (m_query_source) m_query_source->RequireFinite(m_query_row);
    m_source.Owner().RequireAllFinite();
    if (m_relation != platform::esriSpatialRelEnvelopeIntersects &&
        ThreadsFor(m_answer.candidates.size(), kParallelCandidates) > 1) {
        EvaluateInParallel();
        m_answered = Answered::Before;
    }
}

std::shared_ptr<platform::IFeature> MemorySearchCursor::NextFeature() {
    if (!m_started) {
        m_started = true;
        Start();
    }
    const auto& candidates = m_answer.candidates;
    while (m_next < candidates.size()) {
        const auto index = m_next++;
        if (m_answered == Answered::Before) {
            // A failure surfaces where reading the candidates in order would meet it.
            if (index == m_answer.failed_at) std::rethrow_exception(m_answer.failure);
            if (m_answer.verdicts[index]) return m_source.At(candidates[index]);
            continue;
        }
        if (Matches(candidates[index])) return m_source.At(candidates[index]);
    }
    return nullptr;
}

void MemorySearchCursor::EvaluateInParallel() {
    if (m_query_source) m_query_source->RequireValid(m_query_row);
    const auto& owner = m_source.Owner();
    owner.PrepareForThreads();
    FillLazyEnvelopes(*m_query);
    const std::size_t count = m_answer.candidates.size();
    m_answer.verdicts.assign(count, 0);
    const std::size_t threads = ThreadsFor(count, kParallelCandidates);
    std::vector<std::size_t> failed_at(threads, SIZE_MAX);
    std::vector<std::exception_ptr> failures(threads);
    // Each thread a slice of the candidates and a prepared query of its own: GEOS builds a
    // prepared geometry's indexes on first use, so one may not be shared between threads.
    // Validity marks of different rows are different bytes, so the slices do not meet.
    InSlices(count, threads, [&](std::size_t slot, std::size_t begin, std::size_t end) {
        const PreparedQuery prepared(*m_query, KnownValid());
        for (std::size_t index = begin; index < end; ++index) {
            try {
                m_answer.verdicts[index] = Evaluate(m_relation, prepared, owner, m_answer.candidates[index]) ? 1 : 0;
            } catch (...) {
                failed_at[slot] = index;
                failures[slot] = std::current_exception();
                return;
            }
        }
    });
    for (std::size_t slot = 0; slot < threads; ++slot) {
        if (failed_at[slot] < m_answer.failed_at) {
            m_answer.failed_at = failed_at[slot];
            m_answer.failure = failures[slot];
        }
    }
}

}  // namespace selvane::gis
