#pragma once

#include <cstddef>
#include <memory>

#include "gis/feature_class.h"
#include "gis/shape.h"
#include "platform/arcobjects.h"

namespace selvane::gis {

/// One row of a feature class. A recycling cursor moves one Feature from row to row.
class Feature : public platform::IFeature, public std::enable_shared_from_this<Feature> {
public:
    Feature(std::shared_ptr<const FeatureClass> owner, std::size_t row) : m_owner(std::move(owner)) { MoveTo(row); }

    void MoveTo(std::size_t row) {
        m_row = row;
        m_shape.Borrow(m_owner.get(), row);
    }

    const FeatureClass& Owner() const { return *m_owner; }
    std::size_t Row() const { return m_row; }
    /// Marks the feature as one of a scan showing `shown` (null: every row).
    void SetScan(RowMask shown) { m_shape.SetScan(std::move(shown)); }

    std::int64_t OID() override { return m_owner->Fid(m_row); }
    /// Shares this feature's lifetime; follows the feature when a recycling cursor moves it.
    std::shared_ptr<platform::IGeometry> Shape() override {
        if (!m_shape.Geometry()) return nullptr;
        return std::shared_ptr<platform::IGeometry>(shared_from_this(), &m_shape);
    }

private:
    std::shared_ptr<const FeatureClass> m_owner;
    std::size_t m_row = 0;
    gis::Shape m_shape;
};

}  // namespace selvane::gis
