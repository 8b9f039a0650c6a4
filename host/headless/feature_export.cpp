#include "headless/feature_export.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <stdlib.h>

#include "gis/common/ascii_case.h"
#include "gis/common/gdal_session.h"
#include "gis/memory/feature_class.h"

namespace selvane::apps {
namespace {

namespace fs = std::filesystem;

// The first vector driver that can create files with this extension, as ogr2ogr chooses.
GDALDriver* DriverFor(const fs::path& path) {
    std::string extension = path.extension().string();
    if (!extension.empty()) extension.erase(0, 1);
    auto& drivers = *GetGDALDriverManager();
    for (int index = 0; !extension.empty() && index < drivers.GetDriverCount(); ++index) {
        auto* driver = drivers.GetDriver(index);
        if (!driver->GetMetadataItem(GDAL_DCAP_VECTOR) || !driver->GetMetadataItem(GDAL_DCAP_CREATE)) continue;
        const char* listed = driver->GetMetadataItem(GDAL_DMD_EXTENSIONS);
        if (!listed) listed = driver->GetMetadataItem(GDAL_DMD_EXTENSION);
        std::istringstream words(listed ? listed : "");
        for (std::string word; words >> word;) {
            if (gis::AsciiEqualIgnoringCase(word, extension)) return driver;
        }
    }
    throw std::runtime_error("cannot tell a format from the name " + path.string() +
                             ": end it with the extension of a format GDAL writes (.gpkg, .shp, .geojson, .fgb, "
                             ".csv, ...)");
}

// A folder beside the output, removed with whatever is in it unless kept.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const fs::path& beside) {
        std::string pattern = (beside.parent_path() / ".selvane-output-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot write in the folder of " + beside.string() + ": " +
                                     std::system_category().message(errno));
        }
        m_path = pattern;
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const fs::path& Path() const { return m_path; }

private:
    fs::path m_path;
};

// The names of the files a format made in `folder` (a Shapefile's .shp, .shx, .dbf, .prj).
std::vector<fs::path> FilesMade(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder)) files.push_back(entry.path().filename());
    return files;
}

void Copy(OGRLayer& from, OGRLayer& to, const std::vector<std::int64_t>& fids, const std::string& culprit) {
    for (const auto fid : fids) {
        std::unique_ptr<OGRFeature> feature(from.GetFeature(fid));
        if (!feature) throw std::runtime_error(culprit + " has no feature " + std::to_string(fid) + " any more");
        OGRFeature copy(to.GetLayerDefn());
        copy.SetFrom(feature.get(), TRUE);
        copy.SetFID(fid);
        if (to.CreateFeature(&copy) != OGRERR_NONE) {
            throw std::runtime_error("cannot write feature " + std::to_string(fid));
        }
    }
}

}  // namespace

void ExportFeatures(const gis::MemoryFeatureClass& source, const std::vector<std::int64_t>& fids,
                    const std::string& path, bool overwrite) {
    gis::InitialiseGdal();
    gis::GdalMessages gdal;
    const fs::path output = fs::absolute(path);
    const std::string culprit = "table " + source.Name() + " of " + source.SourcePath();
    auto* driver = DriverFor(output);
    std::error_code error;
    if (fs::exists(fs::symlink_status(output, error)) && !overwrite) {
        throw std::runtime_error(path + " exists; --overwrite replaces it");
    }
    if (source.SourcePath().empty()) throw std::runtime_error("the layer was not read from a data file");

    GDALDatasetUniquePtr input(
        GDALDataset::Open(source.SourcePath().c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    OGRLayer* from = input ? input->GetLayerByName(source.Name().c_str()) : nullptr;
    if (!from) throw std::runtime_error("cannot read " + culprit + ": " + gdal.Text());

    TemporaryFolder folder(output);
    {
        GDALDatasetUniquePtr written(
            driver->Create((folder.Path() / output.filename()).string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        if (!written) throw std::runtime_error("cannot create " + path + ": " + gdal.Text());
        // A CSV file keeps the shape as well-known text in a column of its own.
        char** options = nullptr;
        if (std::string(driver->GetDescription()) == "CSV") options = CSLSetNameValue(options, "GEOMETRY", "AS_WKT");
        OGRLayer* to = written->CreateLayer(from->GetName(), from->GetSpatialRef(), from->GetGeomType(), options);
        CSLDestroy(options);
        if (!to) throw std::runtime_error("cannot create a layer in " + path + ": " + gdal.Text());
        auto* fields = from->GetLayerDefn();
        for (int field = 0; field < fields->GetFieldCount(); ++field) {
            if (to->CreateField(fields->GetFieldDefn(field)) != OGRERR_NONE) {
                throw std::runtime_error("cannot write the field " + std::string(fields->GetFieldDefn(field)->GetNameRef()) +
                                         " to " + path + ": " + gdal.Text());
            }
        }
        const bool transaction = written->StartTransaction() == OGRERR_NONE;
        try {
            Copy(*from, *to, fids, culprit);
        } catch (const std::runtime_error& failure) {
            throw std::runtime_error(std::string(failure.what()) + " to " + path + ": " + gdal.Text());
        }
        if (transaction && written->CommitTransaction() != OGRERR_NONE) {
            throw std::runtime_error("cannot write " + path + ": " + gdal.Text());
        }
        written.reset();  // closes the file: formats write their headers and sizes now
        if (gdal.Failed()) throw std::runtime_error("cannot write " + path + ": " + gdal.Text());
    }
    // Complete: into place, each file the format made (a Shapefile makes several).
    const auto made = FilesMade(folder.Path());
    for (const auto& name : made) {
        const auto target = output.parent_path() / name;
        if (fs::exists(fs::symlink_status(target, error)) && !overwrite) {
            throw std::runtime_error(target.string() + " exists; --overwrite replaces it");
        }
    }
    for (const auto& name : made) {
        fs::rename(folder.Path() / name, output.parent_path() / name, error);
        if (error) throw std::runtime_error("cannot move " + name.string() + " into place: " + error.message());
    }
}

}  // namespace selvane::apps
