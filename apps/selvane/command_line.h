#pragma once
// The command line of selvane: its subcommands and options, parsed with CLI11.

#include <optional>
#include <string>
#include <vector>

namespace selvane::apps {

enum class Subcommand { kInfo, kLayers, kSelect, kClear };

struct Options {
    Subcommand subcommand = Subcommand::kInfo;
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

/// The options of `argv`; on a usage error, --help or --version, what CLI11 printed has
/// been printed and `exit_status` holds the status to end with.
std::optional<Options> ParseCommandLine(int argc, char** argv, int& exit_status);

constexpr int kExitUsage = 2;

}  // namespace selvane::apps
