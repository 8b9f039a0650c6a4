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
#include <geos/geom/prep/PreparedGeometry.h>
#include <geos/geom/prep/PreparedGeometryFactory.h>
#include <geos/index/strtree/TemplateSTRtree.h>
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

// A district of about `cells` grid cells whose boundary follows the cells' edges, as
// parcels of a district would: columns of cells whose top and bottom wander from column to
// column, so that the outline is a long irregular staircase. Every cell corner on it is a
// vertex (a few thousand), and neighbouring columns always share cells, so the polygon is
// simple. `shift` moves it off the grid by that fraction of a cell.
std::unique_ptr<geos::geom::Geometry> District(std::mt19937_64& random, std::size_t per_side, double side,
                                               std::size_t cells, double shift) {
    const auto width = static_cast<long>(std::sqrt(static_cast<double>(cells)));
    const long half = width / 2, least = std::max<long>(2, width / 5), most = std::max<long>(least + 1, width * 4 / 5);
    std::uniform_int_distribution<long> step(-std::max<long>(1, width / 6), std::max<long>(1, width / 6));
    const auto clamp = [&](long value) { return std::clamp(value, least, most); };
    std::vector<long> top(static_cast<std::size_t>(width)), bottom(top.size());
    top[0] = bottom[0] = half;
    for (std::size_t i = 1; i < top.size(); ++i) {
        top[i] = clamp(top[i - 1] + step(random));
        bottom[i] = clamp(bottom[i - 1] + step(random));
    }
    std::uniform_int_distribution<long> origin_x(0, static_cast<long>(per_side) - width - 1);
    std::uniform_int_distribution<long> origin_y(most, static_cast<long>(per_side) - most - 1);
    const long x0 = origin_x(random), y0 = origin_y(random);
    std::vector<geos::geom::Coordinate> ring;
    const auto corner = [&](long x, long y) {
        ring.emplace_back((static_cast<double>(x0 + x) + shift) * side, (static_cast<double>(y0 + y) + shift) * side);
    };
    const auto walk = [&](long x, long from, long to) {  // every corner along one vertical edge
        for (long y = from; y != to; y += (to > from ? 1 : -1)) corner(x, y);
    };
    // Along the bottom from left to right, then the top from right to left.
    walk(0, top[0], -bottom[0]);
    for (long x = 0; x < width; ++x) {
        const long next = x + 1 < width ? -bottom[static_cast<std::size_t>(x + 1)] : top.back();
        corner(x, -bottom[static_cast<std::size_t>(x)]);
        walk(x + 1, -bottom[static_cast<std::size_t>(x)], next);
    }
    for (long x = width; x > 0; --x) {
        const long next = x - 1 > 0 ? top[static_cast<std::size_t>(x - 2)] : top[0];
        corner(x, top[static_cast<std::size_t>(x - 1)]);
        walk(x - 1, top[static_cast<std::size_t>(x - 1)], next);
    }
    return Polygon(ring);
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
    const auto per_side = static_cast<std::size_t>(std::ceil(std::sqrt(static_cast<double>(target_count))));
    const double side = kExtent / static_cast<double>(per_side);
    const bool cells = kind == TargetKind::Cells || kind == TargetKind::ShiftedCells;
    if (per_query >= kDistrictTargets) {
        const double shift = kind == TargetKind::ShiftedCells ? 0.5 : 0.0;
        for (std::size_t i = 0; i < query_count; ++i) {
            shapes.queries.push_back(District(random, per_side, side, per_query, shift));
        }
    }
    if (cells) {
        for (std::size_t i = 0; i < target_count; ++i) {
            shapes.targets.push_back(Square(static_cast<double>(i % per_side) * side,
                                            static_cast<double>(i / per_side) * side, side));
        }
        if (!shapes.queries.empty()) return shapes;
        // Two cells by two by default: touches twelve cells around, covers four.
        const auto cells = std::max<std::size_t>(2, static_cast<std::size_t>(std::sqrt(per_query / 2.5)));
        std::uniform_int_distribution<std::size_t> cell(0, per_side - cells - 2);
        for (std::size_t i = 0; i < query_count; ++i) {
            shapes.queries.push_back(Square(static_cast<double>(cell(random)) * side,
                                            static_cast<double>(cell(random)) * side, static_cast<double>(cells) * side));
        }
        return shapes;
    }
    // A query octagon of this radius holds about `per_query` targets; lines are as long as
    // the radius of an ordinary query's.
    const double radius = std::sqrt(static_cast<double>(per_query) / (target_density * M_PI));
    if (shapes.queries.empty()) {
        for (std::size_t i = 0; i < query_count; ++i) shapes.queries.push_back(Octagon(position(random), position(random), radius));
    }
    const double line_length = std::sqrt(10.0 / (target_density * M_PI));
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

std::vector<std::size_t> BareGeosHits(const std::vector<std::unique_ptr<geos::geom::Geometry>>& queries,
                                      const std::vector<std::unique_ptr<geos::geom::Geometry>>& targets,
                                      const std::string& relation) {
    geos::index::strtree::TemplateSTRtree<std::size_t> tree(10, targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) tree.insert(*targets[i]->getEnvelopeInternal(), i);
    std::vector<std::size_t> hits;
    for (const auto& query : queries) {
        const auto prepared = geos::geom::prep::PreparedGeometryFactory::prepare(query.get());
        tree.query(*query->getEnvelopeInternal(), [&](std::size_t row) {
            const auto* target = targets[row].get();
            const bool holds = relation == "crosses"    ? prepared->crosses(target)
                               : relation == "touches"  ? prepared->touches(target)
                               : relation == "overlaps" ? prepared->overlaps(target)
                                                        : prepared->intersects(target);
            if (holds) hits.push_back(row);
        });
    }
    return hits;
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
