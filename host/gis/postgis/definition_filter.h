#pragma once

// A PostGIS layer's definition query is a filter and nothing else. It is parsed by
// PostgreSQL's own grammar (libpg_query) as the WHERE clause of a SELECT; every node of
// the parse tree must be one a filter needs (comparisons, operators, literals, columns,
// casts to plain types, IS, IN lists, BETWEEN, LIKE, CASE, COALESCE and an allow-list of
// pure functions); and the server runs the expression written back from that tree, so
// that what was checked is what runs.

#include <string>

namespace selvane::gis {

/// `query` as the server is to run it. Throws platform::Error naming what is refused: a
/// syntax error, more than one expression, a function, operator, type or construct a
/// filter does not need (a subquery, a function of the server's files or connections).
std::string DefinitionFilter(const std::string& query);

}  // namespace selvane::gis
