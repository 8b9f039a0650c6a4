#pragma once

// A PostGIS layer's definition query is a filter and nothing else. It is parsed by
// PostgreSQL's own grammar (libpg_query) as the WHERE clause of a SELECT; every node of
// the parse tree must be one a filter needs (comparisons, operators, literals, columns,
// casts to plain types, IS, IN lists, BETWEEN, LIKE, CASE, COALESCE and an allow-list of
// pure functions); and the server runs the expression written back from that tree, every
// function named with its schema, so that what was checked is what runs.

#include <set>
#include <string>

namespace selvane::gis {

/// What a filter may name on its table.
struct FilterScope {
    /// The schema PostGIS is installed in, whose functions a filter may call.
    std::string postgis_schema;
    /// The table's columns, as the server names them.
    std::set<std::string, std::less<>> columns;
};

/// `query` as the server is to run it, every function named with its schema. Throws
/// platform::Error naming what is refused: a syntax error, more than one expression, a
/// name that is not a column of the table, a function, operator, type or construct a
/// filter does not need (a subquery, a function of the server's files or connections), or
/// a filter too long or too deep to be read safely.
std::string DefinitionFilter(const std::string& query, const FilterScope& scope);

}  // namespace selvane::gis
