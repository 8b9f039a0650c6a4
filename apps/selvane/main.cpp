// selvane: the Spatial Selection command, headless. It loads a map, creates the command,
// presses it and acts on the dialog as a user would.

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
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
#include <system_error>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "gis/support/gdal_session.h"
#include "gis/support/large_blocks.h"
#include "forms/printable_text.h"
#include "gis/support/message_text.h"
#include "gis/map_document.h"
#include "gis/common/feature_source.h"
#include "gis/model/layers.h"
#include "gis/postgis/connection.h"
#include "command_line.h"
#include "headless/feature_export.h"
#include "headless/headless_host.h"
#include "headless/terminal_progress.h"
#include "support/Tollamar_ArcMap.h"

namespace {

using selvane::headless::HeadlessHost;

using selvane::apps::Options;
using selvane::apps::Subcommand;

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// A message (which may quote names from the map) as the terminal shows it: line by line,
// with what would act on the terminal or reorder a line escaped. Names alone go through
// Printable whole, so that a name cannot start a line of its own.
std::string Shown(const std::string& text) { return selvane::forms::PrintableLines(text); }

// Chooses an entry of a picker as a user does; a text that is not an entry cannot be
// picked, so it is a usage error that lists what can be.
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

// The files the map reads: its documents, and the data of its layers.
std::vector<std::string> ReadFiles(const selvane::gis::MxDocument& document, const Options& options) {
    std::vector<std::string> files = options.maps;
    if (!document.Path().empty()) files.push_back(document.Path());
    const auto& layers = document.GetMap()->Layers();
    // A database is no file: nothing written can replace it.
    selvane::gis::ForEachLayerOf<selvane::gis::FeatureSource>(layers, [&files](selvane::gis::FeatureSource& layer) {
        auto source = layer.ClassGdalTable().source;
        if (!source.empty() && !selvane::gis::IsDatabaseSource(source)) files.push_back(std::move(source));
    });
    selvane::gis::ForEachLayerOf<selvane::gis::RasterLayer>(
        layers, [&files](selvane::gis::RasterLayer& layer) { files.push_back(layer.Source()); });
    return files;
}

// Writes the selected Layer #2 features to --output, when the run ended without a message
// box: a run that failed part way holds a partial selection, which is not written as if it
// were the answer.
void Export(const std::shared_ptr<selvane::platform::IFeatureLayer>& layer2, const std::vector<std::int64_t>& ids,
            const selvane::gis::MxDocument& document, const Options& options, int message_boxes) {
    if (message_boxes > 0) throw std::runtime_error("nothing written to " + options.output + ": the run showed a message");
    auto source = std::dynamic_pointer_cast<selvane::gis::FeatureSource>(layer2);
    if (!source) throw std::runtime_error("--output writes feature layers; Layer #2 " + options.layer2 + " is not one");
    selvane::headless::ExportFeatures(source->ClassGdalTable(), ids, options.output, options.overwrite,
                                      ReadFiles(document, options));
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
// have ended it. The signals go to a thread of their own rather than to a handler, so that
// this may wait for an output being moved into place; no other thread ever sees them.
// A signal the caller ignores (nohup, a background job) stays ignored.
void StopOnSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (::sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler != SIG_IGN) {
            sigaddset(&signals, signal_number);
        }
    }
    // Blocked before any other thread starts, so that every thread inherits it.
    ::pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    try {
        std::thread([signals] {
            int signal_number = 0;
            if (::sigwait(&signals, &signal_number) != 0) return;
            selvane::gis::CancelDatabaseStatements();
            selvane::headless::RemoveUnfinishedOutput();
            // Said before the signal ends the program, which would end it without a word.
            const std::string said = std::string("selvane: cancelled (") +
                                     (signal_number == SIGINT ? "SIGINT" : signal_number == SIGTERM ? "SIGTERM" : "SIGHUP") +
                                     ")\n";
            static_cast<void>(::write(STDERR_FILENO, said.data(), said.size()));
            std::signal(signal_number, SIG_DFL);
            sigset_t taken;
            sigemptyset(&taken);
            sigaddset(&taken, signal_number);
            ::pthread_sigmask(SIG_UNBLOCK, &taken, nullptr);
            std::raise(signal_number);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the signals end the program at once, as they would without this.
        ::pthread_sigmask(SIG_UNBLOCK, &signals, nullptr);
    }
}

// The phases' times, for --timings.
struct Phases {
    double load = 0;
    double dialog = 0;
};

std::shared_ptr<selvane::gis::MxDocument> LoadDocument(Options& options) {
    try {
        if (options.maps.empty()) options.maps.push_back(selvane::gis::SampleMapPath(SELVANE_SAMPLE_MAP));
        selvane::gis::SetNetworkAllowedBy("selvane --allow-network turns it on");
        selvane::gis::AllowNetwork(options.allow_network);
        return selvane::gis::LoadMap(options.maps);
    } catch (const std::exception& error) {
        std::cerr << "selvane: " << Shown(error.what()) << "\n";
        return nullptr;
    }
}

void PrintDialog(selvane::platform::IForm& form) {
    std::cout << "Dialog: " << form.Design().caption << ", version " << form.Label("txtVersion").Caption()
              << ", selection count " << form.Label("lblCount").Caption() << ", relationship "
              << form.ComboBox("cboRelationship").Text() << ", " << form.ComboBox("cboMapLayers").Items().size()
              << " feature layers\n";
}

void PrintLayers(selvane::platform::IForm& form) {
    for (const auto& item : form.ComboBox("cboMapLayers").Items()) std::cout << selvane::gis::Printable(item) << "\n";
}

void PrintCount(selvane::platform::IForm& form) {
    std::cout << "Selection Count: " << form.Label("lblCount").Caption() << "\n";
}

void PrintSelection(selvane::platform::IForm& form, const Options& options, const std::vector<std::int64_t>& ids) {
    if (options.format == "json") {
        const auto count = form.Label("lblCount").Caption();
        nlohmann::json result{{"layer2", options.layer2}, {"relationship", options.relation},
                              {"layer1", options.layer1}, {"count", nlohmann::json::parse(count, nullptr, false)},
                              {"ids", ids}};
        if (result["count"].is_discarded()) result["count"] = count;
        // A name need not be UTF-8 (a layer's name is the file's bytes); JSON must be.
        std::cout << result.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
        return;
    }
    if (options.ids) {
        for (const auto fid : ids) std::cout << fid << "\n";
    }
    PrintCount(form);
}

// Picks the three entries, presses "Select Features", and prints (and writes) the selection.
int RunSelect(selvane::platform::IForm& form, const Options& options, const selvane::gis::MxDocument& document,
              const int& message_boxes, const Phases& phases) {
    const auto run_start = Clock::now();
    if (!Pick(form.ComboBox("cboSearchLayers"), options.layer2, "Layer #2") ||
        !Pick(form.ComboBox("cboRelationship"), options.relation, "Relationship") ||
        !Pick(form.ComboBox("cboMapLayers"), options.layer1, "Layer #1")) {
        return selvane::apps::kExitUsage;
    }
    form.Click("btnNext");
    const double run_seconds = SecondsSince(run_start);
    const auto output_start = Clock::now();
    // Layer #2 as the run found it: the last feature layer of that name.
    auto layer2 = selvane::support::GetFeatureLayerByName(options.layer2);
    std::vector<std::int64_t> ids;
    // The ids only where they are written: half a million of them take a few milliseconds.
    const bool ids_written = !options.output.empty() || options.ids || options.format == "json";
    try {
        auto selectable = std::dynamic_pointer_cast<selvane::gis::SelectableLayer>(layer2);
        if (selectable && ids_written) ids = selectable->SelectedFids();
        if (!options.output.empty()) Export(layer2, ids, document, options, message_boxes);
    } catch (const std::exception& error) {
        std::cerr << "selvane: " << Shown(error.what()) << "\n";
        return Finish(1);
    }
    PrintSelection(form, options, ids);
    if (options.timings) {
        std::cout.flush();
        std::fprintf(stderr, "load %.3f s, dialog %.3f s, run (index and search) %.3f s, output %.3f s\n", phases.load,
                     phases.dialog, run_seconds, SecondsSince(output_start));
    }
    return Finish(message_boxes > 0 ? 1 : 0);
}

}  // namespace

int main(int argc, char** argv) {
    GuardStandardStreams();
    selvane::gis::MapLargeBlocksApart();
    StopOnSignals();
    int usage_status = 0;
    auto options = selvane::apps::ParseCommandLine(argc, argv, usage_status);
    if (!options) return usage_status;

    Phases phases;
    const auto load_start = Clock::now();
    const auto document = LoadDocument(*options);
    if (!document) return 1;
    int message_boxes = 0;
    HeadlessHost host(document, [&message_boxes](const std::string& text, const std::string&) {
        ++message_boxes;
        std::string flat = text;
        flat.erase(std::remove(flat.begin(), flat.end(), '\r'), flat.end());
        std::cerr << "Selvane: " << Shown(flat) << "\n";
    });
    if (isatty(STDERR_FILENO) && !options->quiet) {
        host.Application()->Bar()->Progress()->SetDisplay(selvane::headless::DrawTerminalProgress);
    }
    phases.load = SecondsSince(load_start);

    const auto dialog_start = Clock::now();
    auto command = host.CreateCommand();
    if (options->subcommand == Subcommand::kInfo) PrintProperties(*command);
    host.Press();
    auto dialog = host.Dialog();
    if (!dialog) return 1;
    auto& form = *dialog->Form();
    phases.dialog = SecondsSince(dialog_start);
    switch (options->subcommand) {
        case Subcommand::kInfo: PrintDialog(form); break;
        case Subcommand::kLayers: PrintLayers(form); break;
        case Subcommand::kSelect: return RunSelect(form, *options, *document, message_boxes, phases);
        case Subcommand::kClear:
            form.Click("Command1");
            PrintCount(form);
            break;
    }
    return Finish(message_boxes > 0 ? 1 : 0);
}
