#pragma once

// How the map model uses GDAL: drivers registered once, GDAL's own error printing off
// (its messages go into the map model's messages instead), and no network unless the
// user asks for it.

#include <string>
#include <vector>

namespace selvane::gis {

/// Registers GDAL's drivers and silences its printing of errors; idempotent.
void InitialiseGdal();

/// Whether data may be read over the network (GDAL's /vsicurl/, /vsis3/, web services).
/// Off by default: a map opened from disk never reaches the network.
void AllowNetwork(bool allowed);
bool NetworkAllowed();

/// How the user of this host allows the network ("selvane --allow-network turns it on"),
/// for the messages that refuse an address; without it they say only what would allow it.
void SetNetworkAllowedBy(std::string how);
/// "the network is off (HOW)": why an address was refused.
std::string NetworkOffReason();

/// Throws platform::Error naming `path` when it is a network address while the network is
/// off, or when it is neither a regular file nor a folder (a FIFO or a device would block).
void RequireLocalSource(const std::string& path);

/// Collects GDAL's messages while it lives, instead of letting GDAL print them.
class GdalMessages {
public:
    GdalMessages();
    ~GdalMessages();
    GdalMessages(const GdalMessages&) = delete;
    GdalMessages& operator=(const GdalMessages&) = delete;

    /// Whether GDAL reported a failure since construction (or the last Clear).
    bool Failed() const { return m_failed; }
    /// GDAL's messages, failures first, joined by "; "; `fallback` when there are none.
    std::string Text(const std::string& fallback = "no reason given") const;
    void Clear();

private:
    bool m_failed = false;
    std::vector<std::string> m_failures;
    std::vector<std::string> m_warnings;
};

}  // namespace selvane::gis
