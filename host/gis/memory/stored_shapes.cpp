#include "gis/memory/stored_shapes.h"

#include <limits>
#include <sstream>
#include <stdexcept>

#include "gis/geometry/shape.h"
#include "gis/wkb/wkb_shapes.h"

namespace selvane::gis {

void StoredShapes::Add(const unsigned char* wkb, std::size_t size) {
    if (size > std::numeric_limits<std::uint32_t>::max()) throw std::length_error("a shape of over 4 GB");
    m_at.push_back(m_blocks.Copy(wkb, size));
    m_sizes.push_back(static_cast<std::uint32_t>(size));
}

void StoredShapes::Add(const geos::geom::Geometry& shape) {
    // Z kept where the shape has it, as the reader gave it.
    geos::io::WKBWriter writer(3, geos::io::WKBConstants::wkbNDR);
    std::ostringstream bytes;
    writer.write(shape, bytes);
    const std::string wkb = bytes.str();
    Add(reinterpret_cast<const unsigned char*>(wkb.data()), wkb.size());
}

void StoredShapes::Append(StoredShapes&& more) {
    // The bytes stay in their blocks: only the blocks change hands.
    m_blocks.Adopt(std::move(more.m_blocks));
    m_at.insert(m_at.end(), more.m_at.begin(), more.m_at.end());
    m_sizes.insert(m_sizes.end(), more.m_sizes.begin(), more.m_sizes.end());
    more.m_at.clear();
    more.m_sizes.clear();
}

std::unique_ptr<geos::geom::Geometry> StoredShapes::Make(std::size_t row) const {
    if (!m_at[row]) return nullptr;
    if (auto shape = ShapeOfPlainWkb(m_at[row], m_sizes[row], Shape::Factory())) return shape;
    geos::io::WKBReader reader(Shape::Factory());
    return reader.read(m_at[row], m_sizes[row]);
}

}  // namespace selvane::gis
