#pragma once

// A raster layer's picture, read with GDAL for drawing: the first band as grey, or the first
// three as red, green and blue, shrunk to a size a screen can show.

#include <cstdint>
#include <string>
#include <vector>

namespace selvane::gis {

struct RasterPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> pixels;  ///< 0xFFRRGGBB, row by row from the top
    /// Where the picture lies in the raster's coordinates (an image without georeference
    /// stands at the origin, a unit a cell).
    double min_x = 0, min_y = 0, max_x = 0, max_y = 0;

    bool Empty() const { return pixels.empty(); }
};

/// Reads the raster at `source`, shrunk so that its longer side has at most
/// `longest_side` pixels. An empty picture when it cannot be read.
RasterPicture ReadRasterPicture(const std::string& source, int longest_side);

}  // namespace selvane::gis
