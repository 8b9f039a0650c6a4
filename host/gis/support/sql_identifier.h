#pragma once

#include <string>

namespace selvane::gis {

/// An identifier quoted for SQL, as SQLite and PostgreSQL read one: "a ""b""".
inline std::string QuotedIdentifier(const std::string& name) {
    std::string quoted = "\"";
    for (const char c : name) {
        quoted += c;
        if (c == '"') quoted += '"';
    }
    return quoted + "\"";
}

}  // namespace selvane::gis
