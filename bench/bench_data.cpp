#include "bench_data.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <cmath>
#include <fstream>
#include <random>
#include <stdexcept>

#include <geos/geom/Coordinate.h>
#include <geos/geom/CoordinateArraySequence.h>
#include <geos/geom/LinearRing.h>
#include <geos/geom/Polygon.h>
#include <geos/io/WKBWriter.h>

namespace selvane::bench {
namespace {

constexpr double kExtent = 1000.0;

std::unique_ptr<geos::geom::Geometry> Polygon(const std::vector<geos::geom::Coordinate>& ring) {
    auto sequence = std::make_unique<geos::geom::CoordinateArraySequence>();
    for (const auto& c : ring) sequence->add(c);
    sequence->add(ring.front());
    return Factory().createPolygon(Factory().createLinearRing(std::move(sequence)));
}

std::unique_ptr<geos::geom::Geometry> Octagon(double x, double y, double radius) {
    std::vector<geos::geom::Coordinate> ring;
    for (int i = 0; i < 8; ++i) {
        const double angle = i * M_PI / 4 + 0.3;
        ring.emplace_back(x + radius * std::cos(angle), y + radius * std::sin(angle));
    }
    return Polygon(ring);
}

std::unique_ptr<geos::geom::Geometry> Square(double x, double y, double side) {
    return Polygon({{x, y}, {x + side, y}, {x + side, y + side}, {x, y + side}});
}

}  // namespace

const geos::geom::GeometryFactory& Factory() {
    static const auto factory = geos::geom::GeometryFactory::create();
    return *factory;
}

BenchShapes MakeShapes(std::size_t query_count, std::size_t target_count, TargetKind kind, std::size_t per_query) {
    std::mt19937_64 random(1207);
    std::uniform_real_distribution<double> position(0, kExtent);
    BenchShapes shapes;
    const double target_density = static_cast<double>(target_count) / (kExtent * kExtent);
    if (kind == TargetKind::Cells) {
        const auto per_side = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(target_count))));
        const double side = kExtent / static_cast<double>(per_side);
        for (std::size_t i = 0; i < target_count; ++i) {
            shapes.targets.push_back(Square(static_cast<double>(i % per_side) * side,
                                            static_cast<double>(i / per_side) * side, side));
        }
        // Two cells by two by default: touches twelve cells around, covers four.
        const auto cells = std::max<std::size_t>(2, static_cast<std::size_t>(std::sqrt(per_query / 2.5)));
        std::uniform_int_distribution<std::size_t> cell(0, per_side - cells - 2);
        for (std::size_t i = 0; i < query_count; ++i) {
            shapes.queries.push_back(Square(static_cast<double>(cell(random)) * side,
                                            static_cast<double>(cell(random)) * side, static_cast<double>(cells) * side));
        }
        return shapes;
    }
    // A query octagon of this radius holds about `per_query` targets.
    const double radius = std::sqrt(static_cast<double>(per_query) / (target_density * M_PI));
    for (std::size_t i = 0; i < query_count; ++i) shapes.queries.push_back(Octagon(position(random), position(random), radius));
    const double line_length = radius;
    std::uniform_real_distribution<double> angle(0, 2 * M_PI);
    for (std::size_t i = 0; i < target_count; ++i) {
        const double x = position(random), y = position(random);
        if (kind == TargetKind::Points) {
            shapes.targets.emplace_back(Factory().createPoint(geos::geom::Coordinate(x, y)));
        } else {
            const double a = angle(random);
            auto sequence = std::make_unique<geos::geom::CoordinateArraySequence>();
            sequence->add(geos::geom::Coordinate(x, y));
            sequence->add(geos::geom::Coordinate(x + line_length * std::cos(a), y + line_length * std::sin(a)));
            shapes.targets.push_back(Factory().createLineString(std::move(sequence)));
        }
    }
    return shapes;
}

void WriteGeoPackage(const std::string& path, const BenchShapes& shapes, TargetKind kind) {
    GDALAllRegister();
    auto* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
    VSIUnlink(path.c_str());
    GDALDatasetUniquePtr dataset(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!dataset) throw std::runtime_error("cannot create " + path);
    const auto write = [&](const char* name, OGRwkbGeometryType type,
                           const std::vector<std::unique_ptr<geos::geom::Geometry>>& geometries) {
        char** options = CSLSetNameValue(nullptr, "SPATIAL_INDEX", "NO");
        OGRLayer* layer = dataset->CreateLayer(name, nullptr, type, options);
        CSLDestroy(options);
        geos::io::WKBWriter writer;
        dataset->StartTransaction();
        for (const auto& geometry : geometries) {
            std::ostringstream wkb;
            writer.write(*geometry, wkb);
            const auto bytes = wkb.str();
            OGRGeometry* ogr = nullptr;
            OGRGeometryFactory::createFromWkb(bytes.data(), nullptr, &ogr, bytes.size());
            OGRFeature feature(layer->GetLayerDefn());
            feature.SetGeometryDirectly(ogr);
            if (layer->CreateFeature(&feature) != OGRERR_NONE) throw std::runtime_error("cannot write " + path);
        }
        dataset->CommitTransaction();
    };
    write("queries", wkbPolygon, shapes.queries);
    write("targets", kind == TargetKind::Points ? wkbPoint : (kind == TargetKind::Lines ? wkbLineString : wkbPolygon),
          shapes.targets);
}

double PeakMemoryMiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    }
    return 0;
}

}  // namespace selvane::bench
