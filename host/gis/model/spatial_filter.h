#pragma once

#include "platform/arcobjects.h"

namespace selvane::gis {

/// A spatial filter: a query shape, a relation code and the target's shape field.
class SpatialFilter : public platform::ISpatialFilter {
public:
    std::shared_ptr<platform::IGeometry> Geometry() override { return m_geometry; }
    void SetGeometry(std::shared_ptr<platform::IGeometry> geometry) override { m_geometry = std::move(geometry); }
    platform::esriSpatialRelEnum SpatialRel() override { return m_relation; }
    void SetSpatialRel(platform::esriSpatialRelEnum relation) override { m_relation = relation; }
    std::string GeometryField() override { return m_field; }
    void SetGeometryField(const std::string& field) override { m_field = field; }

private:
    std::shared_ptr<platform::IGeometry> m_geometry;
    platform::esriSpatialRelEnum m_relation = platform::esriSpatialRelIntersects;
    std::string m_field;
};

}  // namespace selvane::gis
