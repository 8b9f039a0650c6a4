#include "gis/map_document.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "gis/data_sources.h"
#include "gis/files/file_source.h"
#include "gis/support/ascii_case.h"
#include "gis/support/gdal_session.h"
#include "gis/support/message_text.h"

namespace selvane::gis {
namespace {

using nlohmann::json;

/// How deep groups may be nested in a map document.
constexpr std::size_t kMaxGroupDepth = 100;

// Opens each source once, so that two layers on the same table share one feature class.
class SourceCache {
public:
    explicit SourceCache(std::shared_ptr<EngineTuning> tuning) : m_tuning(std::move(tuning)) {}

    DataSource& Source(const DataSourceKind& kind, const std::string& source) {
        auto& opened = m_sources[source];
        if (!opened) opened = kind.open(source, m_tuning);
        return *opened;
    }

private:
    std::shared_ptr<EngineTuning> m_tuning;
    std::map<std::string, std::unique_ptr<DataSource>> m_sources;
};

// A fault of the document itself, already named with the document and the position.
class DocumentFault : public platform::Error {
public:
    using platform::Error::Error;
};

// Reads the layer tree without recursion, so that no nesting can exhaust the stack: a
// stack of open groups, each with its list, the next entry and the members made so far.
// Where an entry stands is written out only for a message, from that stack, so that the
// text grows with the depth instead of being copied into every level.
class DocumentReader {
public:
    DocumentReader(std::string document_path, std::filesystem::path folder, std::shared_ptr<EngineTuning> tuning)
        : m_document_path(std::move(document_path)), m_folder(std::move(folder)), m_cache(std::move(tuning)) {}

    std::vector<std::shared_ptr<platform::ILayer>> Read(const json& layers) {
        if (!layers.is_array()) Fail("map: \"layers\" must be a list");
        m_open.push_back({&layers, 0, {}, {}});
        while (true) {
            auto& group = m_open.back();
            if (group.next == group.list->size()) {
                if (m_open.size() == 1) return std::move(group.members);
                auto finished = std::make_shared<GroupLayer>(group.name, std::move(group.members));
                m_open.pop_back();
                m_open.back().members.push_back(std::move(finished));
                continue;
            }
            const json& entry = (*group.list)[group.next++];
            if (auto layer = Layer(entry)) m_open.back().members.push_back(std::move(layer));
        }
    }

private:
    struct OpenGroup {
        const json* list;
        std::size_t next;
        std::string name;
        std::vector<std::shared_ptr<platform::ILayer>> members;
    };

    [[noreturn]] void Fail(const std::string& what) const {
        throw DocumentFault(platform::kFail, m_document_path + ": " + what);
    }
    [[noreturn]] void FailHere(const std::string& what, const std::string& name = {}) const {
        Fail(Where(name) + ": " + what);
    }

    // "map layer 3 (Base) layer 1 (Old)": the entry being read, with its ancestors; the
    // middle of a very deep path is left out.
    std::string Where(const std::string& name) const {
        std::string text = "map";
        const std::size_t depth = m_open.size();
        for (std::size_t level = 0; level < depth; ++level) {
            if (depth > 8 && level == 3) {
                text += " ... (" + std::to_string(depth - 6) + " levels)";
                level = depth - 4;
                continue;
            }
            text += " layer " + std::to_string(m_open[level].next);
            const std::string& label = level + 1 < depth ? m_open[level + 1].name : name;
            if (!label.empty()) text += " (" + InMessage(label, 100) + ")";
        }
        return text;
    }

    std::string Text(const json& entry, const char* key, const std::string& name, bool required = true) const {
        const auto found = entry.find(key);
        if (found == entry.end()) {
            if (required) FailHere(std::string("missing \"") + key + "\"", name);
            return {};
        }
        if (!found->is_string()) FailHere(std::string("\"") + key + "\" must be a text", name);
        return found->get<std::string>();
    }

    // "parts": "coordinator" (one empty text), a list of sources, or nothing.
    std::vector<std::string> Parts(const json& entry, const std::string& name) const {
        const auto found = entry.find("parts");
        if (found == entry.end()) return {};
        if (found->is_string() && *found == "coordinator") return {std::string()};
        std::vector<std::string> sources;
        if (found->is_array()) {
            for (const auto& part : *found) {
                if (!part.is_string() || part.get<std::string>().empty()) break;
                sources.push_back(part.get<std::string>());
            }
        }
        if (sources.empty() || sources.size() != found->size()) {
            FailHere("\"parts\" is \"coordinator\" or a list of the sources that hold the table's parts", name);
        }
        return sources;
    }

    std::string SourcePath(const std::string& source) const {
        const std::filesystem::path path(source);
        return (path.is_absolute() ? path : m_folder / path).lexically_normal().string();
    }

    // The layer of one entry; nullptr for a group, which is opened instead and made when
    // its list ends.
    std::shared_ptr<platform::ILayer> Layer(const json& entry) {
        if (!entry.is_object()) FailHere("a layer must be an object");
        const auto kind = Text(entry, "type", {});
        const auto name = Text(entry, "name", {});
        try {
            if (kind == "feature") {
                auto parts = Parts(entry, name);
                const bool through_source = parts.size() == 1 && parts.front().empty();
                if (through_source) parts.clear();
                // Rows spread without a coordinator need no source of their own: the first part's.
                auto named = Text(entry, "source", name, parts.empty());
                if (named.empty()) named = parts.front();
                LayerEntry asked{name, Text(entry, "table", name), Text(entry, "definition_query", name, false),
                                 Text(entry, "id_column", name, false), through_source, std::move(parts)};
                const auto& source_kind = KindOfSource(named);
                for (const auto& part : asked.part_sources) {
                    if (&KindOfSource(part) != &source_kind) FailHere("a part is not of the source's kind", name);
                }
                auto& source = m_cache.Source(source_kind, source_kind.path ? SourcePath(named) : named);
                return source.Layer(asked);
            }
            if (kind == "raster") {
                const auto source = SourcePath(Text(entry, "source", name));
                RequireRasterSource(source);
                return std::make_shared<RasterLayer>(name, source);
            }
        } catch (const DocumentFault&) {
            throw;
        } catch (const platform::Error& error) {
            FailHere(error.what(), name);
        }
        if (kind != "group") FailHere("unknown layer type \"" + kind + "\" (feature, raster or group)", name);
        if (m_open.size() >= kMaxGroupDepth) {
            FailHere("groups are nested more than " + std::to_string(kMaxGroupDepth) + " levels deep", name);
        }
        const auto members = entry.find("layers");
        static const json kNoMembers = json::array();
        if (members != entry.end() && !members->is_array()) FailHere("\"layers\" must be a list", name);
        m_open.push_back({members == entry.end() ? &kNoMembers : &*members, 0, name, {}});
        return nullptr;
    }

    std::string m_document_path;
    std::filesystem::path m_folder;
    SourceCache m_cache;
    std::vector<OpenGroup> m_open;
};

std::string ReadWholeFile(const std::string& path) {
    RequireLocalSource(path);
    if (std::filesystem::is_directory(path)) throw platform::Error(platform::kFail, path + ": a folder, not a map document");
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

// The parser's complaint in plain words, and where the bad token starts: the parser
// reports the character after a bad literal or number, and the end of an open string.
platform::Error MalformedJson(const std::string& path, const std::string& text, const json::parse_error& error) {
    std::string reason = error.what();
    const auto dash = reason.find(" - ");
    reason = dash == std::string::npos ? "not valid JSON" : reason.substr(dash + 3);
    const auto last_read = reason.find("; last read");
    if (last_read != std::string::npos) reason.erase(last_read);
    std::size_t offset = error.byte > 0 ? error.byte - 1 : 0;
    offset = std::min(offset, text.size());
    if (reason.find("invalid literal") != std::string::npos || reason.find("invalid number") != std::string::npos) {
        while (offset > 0 && (std::isalnum(static_cast<unsigned char>(text[offset - 1])) || text[offset - 1] == '-' ||
                              text[offset - 1] == '+' || text[offset - 1] == '.')) {
            --offset;
        }
    } else if (reason.find("invalid string") != std::string::npos) {
        const auto quote = text.rfind('"', offset > 0 ? offset - 1 : 0);
        if (quote != std::string::npos) offset = quote;
    }
    const auto [line, column] = LineAndColumn(text, offset);
    return platform::Error(platform::kFail, path + ": malformed JSON at line " + std::to_string(line) + ", column " +
                                                std::to_string(column) + ": " + reason);
}

bool EndsWithJson(const std::string& path) {
    return AsciiLower(std::filesystem::path(path).extension().string()) == ".json";
}

json ParseDocument(const std::string& path, const std::string& text) {
    try {
        return json::parse(text);
    } catch (const json::parse_error& error) {
        throw MalformedJson(path, text, error);
    } catch (const json::exception& error) {
        // A number too large for a double, for one: the parser names the number but not
        // where it stands, so it is found in the text.
        std::string reason = error.what();
        const auto bracket = reason.find("] ");
        if (bracket != std::string::npos) reason.erase(0, bracket + 2);
        const auto open = reason.find(" '");
        const auto close = reason.rfind('\'');
        if (open != std::string::npos && close > open + 2) {
            const auto number = reason.substr(open + 2, close - open - 2);
            const auto part_of_number = [](char c) {
                return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '+';
            };
            for (auto at = text.find(number); at != std::string::npos; at = text.find(number, at + 1)) {
                const bool starts = at == 0 || !part_of_number(text[at - 1]);
                const bool ends = at + number.size() == text.size() || !part_of_number(text[at + number.size()]);
                if (!starts || !ends) continue;
                const auto [line, column] = LineAndColumn(text, at);
                throw platform::Error(platform::kFail, path + ": malformed JSON at line " + std::to_string(line) +
                                                           ", column " + std::to_string(column) + ": " +
                                                           InMessage(reason));
            }
        }
        throw platform::Error(platform::kFail, path + ": malformed JSON: " + InMessage(reason));
    }
}

std::shared_ptr<MxDocument> DocumentFromJson(const std::string& path, const json& document,
                                             std::shared_ptr<EngineTuning> tuning) {
    DocumentReader reader(path, std::filesystem::path(path).parent_path(), std::move(tuning));
    if (!document.is_object() || !document.contains("layers")) {
        throw platform::Error(platform::kFail, path + ": document: missing \"layers\"");
    }
    auto map = std::make_shared<Map>(reader.Read(document["layers"]));
    return std::make_shared<MxDocument>(std::move(map), path);
}

// GeoJSON is data even when its file ends in .json: a FeatureCollection, a Feature or a
// bare geometry.
bool IsGeoJson(const json& document) {
    if (!document.is_object() || document.contains("layers")) return false;
    const auto type = document.find("type");
    return type != document.end() && type->is_string();
}

}  // namespace

std::shared_ptr<MxDocument> LoadMapDocument(const std::string& path, std::shared_ptr<EngineTuning> tuning) {
    return LoadMapDocumentText(path, ReadWholeFile(path), std::move(tuning));
}

std::shared_ptr<MxDocument> LoadMapDocumentText(const std::string& path, const std::string& text,
                                                std::shared_ptr<EngineTuning> tuning) {
    return DocumentFromJson(path, ParseDocument(path, text), std::move(tuning));
}

std::shared_ptr<MxDocument> LoadDataFiles(const std::vector<std::string>& paths, std::shared_ptr<EngineTuning> tuning) {
    auto map = std::make_shared<Map>();
    for (const auto& path : paths) {
        for (auto& layer : KindOfSource(path).open(path, tuning)->AllLayers()) map->AddLayer(std::move(layer));
    }
    return std::make_shared<MxDocument>(std::move(map), paths.empty() ? std::string() : paths.front());
}

std::shared_ptr<MxDocument> LoadMap(const std::vector<std::string>& paths, std::shared_ptr<EngineTuning> tuning) {
    // A .json file is a map document or GeoJSON by what it holds; a folder is data.
    std::vector<bool> documents;
    for (const auto& path : paths) {
        bool document = false;
        if (EndsWithJson(path)) {
            RequireLocalSource(path);
            if (!std::filesystem::is_directory(path)) {
                const auto text = ReadWholeFile(path);
                const auto parsed = ParseDocument(path, text);
                document = !IsGeoJson(parsed);
                if (document && paths.size() == 1) return DocumentFromJson(path, parsed, tuning);
            }
        }
        documents.push_back(document);
    }
    for (std::size_t index = 0; index < paths.size(); ++index) {
        if (documents[index]) {
            throw platform::Error(platform::kFail, paths[index] + ": a map document must be the only --map");
        }
    }
    return LoadDataFiles(paths, tuning);
}

std::string SampleMapPath(const std::string& build_tree_sample) {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error) {
        const auto installed = program.parent_path().parent_path() / "share" / "selvane" / "sample" / "town.json";
        if (std::filesystem::is_regular_file(installed, error)) return installed.string();
    }
    return build_tree_sample;
}

}  // namespace selvane::gis
