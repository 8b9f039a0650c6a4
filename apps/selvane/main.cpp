// selvane: the Spatial Selection command, headless. It loads a map, creates the command,
// presses it and acts on the dialog as a user would.

#include <CLI/CLI.hpp>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "dialogs/relationships.h"
#include "gis/common/gdal_session.h"
#include "gis/common/large_blocks.h"
#include "forms/printable_text.h"
#include "gis/common/message_text.h"
#include "gis/map_document.h"
#include "gis/memory/layer.h"
#include "gis/model/layers.h"
#include "gis/postgis/connection.h"
#include "headless/feature_export.h"
#include "headless/headless_host.h"
#include "headless/terminal_progress.h"
#include "support/Tollamar_ArcMap.h"

namespace {

using selvane::apps::HeadlessHost;

constexpr int kExitUsage = 2;

std::string RelationshipList() {
    std::string list;
    for (const auto& relationship : selvane::dialogs::kRelationships) {
        list += "  \"" + std::string(relationship.text) + "\"\n";
    }
    return list;
}

struct Options {
    std::vector<std::string> maps;
    std::string layer1;
    std::string layer2;
    std::string relation;
    bool ids = false;
    bool timings = false;
    bool allow_network = false;
    std::string output;
    bool overwrite = false;
    std::string format = "text";
    bool quiet = false;
};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Chooses an entry of a picker as a user does; a text that is not an entry cannot be
// picked, so it is a usage error that lists what can be.
// A message (which may quote names from the map) as the terminal shows it: line by line,
// with what would act on the terminal or reorder a line escaped. Names alone go through
// Printable whole, so that a name cannot start a line of its own.
std::string Shown(const std::string& text) { return selvane::forms::PrintableLines(text); }

bool Pick(selvane::platform::IComboBox& picker, const std::string& text, const char* what) {
    const auto items = picker.Items();
    if (std::find(items.begin(), items.end(), text) != items.end()) {
        picker.SetText(text);
        return true;
    }
    std::cerr << "selvane: " << what << " \"" << selvane::gis::Printable(text)
              << "\" is not in the list. The list holds:\n";
    for (const auto& item : items) std::cerr << "  " << selvane::gis::Printable(item) << "\n";
    return false;
}

// The exit status, once the output is known to be written: a result that could not be
// written (a full disk, a closed stdout) is a failure, as it is for the system's tools.
bool g_stdout_closed = false;

int WrittenStatus(int status) {
    std::cout.flush();
    if (g_stdout_closed) {
        std::cerr << "selvane: cannot write the output: standard output is closed\n";
        return 1;
    }
    const bool failed = !std::cout.good() || std::fflush(stdout) != 0 || std::ferror(stdout);
    if (!failed) return status;
    std::cerr << "selvane: cannot write the output: " << std::strerror(errno ? errno : EIO) << "\n";
    return 1;
}

// Ends the program once the output is written: the map of a large run holds millions of
// shapes, and freeing them one by one would cost the user time for nothing. Builds with
// the leak checker return, so that the destructors run and are checked.
int Finish(int status) {
    const int written = WrittenStatus(status);
    std::cerr.flush();
#if defined(__SANITIZE_ADDRESS__)
    return written;
#else
    std::_Exit(written);
#endif
}

// A closed standard stream's number would go to the next file opened (a GeoPackage, say),
// and the output into it: hold such numbers on /dev/null, and remember that stdout was closed.
void GuardStandardStreams() {
    for (const int stream : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
        if (fcntl(stream, F_GETFD) != -1 || errno != EBADF) continue;
        const int null = open("/dev/null", stream == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (null != stream && null >= 0) close(null);
        if (stream == STDOUT_FILENO) g_stdout_closed = true;
    }
}

// Writes the selected Layer #2 features to --output, when the run ended without a message
// box: a run that failed part way holds a partial selection, which is not written as if it
// were the answer.
// The files the map reads: its documents, and the data of its layers.
std::vector<std::string> ReadFiles(const selvane::gis::MxDocument& document, const Options& options) {
    std::vector<std::string> files = options.maps;
    if (!document.Path().empty()) files.push_back(document.Path());
    const auto& layers = document.GetMap()->Layers();
    selvane::gis::ForEachLayerOf<selvane::gis::MemoryLayer>(
        layers, [&files](selvane::gis::MemoryLayer& layer) { files.push_back(layer.Class()->SourcePath()); });
    selvane::gis::ForEachLayerOf<selvane::gis::RasterLayer>(
        layers, [&files](selvane::gis::RasterLayer& layer) { files.push_back(layer.Source()); });
    return files;
}

void Export(const std::shared_ptr<selvane::platform::IFeatureLayer>& layer2, const std::vector<std::int64_t>& ids,
            const selvane::gis::MxDocument& document, const Options& options, int message_boxes) {
    if (message_boxes > 0) throw std::runtime_error("nothing written to " + options.output + ": the run showed a message");
    auto in_memory = std::dynamic_pointer_cast<selvane::gis::MemoryLayer>(layer2);
    if (!in_memory) {
        throw std::runtime_error("--output writes layers read from data files; Layer #2 " + options.layer2 +
                                 " is not one");
    }
    selvane::apps::ExportFeatures(*in_memory->Class(), ids, options.output, options.overwrite, ReadFiles(document, options));
}

void PrintProperties(selvane::command::Selvane& command) {
    std::cout << "Name: " << command.Name() << "\n"
              << "Caption: " << command.Caption() << "\n"
              << "Tooltip: " << command.Tooltip() << "\n"
              << "Message: " << command.Message() << "\n"
              << "Category: " << command.Category() << "\n"
              << "Enabled: " << (command.Enabled() ? "true" : "false") << "\n"
              << "Checked: " << (command.Checked() ? "true" : "false") << "\n"
              << "Bitmap: " << command.Bitmap() << "\n";
}

// Interrupted (Ctrl-C, kill): the database servers are told to stop what they run for this
// program, an output half written is removed, and the program ends as the signal would
// have ended it.
extern "C" void StopOnSignal(int signal_number) {
    selvane::gis::CancelDatabaseStatements();
    selvane::apps::RemoveUnfinishedOutput();
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

}  // namespace

int main(int argc, char** argv) {
    GuardStandardStreams();
    selvane::gis::MapLargeBlocksApart();
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (std::signal(signal_number, StopOnSignal) == SIG_IGN) std::signal(signal_number, SIG_IGN);
    }
    CLI::App app{"selvane - Spatial Selection.\n\n"
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
                 "layer2, relationship, layer1, count and ids.",
                 "selvane"};
    app.set_version_flag("--version", std::string("selvane ") + SELVANE_VERSION);
    app.require_subcommand(1, 1);
    Options options;
    const auto add_map = [&options](CLI::App* command) {
        command->add_option("--map", options.maps, "map document or data file (repeatable)");
        command->add_flag("--allow-network", options.allow_network,
                          "let data be read over the network (/vsicurl/, http://); off by default");
    };
    auto* info = app.add_subcommand("info", "print the command's properties and the dialog it opens");
    add_map(info);
    auto* layers = app.add_subcommand("layers", "list the entries of the layer pickers, in list order");
    add_map(layers);
    auto* select = app.add_subcommand("select", "pick the layers and relationship, press \"Select Features\"");
    add_map(select);
    select->add_option("--layer2", options.layer2, "Select all features in layer (Layer #2)")->required();
    select->add_option("--relation", options.relation, "Whose features: one of the relationships")->required();
    select->add_option("--layer1", options.layer1, "Features in layer (Layer #1)")->required();
    select->add_flag("--ids", options.ids, "print the object ids of the selected Layer #2 features");
    select->add_flag("--timings", options.timings, "print the time of each phase to stderr");
    select->add_option("--output", options.output,
                       "write the selected Layer #2 features to a new file; its extension names the format "
                       "(.gpkg, .shp, .geojson, .fgb, .csv, ...)");
    select->add_flag("--overwrite", options.overwrite, "let --output replace an existing file");
    select->add_option("--format", options.format, "text (the default) or json")
        ->check(CLI::IsMember({"text", "json"}));
    select->add_flag("--quiet", options.quiet, "no progress bar, even on a terminal");
    auto* clear = app.add_subcommand("clear", "press \"Clear Selection\"");
    add_map(clear);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int code = app.exit(error);
        return code == 0 ? 0 : kExitUsage;
    }

    const auto load_start = Clock::now();
    std::shared_ptr<selvane::gis::MxDocument> document;
    try {
        if (options.maps.empty()) options.maps.push_back(selvane::gis::SampleMapPath(SELVANE_SAMPLE_MAP));
        selvane::gis::SetNetworkAllowedBy("selvane --allow-network turns it on");
        selvane::gis::AllowNetwork(options.allow_network);
        document = selvane::gis::LoadMap(options.maps);
    } catch (const std::exception& error) {
        std::cerr << "selvane: " << Shown(error.what()) << "\n";
        return 1;
    }

    int message_boxes = 0;
    HeadlessHost host(document, [&message_boxes](const std::string& text, const std::string&) {
        ++message_boxes;
        std::string flat = text;
        flat.erase(std::remove(flat.begin(), flat.end(), '\r'), flat.end());
        std::cerr << "Selvane: " << Shown(flat) << "\n";
    });
    if (isatty(STDERR_FILENO) && !options.quiet) host.Application()->Bar()->Progress()->SetDisplay(selvane::apps::DrawTerminalProgress);

    const double load_seconds = SecondsSince(load_start);
    const auto dialog_start = Clock::now();
    auto command = host.CreateCommand();
    if (info->parsed()) PrintProperties(*command);
    host.Press();
    auto dialog = host.Dialog();
    if (!dialog) return 1;
    auto& form = *dialog->Form();

    if (info->parsed()) {
        std::cout << "Dialog: " << form.Design().caption << ", version " << form.Label("txtVersion").Caption()
                  << ", selection count " << form.Label("lblCount").Caption() << ", relationship "
                  << form.ComboBox("cboRelationship").Text() << ", " << form.ComboBox("cboMapLayers").Items().size()
                  << " feature layers\n";
        return Finish(message_boxes > 0 ? 1 : 0);
    }
    if (layers->parsed()) {
        for (const auto& item : form.ComboBox("cboMapLayers").Items()) {
            std::cout << selvane::gis::Printable(item) << "\n";
        }
        return Finish(message_boxes > 0 ? 1 : 0);
    }

    const double dialog_seconds = SecondsSince(dialog_start);
    const auto run_start = Clock::now();
    if (select->parsed()) {
        if (!Pick(form.ComboBox("cboSearchLayers"), options.layer2, "Layer #2") ||
            !Pick(form.ComboBox("cboRelationship"), options.relation, "Relationship") ||
            !Pick(form.ComboBox("cboMapLayers"), options.layer1, "Layer #1")) {
            return kExitUsage;
        }
        form.Click("btnNext");
    } else {
        form.Click("Command1");
    }

    const double run_seconds = SecondsSince(run_start);
    const auto output_start = Clock::now();
    if (select->parsed()) {
        // Layer #2 as the run found it: the last feature layer of that name.
        auto layer2 = selvane::support::GetFeatureLayerByName(options.layer2);
        std::vector<std::int64_t> ids;
        // The ids only where they are written: half a million of them take a few milliseconds.
        const bool ids_written = !options.output.empty() || options.ids || options.format == "json";
        try {
            auto selectable = std::dynamic_pointer_cast<selvane::gis::SelectableLayer>(layer2);
            if (selectable && ids_written) ids = selectable->SelectedFids();
            if (!options.output.empty()) Export(layer2, ids, *document, options, message_boxes);
        } catch (const std::exception& error) {
            std::cerr << "selvane: " << Shown(error.what()) << "\n";
            return Finish(1);
        }
        if (options.format == "json") {
            const auto count = form.Label("lblCount").Caption();
            nlohmann::json result{{"layer2", options.layer2}, {"relationship", options.relation},
                                  {"layer1", options.layer1}, {"count", nlohmann::json::parse(count, nullptr, false)},
                                  {"ids", ids}};
            if (result["count"].is_discarded()) result["count"] = count;
            // A name need not be UTF-8 (a layer's name is the file's bytes); JSON must be.
            std::cout << result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        } else {
            if (options.ids) {
                for (const auto fid : ids) std::cout << fid << "\n";
            }
            std::cout << "Selection Count: " << form.Label("lblCount").Caption() << "\n";
        }
    } else {
        std::cout << "Selection Count: " << form.Label("lblCount").Caption() << "\n";
    }
    if (options.timings) {
        std::cout.flush();
        std::fprintf(stderr, "load %.3f s, dialog %.3f s, run (index and search) %.3f s, output %.3f s\n", load_seconds,
                     dialog_seconds, run_seconds, SecondsSince(output_start));
    }
    return Finish(message_boxes > 0 ? 1 : 0);
}
