#include "gis/common/definition_query.h"

#include <cstdio>

#include "gis/support/message_text.h"
#include "platform/error.h"

namespace selvane::gis {

std::string StoppedQueryText(const std::string& query, std::chrono::milliseconds limit) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", static_cast<double>(limit.count()) / 1000.0);
    return "the definition query '" + InMessage(query) + "' ran longer than " + seconds + " s and was stopped";
}

void RequireSingleExpression(const std::string& query) {
    char quote = 0;
    for (const char c : query) {
        if (quote) {
            if (c == quote) quote = 0;  // a doubled quote closes and reopens: same state
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == ';') {
            throw platform::Error(platform::kInvalidArg, "the definition query '" + InMessage(query) +
                                                             "' holds a \";\": it must be one expression, not statements");
        }
    }
}

void RequireEnclosedExpression(const std::string& query) {
    RequireSingleExpression(query);
    const auto refuse = [&query](const std::string& why) {
        throw platform::Error(platform::kInvalidArg, "the definition query '" + InMessage(query) + "' " + why +
                                                         ": it must be one expression");
    };
    char quote = 0;
    int depth = 0;
    for (std::size_t i = 0; i < query.size(); ++i) {
        const char c = query[i];
        const char next = i + 1 < query.size() ? query[i + 1] : '\0';
        if (quote) {
            if (c == quote) quote = 0;
        } else if (c == '\'' || c == '"') {
            quote = c;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            if (--depth < 0) refuse("closes a \")\" it did not open");
        } else if ((c == '-' && next == '-') || (c == '/' && next == '*')) {
            refuse("holds a comment");
        } else if (c == '$') {
            refuse("holds a \"$\"");
        }
    }
    if (quote) refuse("leaves a quote open");
    if (depth > 0) refuse("leaves a \"(\" open");
}

}  // namespace selvane::gis
