#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "gis/geos_include.h"
#include "platform/arcobjects.h"

class OGRSpatialReference;

namespace selvane::gis {

class FeatureClass;
struct QueryBatch;

/// The declared shape type of a feature class, by dimension; Mixed is not gated.
enum class ShapeDimension : int { Mixed = -1, Point = 0, Line = 1, Area = 2 };

/// A shape handed out by the map model: either a feature's shape, borrowed from its
/// feature class, or a free-standing geometry that the shape owns (built by a caller).
class Shape : public platform::IGeometry {
public:
    Shape() = default;
    /// A free-standing shape; `spatial_reference` may be null (taken as the target's).
    Shape(std::unique_ptr<geos::geom::Geometry> geometry,
          std::shared_ptr<const OGRSpatialReference> spatial_reference);

    /// Points the shape at row `row` of `source` (a feature's shape).
    void Borrow(const FeatureClass* source, std::size_t row);

    /// The geometry, or nullptr for a feature without a shape.
    const geos::geom::Geometry* Geometry() const { return m_geometry; }
    /// The spatial reference, or nullptr when unknown.
    const std::shared_ptr<const OGRSpatialReference>& SpatialReference() const;
    /// The feature class and row the shape belongs to; nullptr for a free-standing shape.
    const FeatureClass* Source() const { return m_source; }
    std::size_t Row() const { return m_row; }
    /// The declared shape type of the class a free-standing shape was read from (a
    /// database table's), so that searches gate on the class rather than on one shape.
    void SetClassDimension(ShapeDimension dimension) { m_class_dimension = dimension; }
    std::optional<ShapeDimension> ClassDimension() const { return m_class_dimension; }
    /// The batch of a database scan the shape was read in, and its row there: a search
    /// may answer the batch's later shapes ahead in the same statement.
    void SetBatch(std::shared_ptr<const QueryBatch> batch, std::size_t row) {
        m_batch = std::move(batch);
        m_batch_row = row;
    }
    const std::shared_ptr<const QueryBatch>& Batch() const { return m_batch; }
    /// A shape handed out by a scan of its class (a layer's rows in table order): the
    /// rows the scan shows (null: all), so that a search may answer the rows to come.
    void SetScan(std::shared_ptr<const std::vector<bool>> shown) {
        m_scanned = true;
        m_scan_shown = std::move(shown);
    }
    bool Scanned() const { return m_scanned; }
    const std::shared_ptr<const std::vector<bool>>& ScanShown() const { return m_scan_shown; }
    std::size_t BatchRow() const { return m_batch_row; }

    bool IsEmpty() const override { return !m_geometry || m_geometry->isEmpty(); }

    /// The factory of every geometry the map model makes (loaded shapes, WKT shapes).
    static const geos::geom::GeometryFactory& Factory();

    /// A free-standing shape from well-known text (tests and tools).
    static std::shared_ptr<Shape> FromWkt(const std::string& wkt,
                                          std::shared_ptr<const OGRSpatialReference> spatial_reference = nullptr);

private:
    std::unique_ptr<geos::geom::Geometry> m_owned;
    std::shared_ptr<const OGRSpatialReference> m_spatial_reference;
    const geos::geom::Geometry* m_geometry = nullptr;
    const FeatureClass* m_source = nullptr;
    std::size_t m_row = 0;
    std::optional<ShapeDimension> m_class_dimension;
    std::shared_ptr<const QueryBatch> m_batch;
    std::size_t m_batch_row = 0;
    bool m_scanned = false;
    std::shared_ptr<const std::vector<bool>> m_scan_shown;
};

/// Works out now the envelopes that GEOS works out lazily inside a shape (of the shape, its
/// parts and their rings), so that several threads may read the shape without racing to
/// fill them.
void FillLazyEnvelopes(const geos::geom::Geometry& shape);

}  // namespace selvane::gis
