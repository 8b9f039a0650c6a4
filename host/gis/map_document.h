#pragma once

#include <memory>
#include <string>
#include <vector>

#include "gis/common/engine_tuning.h"
#include "gis/model/map.h"

namespace selvane::gis {

/// Loads a JSON map document: layers in order, each a feature layer (source, table,
/// name, optional definition_query), a raster layer (source, name) or a group layer
/// (name, layers). Sources are relative to the document's folder. Throws platform::Error
/// naming the file on any fault; nothing is half-loaded. Every source opened follows
/// `tuning` (the loaders below too).
std::shared_ptr<MxDocument> LoadMapDocument(const std::string& path,
                                            std::shared_ptr<EngineTuning> tuning = DefaultTuning());

/// LoadMapDocument for a document already read: `text` as if it were the file at `path`
/// (whose folder the sources are relative to, and which messages name).
std::shared_ptr<MxDocument> LoadMapDocumentText(const std::string& path, const std::string& text,
                                                std::shared_ptr<EngineTuning> tuning = DefaultTuning());

/// A map of plain data files: every vector table of each file becomes a feature layer
/// named after the table, in file order.
std::shared_ptr<MxDocument> LoadDataFiles(const std::vector<std::string>& paths,
                                          std::shared_ptr<EngineTuning> tuning = DefaultTuning());

/// A map document when `paths` is one file ending in .json, else plain data files.
std::shared_ptr<MxDocument> LoadMap(const std::vector<std::string>& paths,
                                    std::shared_ptr<EngineTuning> tuning = DefaultTuning());

/// The sample map's document: the installed one (share/selvane/sample/town.json beside the
/// running program's bin folder) when there is one, else `build_tree_sample` (a program
/// run from its build tree).
std::string SampleMapPath(const std::string& build_tree_sample);

}  // namespace selvane::gis
