#include "gis/map_document.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "gis/ogr_source.h"

namespace selvane::gis {
namespace {

using nlohmann::json;

// Opens each data file once and loads each table once, so that two layers on the same
// table share one feature class (each keeps its own selection).
class SourceCache {
public:
    VectorSource& Source(const std::string& path) {
        auto& source = m_sources[path];
        if (!source) source = std::make_unique<VectorSource>(path);
        return *source;
    }
    std::shared_ptr<FeatureClass> Table(const std::string& path, const std::string& table) {
        auto& loaded = m_tables[{path, table}];
        if (!loaded) loaded = Source(path).LoadTable(table);
        return loaded;
    }

private:
    std::map<std::string, std::unique_ptr<VectorSource>> m_sources;
    std::map<std::pair<std::string, std::string>, std::shared_ptr<FeatureClass>> m_tables;
};

struct DocumentReader {
    std::string document_path;
    std::filesystem::path folder;
    SourceCache cache;

    [[noreturn]] void Fail(const std::string& where, const std::string& what) const {
        throw platform::Error(platform::kFail, document_path + ": " + where + ": " + what);
    }

    std::string Text(const json& entry, const char* key, const std::string& where, bool required = true) const {
        const auto found = entry.find(key);
        if (found == entry.end()) {
            if (required) Fail(where, std::string("missing \"") + key + "\"");
            return {};
        }
        if (!found->is_string()) Fail(where, std::string("\"") + key + "\" must be a text");
        return found->get<std::string>();
    }

    std::string SourcePath(const std::string& source) const {
        const std::filesystem::path path(source);
        return (path.is_absolute() ? path : folder / path).lexically_normal().string();
    }

    std::shared_ptr<platform::ILayer> Layer(const json& entry, const std::string& where) {
        if (!entry.is_object()) Fail(where, "a layer must be an object");
        const auto kind = Text(entry, "type", where);
        const auto name = Text(entry, "name", where);
        const auto named = where + " (" + name + ")";
        try {
            if (kind == "feature") {
                const auto source = SourcePath(Text(entry, "source", named));
                const auto table = Text(entry, "table", named);
                const auto query = Text(entry, "definition_query", named, false);
                auto feature_class = cache.Table(source, table);
                RowMask shown;
                if (!query.empty()) shown = cache.Source(source).DefinitionQueryRows(table, query, *feature_class);
                return std::make_shared<FeatureLayer>(name, std::move(feature_class), std::move(shown), query);
            }
            if (kind == "raster") {
                const auto source = SourcePath(Text(entry, "source", named));
                RequireRasterSource(source);
                return std::make_shared<RasterLayer>(name, source);
            }
            if (kind == "group") {
                const auto found = entry.find("layers");
                std::vector<std::shared_ptr<platform::ILayer>> members;
                if (found != entry.end()) members = Layers(*found, named);
                return std::make_shared<GroupLayer>(name, std::move(members));
            }
        } catch (const platform::Error& error) {
            if (std::string(error.what()).rfind(document_path, 0) == 0) throw;
            Fail(named, error.what());
        }
        Fail(named, "unknown layer type \"" + kind + "\" (feature, raster or group)");
    }

    std::vector<std::shared_ptr<platform::ILayer>> Layers(const json& list, const std::string& where) {
        if (!list.is_array()) Fail(where, "\"layers\" must be a list");
        std::vector<std::shared_ptr<platform::ILayer>> layers;
        for (std::size_t index = 0; index < list.size(); ++index) {
            layers.push_back(Layer(list[index], where + " layer " + std::to_string(index + 1)));
        }
        return layers;
    }
};

std::string ReadWholeFile(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::exists(path, error)) throw platform::Error(platform::kFail, path + ": no such file");
    std::ifstream file(path, std::ios::binary);
    if (!file) throw platform::Error(platform::kFail, path + ": the file cannot be read");
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The line and column (from 1) of a byte offset, for parse errors.
std::pair<std::size_t, std::size_t> LineAndColumn(const std::string& text, std::size_t offset) {
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < offset && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return {line, column};
}

bool EndsWithJson(const std::string& path) {
    auto extension = std::filesystem::path(path).extension().string();
    for (auto& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension == ".json";
}

}  // namespace

std::shared_ptr<MxDocument> LoadMapDocument(const std::string& path) {
    const auto text = ReadWholeFile(path);
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error& error) {
        // nlohmann reports the byte just after the fault; point at the fault itself.
        const auto [line, column] = LineAndColumn(text, error.byte > 0 ? error.byte - 1 : 0);
        throw platform::Error(platform::kFail, path + ": malformed JSON at line " + std::to_string(line) + ", column " +
                                                   std::to_string(column));
    }
    DocumentReader reader{path, std::filesystem::path(path).parent_path(), {}};
    if (!document.is_object() || !document.contains("layers")) reader.Fail("document", "missing \"layers\"");
    auto map = std::make_shared<Map>(reader.Layers(document["layers"], "map"));
    return std::make_shared<MxDocument>(std::move(map), path);
}

std::shared_ptr<MxDocument> LoadDataFiles(const std::vector<std::string>& paths) {
    auto map = std::make_shared<Map>();
    for (const auto& path : paths) {
        VectorSource source(path);
        for (const auto& table : source.FeatureTables()) {
            map->AddLayer(std::make_shared<FeatureLayer>(table, source.LoadTable(table)));
        }
    }
    return std::make_shared<MxDocument>(std::move(map), paths.empty() ? std::string() : paths.front());
}

std::shared_ptr<MxDocument> LoadMap(const std::vector<std::string>& paths) {
    if (paths.size() == 1 && EndsWithJson(paths.front())) return LoadMapDocument(paths.front());
    for (const auto& path : paths) {
        if (EndsWithJson(path)) throw platform::Error(platform::kFail, path + ": a map document must be the only --map");
    }
    return LoadDataFiles(paths);
}

}  // namespace selvane::gis
