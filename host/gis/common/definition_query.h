#pragma once

// A definition query: an attribute filter the user wrote, checked before it runs, so that
// a query cannot smuggle in a second statement.

#include <chrono>
#include <string>

namespace selvane::gis {

/// How long a definition query may run over its whole table before it is stopped and
/// reported: the same for files and databases.
inline constexpr std::chrono::seconds kDefinitionQueryTimeLimit{10};

/// The report of a definition query stopped after running for `limit`.
std::string StoppedQueryText(const std::string& query, std::chrono::milliseconds limit);

/// Throws platform::Error when `query` holds a ";" outside quotes (a second statement).
void RequireSingleExpression(const std::string& query);

/// RequireSingleExpression, and also refuses what could reach outside the parentheses a
/// server wraps the query in: a ")" that closes more than the query opened, an
/// unclosed "(" or quote, comments ("--", "/*") and "$" (dollar quotes, parameters).
void RequireEnclosedExpression(const std::string& query);

}  // namespace selvane::gis
