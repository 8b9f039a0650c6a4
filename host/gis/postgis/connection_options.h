#pragma once

// What libpq is told to connect with, worked out from a map's "PG:" source and checked
// before anything is sent: no password in a map, no server on the network while the
// network is off, no password file that libpq would pass over with a warning of its own.

#include <string>
#include <utility>
#include <vector>

namespace selvane::gis {

/// The keyword and value pairs for PQconnectdbParams from a "PG:" source (a connection
/// string or a postgresql:// URI): what the source sets, checked, and the project's own
/// (`connect_timeout` unless set, `fallback_application_name`). Throws platform::Error for
/// a source that cannot be used; `password_file_fault` says why a password file was
/// passed over (empty when none was).
std::vector<std::pair<std::string, std::string>> ConnectionOptions(const std::string& source,
                                                                   std::string& password_file_fault);

/// `text` without the spaces and line ends around it (libpq ends its messages with one).
std::string Trimmed(std::string text);

}  // namespace selvane::gis
