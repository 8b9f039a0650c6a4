#include "gis/postgis/connection_options.h"

#include <libpq-fe.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <set>
#include <string_view>

#include "gis/support/ascii_case.h"
#include "gis/support/gdal_session.h"
#include "gis/support/message_text.h"
#include "platform/error.h"

namespace selvane::gis {

std::string Trimmed(std::string text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    const auto start = text.find_first_not_of(" \t\r\n");
    return start == std::string::npos ? std::string() : text.substr(start);
}

namespace {

// What a map document may set: where and as whom to connect, and how long to wait. A map is
// data from anyone, and libpq's other keywords read files (sslkey loads an OpenSSL engine
// from the path it names, so a library's code would run here), name services or set the
// server's options (search_path among them, which would change what a filter's functions
// are). Those come from the user's own environment and files, never from a map.
const std::set<std::string, std::less<>> kMapKeywords{
    "host",       "hostaddr",          "port",         "dbname",   "user",
    "sslmode",    "gssencmode",        "sslsni",       "ssl_min_protocol_version",
    "ssl_max_protocol_version", "channel_binding", "requirepeer", "connect_timeout", "application_name",
    "fallback_application_name", "target_session_attrs", "keepalives", "keepalives_idle",
    "keepalives_interval", "keepalives_count", "tcp_user_timeout"};

// A server on this machine: a unix socket folder, or the loopback address.
bool IsLocalHost(std::string_view hosts) {
    std::size_t start = 0;
    while (start <= hosts.size()) {
        const auto comma = hosts.find(',', start);
        const auto host = hosts.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        const bool local = host.empty() || host.front() == '/' || host.front() == '@' || host == "localhost" ||
                           host == "127.0.0.1" || host == "::1";
        if (!local) return false;
        if (comma == std::string_view::npos) break;
        start = comma + 1;
    }
    return true;
}

// The password file libpq would read: PGPASSFILE, or ~/.pgpass.
std::string PasswordFile() {
    if (const char* file = std::getenv("PGPASSFILE"); file && *file) return file;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* user = getpwuid(getuid());
        home = user ? user->pw_dir : nullptr;
    }
    return home ? std::string(home) + "/.pgpass" : std::string();
}

// Why libpq would pass over a password file: it would print a WARNING of its own on the
// terminal, beside the program's output. Empty when the file is fine or missing.
std::string PasswordFileFault(const std::string& path) {
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0) return {};
    if (!S_ISREG(status.st_mode)) return "the password file " + path + " was not read: it is not a plain file";
    if (status.st_mode & (S_IRWXG | S_IRWXO)) {
        return "the password file " + path + " was not read: others may read it (chmod 600 makes it private)";
    }
    return {};
}

}  // namespace

// A password stays out of map documents, and while the network is off, the server libpq
// would reach (named in the source, or by PGHOST, PGHOSTADDR or a service) must be on this
// machine.
std::vector<std::pair<std::string, std::string>> ConnectionOptions(const std::string& source,
                                                                   std::string& password_file_fault) {
    const std::string conninfo = source.substr(3);
    char* parse_error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &parse_error);
    if (!options) {
        std::string reason = parse_error ? Trimmed(parse_error) : "out of memory";
        PQfreemem(parse_error);
        throw platform::Error(platform::kFail, InMessage(source) + ": not a database connection string: " + InMessage(reason));
    }
    std::vector<std::pair<std::string, std::string>> chosen;
    for (auto* option = options; option->keyword; ++option) {
        if (option->val && *option->val) chosen.emplace_back(option->keyword, option->val);
    }
    PQconninfoFree(options);
    std::string refused;
    for (const auto& [keyword, value] : chosen) {
        if (keyword == "password") {
            throw platform::Error(platform::kFail,
                                  "The database source holds a password; give it through ~/.pgpass, PGPASSFILE or "
                                  "PGPASSWORD instead, so that the map does not carry it");
        }
        if (!kMapKeywords.count(keyword)) refused += (refused.empty() ? "" : ", ") + keyword;
    }
    if (!refused.empty()) {
        throw platform::Error(platform::kFail, "The database source sets " + refused +
                                                   ", which a map may not set: a map names only where and as whom to "
                                                   "connect; files, services and server options come from your own "
                                                   "environment (PGSSLKEY, ~/.pgpass, ~/.pg_service.conf)");
    }
    const auto given = [&chosen](std::string_view keyword) -> const std::string* {
        for (const auto& [key, value] : chosen) {
            if (key == keyword) return &value;
        }
        return nullptr;
    };
    if (!NetworkAllowed()) {
        // What libpq will use: the source's own, or else the environment's.
        for (const char* keyword : {"host", "hostaddr"}) {
            const std::string* value = given(keyword);
            const char* environment = std::getenv(std::string_view(keyword) == "host" ? "PGHOST" : "PGHOSTADDR");
            const std::string from_environment = environment ? environment : "";
            const std::string& host = value ? *value : from_environment;
            if (!host.empty() && !IsLocalHost(host)) {
                throw platform::Error(platform::kFail, "The database source names the server " + host +
                                                           (value ? "" : " (through PG" + AsciiUpper(keyword) + ")") +
                                                           " on the network, and " + NetworkOffReason());
            }
        }
        const char* service_environment = std::getenv("PGSERVICE");
        if (service_environment && *service_environment) {
            throw platform::Error(platform::kFail, "The database source takes its server from a service, which may be "
                                                   "on the network, and " + NetworkOffReason());
        }
    }
    password_file_fault = PasswordFileFault(PasswordFile());
    if (!password_file_fault.empty()) {
        // libpq passes over such a file too, with a warning on stderr; it is told of a path
        // that cannot exist (a file's name as a folder), and the message says why.
        chosen.emplace_back("passfile", PasswordFile() + "/");
    }
    if (!given("connect_timeout")) chosen.emplace_back("connect_timeout", "10");  // a silent server is not waited for
    chosen.emplace_back("fallback_application_name", "selvane");
    return chosen;
}

}  // namespace selvane::gis
