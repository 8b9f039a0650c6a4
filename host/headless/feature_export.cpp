#include "headless/feature_export.h"

#include <gdal_priv.h>
#include <ogrsf_frmts.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include <stdlib.h>

#include "gis/support/ascii_case.h"
#include "gis/support/gdal_session.h"
#include "gis/support/message_text.h"

namespace selvane::headless {
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

// The folder of the output being written, for an interrupted run to remove. The lock is
// held while the folder is made and named here, while its files are moved into place and
// while it is removed, so that an interruption finds it named and leaves a whole output
// or none.
// Never destroyed: a signal may come while the program's statics are being destroyed.
std::mutex& g_unfinished_lock = *new std::mutex;
fs::path& g_unfinished = *new fs::path;

// A folder beside the output, removed with whatever is in it unless kept.
class TemporaryFolder {
public:
    explicit TemporaryFolder(const fs::path& beside) {
        std::string pattern = (beside.parent_path() / ".selvane-output-XXXXXX").string();
        const std::lock_guard named(g_unfinished_lock);
        if (!mkdtemp(pattern.data())) {
            throw std::runtime_error("cannot write in the folder of " + beside.string() + ": " +
                                     std::system_category().message(errno));
        }
        m_path = pattern;
        g_unfinished = m_path;
    }
    ~TemporaryFolder() {
        const std::lock_guard named(g_unfinished_lock);
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
        g_unfinished.clear();
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

// Formats whose files are UTF-8 text by definition: other bytes would make a file that
// their readers refuse, or read as other characters.
bool HoldsOnlyUtf8(const GDALDriver& driver) {
    const std::string name = driver.GetDescription();
    for (const char* text : {"GeoJSON", "GeoJSONSeq", "KML", "LIBKML", "GML", "GPX", "GeoRSS", "JML", "MapML",
                             "FlatGeobuf", "TopoJSON", "ESRIJSON"}) {
        if (name == text) return true;
    }
    return false;
}

// Refuses text that is not UTF-8 where the format holds only UTF-8.
void RequireUtf8(const char* text, const std::string& what, const GDALDriver& driver) {
    if (!CPLIsUTF8(text, -1)) {
        throw std::runtime_error(what + " is not UTF-8 text, which a " + std::string(driver.GetDescription()) +
                                 " file cannot hold");
    }
}

// `feature` written to `to` with its id, its text checked where the format holds only UTF-8.
void WriteFeature(OGRFeature& feature, OGRLayer& to, bool utf8, const GDALDriver& driver) {
    const auto fid = feature.GetFID();
    for (int field = 0; utf8 && field < feature.GetFieldCount(); ++field) {
        const auto type = feature.GetFieldDefnRef(field)->GetType();
        if ((type == OFTString || type == OFTStringList) && feature.IsFieldSetAndNotNull(field)) {
            RequireUtf8(feature.GetFieldAsString(field),
                        "the value of " + gis::InMessage(feature.GetFieldDefnRef(field)->GetNameRef()) + " of feature " +
                            std::to_string(fid),
                        driver);
        }
    }
    OGRFeature copy(to.GetLayerDefn());
    copy.SetFrom(&feature, TRUE);
    copy.SetFID(fid);
    if (to.CreateFeature(&copy) != OGRERR_NONE) throw std::runtime_error("cannot write feature " + std::to_string(fid));
}

// How many ids a filter of a block names: a statement of some 20 KB.
constexpr std::size_t kIdsInABlock = 1000;

void Copy(OGRLayer& from, OGRLayer& to, const std::vector<std::int64_t>& fids, const gis::GdalTable& source,
          const GDALDriver& driver) {
    const bool utf8 = HoldsOnlyUtf8(driver);
    const auto missing = [&source](std::int64_t fid) {
        return std::runtime_error(source.culprit + " has no feature " + std::to_string(fid) + " any more");
    };
    if (source.id_column.empty()) {
        for (const auto fid : fids) {
            std::unique_ptr<OGRFeature> feature(from.GetFeature(fid));
            if (!feature) throw missing(fid);
            WriteFeature(*feature, to, utf8, driver);
        }
        return;
    }
    // A block of ids a statement, written in the order of the ids.
    std::string column = "\"";
    for (const char c : source.id_column) column += c == '"' ? std::string("\"\"") : std::string(1, c);
    column += "\"";
    for (std::size_t first = 0; first < fids.size(); first += kIdsInABlock) {
        const auto block = std::span(fids).subspan(first, std::min(kIdsInABlock, fids.size() - first));
        std::string filter = column + " IN (";
        for (std::size_t index = 0; index < block.size(); ++index) {
            if (index > 0) filter += ',';
            filter += std::to_string(block[index]);
        }
        filter += ")";
        if (from.SetAttributeFilter(filter.c_str()) != OGRERR_NONE) {
            throw std::runtime_error("cannot read " + source.culprit + " by its ids");
        }
        std::map<std::int64_t, std::unique_ptr<OGRFeature>> read;
        from.ResetReading();
        for (std::unique_ptr<OGRFeature> feature(from.GetNextFeature()); feature; feature.reset(from.GetNextFeature())) {
            const auto fid = feature->GetFID();
            read.emplace(fid, std::move(feature));
        }
        for (const auto fid : block) {
            const auto found = read.find(fid);
            if (found == read.end()) throw missing(fid);
            WriteFeature(*found->second, to, utf8, driver);
        }
    }
    from.SetAttributeFilter(nullptr);
}

// Holds a folder's lock while the files of an output are moved into it, so that two
// outputs to the same name are never mixed (one's .shp with the other's .dbf).
class FolderLock {
public:
    explicit FolderLock(const fs::path& folder) : m_descriptor(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (m_descriptor < 0 || ::flock(m_descriptor, LOCK_EX) != 0) {
            throw std::runtime_error("cannot lock the folder " + folder.string() + ": " +
                                     std::system_category().message(errno));
        }
    }
    ~FolderLock() {
        if (m_descriptor >= 0) ::close(m_descriptor);  // and with it the lock
    }
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

private:
    int m_descriptor;
};

// The written file read back: it must hold the features written, by count, and by id
// where the format keeps ids (others number them from 0 or 1). A format that drops or
// merges features, or a file cut short by a full disk, is caught here.
void RequireWhole(const fs::path& file, const std::vector<std::int64_t>& fids, const std::string& path) {
    gis::GdalMessages gdal;
    GDALDatasetUniquePtr written(
        GDALDataset::Open(file.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    OGRLayer* layer = written && written->GetLayerCount() > 0 ? written->GetLayer(0) : nullptr;
    if (!layer) throw std::runtime_error("nothing written to " + path + ": the file cannot be read back: " + gdal.Text());
    std::vector<std::int64_t> read;
    read.reserve(fids.size());
    layer->ResetReading();
    for (std::unique_ptr<OGRFeature> feature(layer->GetNextFeature()); feature; feature.reset(layer->GetNextFeature())) {
        read.push_back(feature->GetFID());
    }
    if (gdal.Failed()) {
        throw std::runtime_error("nothing written to " + path + ": the file cannot be read back: " + gdal.Text());
    }
    if (read.size() != fids.size()) {
        throw std::runtime_error("nothing written to " + path + ": read back, it holds " + std::to_string(read.size()) +
                                 " of the " + std::to_string(fids.size()) +
                                 " features written (the format cannot hold them all, or the disk is full)");
    }
    std::sort(read.begin(), read.end());
    std::vector<std::int64_t> written_ids(fids);
    std::sort(written_ids.begin(), written_ids.end());
    const auto numbered_from = [&read](std::int64_t first) {
        for (std::size_t index = 0; index < read.size(); ++index) {
            if (read[index] != first + static_cast<std::int64_t>(index)) return false;
        }
        return true;
    };
    if (read != written_ids && !numbered_from(0) && !numbered_from(1)) {
        throw std::runtime_error("nothing written to " + path + ": read back, it holds other features than those written");
    }
}

// Whether `target` is one of `read_files`, or a file that goes with one (a Shapefile's
// .dbf, a GeoPackage's -wal), which the map reads too.
bool ReadByTheMap(const fs::path& target, const std::vector<std::string>& read_files) {
    std::error_code error;
    if (!fs::exists(fs::symlink_status(target, error))) return false;
    for (const auto& name : read_files) {
        const fs::path read = fs::absolute(name, error);
        if (fs::equivalent(target, read, error)) return true;
        if (!fs::equivalent(target.parent_path(), read.parent_path(), error)) continue;
        // A format of several files (all of one stem), or SQLite's journals beside a file.
        const auto kind = gis::AsciiLower(read.extension().string());
        const bool several = kind == ".shp" || kind == ".dbf" || kind == ".shx" || kind == ".tab" || kind == ".mif";
        if ((several && target.stem() == read.stem()) ||
            target.filename().string().starts_with(read.filename().string() + "-")) {
            return true;
        }
    }
    return false;
}

}  // namespace

void RemoveUnfinishedOutput() noexcept {
    const std::lock_guard named(g_unfinished_lock);
    if (g_unfinished.empty()) return;
    // The writer may still be making a file in it: removed again until it is gone.
    std::error_code error;
    for (int attempt = 0; attempt < 100 && fs::exists(g_unfinished, error); ++attempt) fs::remove_all(g_unfinished, error);
    g_unfinished.clear();
}

void ExportFeatures(const gis::GdalTable& source, const std::vector<std::int64_t>& fids, const std::string& path,
                    bool overwrite, const std::vector<std::string>& read_files) {
    gis::InitialiseGdal();
    gis::GdalMessages gdal;
    const fs::path output = fs::absolute(path);
    const std::string& culprit = source.culprit;
    auto* driver = DriverFor(output);
    std::error_code error;
    if (fs::exists(fs::symlink_status(output, error)) && !overwrite) {
        throw std::runtime_error(path + " exists; --overwrite replaces it");
    }
    if (source.source.empty()) throw std::runtime_error("the layer was not read from a data source GDAL reads");
    if (ReadByTheMap(output, read_files)) {
        throw std::runtime_error(path + " is read by the map; write the selection to another file");
    }

    std::vector<const char*> open_options;
    for (const auto& option : source.open_options) open_options.push_back(option.c_str());
    open_options.push_back(nullptr);
    // The PostgreSQL driver's one way to be told of an id column that is no primary key.
    CPLSetThreadLocalConfigOption("PGSQL_OGR_FID", source.ids_without_key ? source.id_column.c_str() : nullptr);
    GDALDatasetUniquePtr input(GDALDataset::Open(source.source.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr,
                                                 open_options.data(), nullptr));
    OGRLayer* from = input ? input->GetLayerByName(source.table.c_str()) : nullptr;
    CPLSetThreadLocalConfigOption("PGSQL_OGR_FID", nullptr);
    if (!from) throw std::runtime_error("cannot read " + culprit + ": " + gdal.Text());

    TemporaryFolder folder(output);
    {
        GDALDatasetUniquePtr written(
            driver->Create((folder.Path() / output.filename()).string().c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        if (!written) throw std::runtime_error("cannot create " + path + ": " + gdal.Text());
        // A CSV file keeps the shape as well-known text in a column of its own.
        char** options = nullptr;
        if (std::string(driver->GetDescription()) == "CSV") options = CSLSetNameValue(options, "GEOMETRY", "AS_WKT");
        try {
            if (HoldsOnlyUtf8(*driver)) {
                RequireUtf8(from->GetName(), "the layer's name", *driver);
                for (int field = 0; field < from->GetLayerDefn()->GetFieldCount(); ++field) {
                    RequireUtf8(from->GetLayerDefn()->GetFieldDefn(field)->GetNameRef(), "a field's name", *driver);
                }
            }
        } catch (const std::runtime_error& failure) {
            throw std::runtime_error("nothing written to " + path + ": " + failure.what());
        }
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
            Copy(*from, *to, fids, source, *driver);
        } catch (const std::runtime_error& failure) {
            const auto words = gdal.Text("");
            throw std::runtime_error("nothing written to " + path + ": " + failure.what() +
                                     (words.empty() ? "" : " (" + words + ")"));
        }
        if (transaction && written->CommitTransaction() != OGRERR_NONE) {
            throw std::runtime_error("cannot write " + path + ": " + gdal.Text());
        }
        // Closes the file: formats write their headers and sizes now. Not every format
        // reports a failed write, which the reading back below catches.
        written.reset();
        if (gdal.Failed()) throw std::runtime_error("cannot write " + path + ": " + gdal.Text());
    }
    RequireWhole(folder.Path() / output.filename(), fids, path);
    // Complete: into place, each file the format made (a Shapefile makes several), all
    // under the folder's lock.
    const auto made = FilesMade(folder.Path());
    FolderLock lock(output.parent_path());
    for (const auto& name : made) {
        const auto target = output.parent_path() / name;
        if (ReadByTheMap(target, read_files)) {
            throw std::runtime_error(target.string() + " is read by the map; write the selection to another file");
        }
        if (fs::exists(fs::symlink_status(target, error)) && !overwrite) {
            throw std::runtime_error(target.string() + " exists; --overwrite replaces it");
        }
    }
    // An interruption waits for all of them to be moved, or removes them all.
    const std::lock_guard moving(g_unfinished_lock);
    for (const auto& name : made) {
        fs::rename(folder.Path() / name, output.parent_path() / name, error);
        if (error) throw std::runtime_error("cannot move " + name.string() + " into place: " + error.message());
    }
}

}  // namespace selvane::headless
