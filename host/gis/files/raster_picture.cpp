#include "gis/files/raster_picture.h"

#include <gdal_priv.h>

#include <algorithm>

#include "gis/support/gdal_session.h"

namespace selvane::gis {

RasterPicture ReadRasterPicture(const std::string& source, int longest_side) {
    RasterPicture picture;
    InitialiseGdal();
    GdalMessages quiet;
    GDALDatasetUniquePtr dataset(GDALDataset::Open(source.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!dataset || dataset->GetRasterCount() < 1) return picture;  // nothing to draw
    const int columns = dataset->GetRasterXSize();
    const int rows = dataset->GetRasterYSize();
    const double shrink = std::max(1.0, std::max(columns, rows) / static_cast<double>(longest_side));
    const int width = std::max(1, static_cast<int>(columns / shrink));
    const int height = std::max(1, static_cast<int>(rows / shrink));
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height, 0xFF000000u);
    const int bands = dataset->GetRasterCount() >= 3 ? 3 : 1;
    std::vector<std::uint8_t> values(pixels.size());
    for (int band = 0; band < bands; ++band) {
        if (dataset->GetRasterBand(band + 1)->RasterIO(GF_Read, 0, 0, columns, rows, values.data(), width, height,
                                                       GDT_Byte, 0, 0) != CE_None) {
            return picture;
        }
        // The first band sets grey; the second and third then give green and blue.
        for (std::size_t index = 0; index < pixels.size(); ++index) {
            const std::uint32_t value = values[index];
            auto& pixel = pixels[index];
            if (band == 0) pixel = 0xFF000000u | (value << 16) | (value << 8) | value;
            if (band == 1) pixel = (pixel & 0xFFFF00FFu) | (value << 8);
            if (band == 2) pixel = (pixel & 0xFFFFFF00u) | value;
        }
    }
    double transform[6] = {0, 1, 0, 0, 0, -1};
    if (dataset->GetGeoTransform(transform) != CE_None) {
        transform[3] = rows;  // an image without georeference stands at the origin
    }
    const double left = transform[0];
    const double top = transform[3];
    const double right = left + columns * transform[1];
    const double bottom = top + rows * transform[5];
    picture.width = width;
    picture.height = height;
    picture.pixels = std::move(pixels);
    picture.min_x = std::min(left, right);
    picture.max_x = std::max(left, right);
    picture.min_y = std::min(top, bottom);
    picture.max_y = std::max(top, bottom);
    return picture;
}

}  // namespace selvane::gis
