#pragma once

// A definition query: an attribute filter the user wrote, checked before it runs, so that
// a query cannot smuggle in a second statement.

#include <string>

namespace selvane::gis {

/// Throws platform::Error when `query` holds a ";" outside quotes (a second statement).
void RequireSingleExpression(const std::string& query);

/// RequireSingleExpression, and also refuses what could reach outside the parentheses a
/// server wraps the query in: a ")" that closes more than the query opened, an
/// unclosed "(" or quote, comments ("--", "/*") and "$" (dollar quotes, parameters).
void RequireEnclosedExpression(const std::string& query);

}  // namespace selvane::gis
