#include "command_line.h"

#include <CLI/CLI.hpp>

#include "dialogs/relationships.h"

namespace selvane::apps {
namespace {

std::string RelationshipList() {
    std::string list;
    for (const auto& relationship : dialogs::kRelationships) list += "  \"" + std::string(relationship.text) + "\"\n";
    return list;
}

std::string Description() {
    return "selvane - Spatial Selection.\n\n"
           "Selects the features of Layer #2 that stand in a spatial relationship to the\n"
           "features of Layer #1, as the Spatial Selection dialog does:\n"
           "  Select all features in layer [--layer2] Whose features [--relation]\n"
           "  Features in layer [--layer1]\n\n"
           "--map names a JSON map document or a vector data file (repeatable for data\n"
           "files; each vector table becomes a feature layer named after it). Without\n"
           "--map the sample map is used.\n\n"
           "Relationships:\n" +
           RelationshipList() +
           "\nOutput of select and clear: with --ids the object ids of the selected Layer #2\n"
           "features, ascending, one a line; then \"Selection Count: N\". Message boxes go\n"
           "to stderr as \"Selvane: text\". Exit status: 0 when no message box was shown,\n"
           "1 when one was, 2 for a usage error. With --format json, one JSON object:\n"
           "layer2, relationship, layer1, count and ids.";
}

void AddSelectOptions(CLI::App& select, Options& options) {
    select.add_option("--layer2", options.layer2, "Select all features in layer (Layer #2)")->required();
    select.add_option("--relation", options.relation, "Whose features: one of the relationships")->required();
    select.add_option("--layer1", options.layer1, "Features in layer (Layer #1)")->required();
    select.add_flag("--ids", options.ids, "print the object ids of the selected Layer #2 features");
    select.add_flag("--timings", options.timings, "print the time of each phase to stderr");
    select.add_option("--output", options.output,
                      "write the selected Layer #2 features to a new file; its extension names the format "
                      "(.gpkg, .shp, .geojson, .fgb, .csv, ...)");
    select.add_flag("--overwrite", options.overwrite, "let --output replace an existing file");
    select.add_option("--format", options.format, "text (the default) or json")->check(CLI::IsMember({"text", "json"}));
    select.add_flag("--quiet", options.quiet, "no progress bar, even on a terminal");
}

}  // namespace

std::optional<Options> ParseCommandLine(int argc, char** argv, int& exit_status) {
    CLI::App app{Description(), "selvane"};
    app.set_version_flag("--version", std::string("selvane ") + SELVANE_VERSION);
    app.require_subcommand(1, 1);
    Options options;
    const auto add = [&](const char* name, const char* description, Subcommand subcommand) {
        auto* command = app.add_subcommand(name, description);
        command->add_option("--map", options.maps, "map document or data file (repeatable)");
        command->add_flag("--allow-network", options.allow_network,
                          "let data be read over the network (/vsicurl/, http://); off by default");
        command->parse_complete_callback([&options, subcommand] { options.subcommand = subcommand; });
        return command;
    };
    add("info", "print the command's properties and the dialog it opens", Subcommand::kInfo);
    add("layers", "list the entries of the layer pickers, in list order", Subcommand::kLayers);
    AddSelectOptions(*add("select", "pick the layers and relationship, press \"Select Features\"", Subcommand::kSelect),
                     options);
    add("clear", "press \"Clear Selection\"", Subcommand::kClear);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        exit_status = code == 0 ? 0 : kExitUsage;
        return std::nullopt;
    }
    return options;
}

}  // namespace selvane::apps
