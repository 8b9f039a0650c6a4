#include "gis/postgis/definition_filter.h"

#include <pg_query.h>

#include <nlohmann/json.hpp>

#include <pthread.h>

#include <algorithm>
#include <exception>
#include <functional>
#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include "gis/support/ascii_case.h"
#include "gis/support/message_text.h"
#include "gis/support/sql_identifier.h"
#include "platform/error.h"

namespace selvane::gis {
namespace {

// Nodes a filter is made of.
const std::set<std::string_view> kNodes{"A_Expr",   "BoolExpr",    "NullTest",     "BooleanTest",     "ColumnRef",
                                        "A_Const",  "TypeCast",    "FuncCall",     "List",            "String",
                                        "CaseExpr", "CaseWhen",    "CoalesceExpr", "MinMaxExpr",      "SQLValueFunction",
                                        "Integer",  "Float",       "Boolean",      "NullIfExpr",      "A_ArrayExpr",
                                        "CollateClause"};

const std::set<std::string_view> kExpressionKinds{
    "AEXPR_OP",      "AEXPR_DISTINCT",    "AEXPR_NOT_DISTINCT",    "AEXPR_NULLIF",          "AEXPR_IN",
    "AEXPR_LIKE",    "AEXPR_ILIKE",       "AEXPR_BETWEEN",         "AEXPR_NOT_BETWEEN",     "AEXPR_BETWEEN_SYM",
    "AEXPR_NOT_BETWEEN_SYM", "AEXPR_SIMILAR",  "AEXPR_OP_ANY",          "AEXPR_OP_ALL"};

const std::set<std::string_view> kOperators{
    "=",  "<>", "!=", "<",  ">",   "<=",   ">=",   "+",      "-",  "*",  "/",  "%",  "^",  "||", "~~", "!~~",
    "~~*", "!~~*", "~", "!~", "~*", "!~*", "&&", "~=", "@", "<->", "BETWEEN", "NOT BETWEEN", "BETWEEN SYMMETRIC",
    "NOT BETWEEN SYMMETRIC"};

// Pure functions of the server's catalogue: text, numbers, dates.
const std::set<std::string_view> kCatalogFunctions{
    "lower", "upper", "length", "char_length", "character_length", "substr", "substring", "trim", "btrim", "ltrim",
    "rtrim", "replace", "left", "right", "concat", "position", "strpos", "starts_with", "abs", "round", "trunc",
    "floor", "ceil", "ceiling", "mod", "power", "sqrt", "sign", "greatest", "least", "date_part", "extract",
    "date_trunc", "make_date", "to_date", "to_char", "to_number", "to_timestamp", "age", "now",
    // What LIKE ... ESCAPE and SIMILAR TO are read as.
    "like_escape", "similar_to_escape", "similar_escape"};

// PostGIS's predicates and measures, in the schema PostGIS is installed in.
const std::set<std::string_view> kPostgisFunctions{
    "st_area", "st_length", "st_perimeter", "st_x", "st_y", "st_z", "st_m", "st_xmin", "st_xmax", "st_ymin",
    "st_ymax", "st_isvalid", "st_isempty", "st_issimple", "st_isclosed", "st_geometrytype", "geometrytype",
    "st_srid", "st_npoints", "st_numgeometries", "st_dimension", "st_intersects", "st_contains", "st_within",
    "st_touches", "st_crosses", "st_overlaps", "st_disjoint", "st_equals", "st_covers", "st_coveredby",
    "st_containsproperly", "st_dwithin", "st_distance", "st_makeenvelope", "st_makepoint", "st_point",
    "st_setsrid", "st_transform", "st_geomfromtext", "st_envelope", "st_centroid", "st_pointonsurface",
    "st_buffer"};

// Types a value may be cast to.
const std::set<std::string_view> kTypes{
    "int2", "int4", "int8", "smallint", "integer", "int", "bigint", "float4", "float8", "real", "numeric",
    "decimal", "text", "varchar", "bpchar", "char", "bool", "boolean", "date", "timestamp", "timestamptz", "time",
    "timetz", "interval", "geometry", "geography", "box2d"};

// The most a filter may hold: the text is bounded before the parser sees it (which
// recurses, as does everything that reads its tree), and the tree before it is written
// back; a filter of more terms than these is not one the planner answers in the time a
// definition query is given.
constexpr std::size_t kMaxQueryBytes = 32 * 1024;
constexpr std::size_t kMaxNodes = 20'000;
constexpr std::size_t kMaxDepth = 400;
// Room for the parser's recursion over the longest text allowed.
constexpr std::size_t kParserStack = 256 * 1024 * 1024;

// A member of a node, or null when it has none (a const JSON's [] may not miss).
const nlohmann::json& Field(const nlohmann::json& node, const char* name) {
    static const nlohmann::json kNone;
    if (!node.is_object()) return kNone;
    const auto found = node.find(name);
    return found == node.end() ? kNone : *found;
}

[[noreturn]] void Refuse(const std::string& query, const std::string& why) {
    throw platform::Error(platform::kInvalidArg, "the definition query '" + InMessage(query) + "' " + why +
                                                     ": a definition query is a filter of the layer's rows");
}

// The strings of a list of {"String": {"sval": ...}} nodes.
std::vector<std::string> Names(const nlohmann::json& list) {
    std::vector<std::string> names;
    if (!list.is_array()) return names;
    for (const auto& item : list) {
        if (item.contains("String")) names.push_back(item["String"].value("sval", ""));
    }
    return names;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ".") + name;
    return text;
}

// The schema an allowed function lives in, or empty when the function is not allowed.
std::string SchemaOfFunction(const std::string& name, const FilterScope& scope) {
    const auto lower = AsciiLower(name);
    if (kCatalogFunctions.count(lower)) return "pg_catalog";
    if (kPostgisFunctions.count(lower)) return scope.postgis_schema;
    return {};
}

// A function call the written-back text is to name with its schema: where its name starts
// in the text, and the schema.
struct UnqualifiedCall {
    std::size_t at = 0;
    std::string schema;
};

// Checks every node of the WHERE clause, without recursion: the tree comes from the user.
// Returns the calls that name no schema.
std::vector<UnqualifiedCall> RequireFilterNodes(const nlohmann::json& where, const std::string& query,
                                                const FilterScope& scope) {
    std::vector<UnqualifiedCall> unqualified;
    std::vector<std::pair<const nlohmann::json*, std::size_t>> pending{{&where, 0}};
    std::size_t nodes = 0;
    while (!pending.empty()) {
        const auto [at, depth] = pending.back();
        const auto& value = *at;
        pending.pop_back();
        if (value.is_array()) {
            for (const auto& item : value) pending.emplace_back(&item, depth);
            continue;
        }
        if (!value.is_object()) continue;
        for (const auto& [key, inner] : value.items()) {
            const bool node = !key.empty() && key[0] >= 'A' && key[0] <= 'Z';
            if (node) {
                if (!kNodes.count(key)) Refuse(query, "may not hold a " + key);
                if (++nodes > kMaxNodes) Refuse(query, "has more than " + std::to_string(kMaxNodes) + " terms");
                if (depth + 1 > kMaxDepth) Refuse(query, "nests more than " + std::to_string(kMaxDepth) + " terms deep");
            }
            const std::size_t inner_depth = depth + (node ? 1 : 0);
            if (key == "FuncCall") {
                const auto names = Names(Field(inner, "funcname"));
                const auto schema = names.empty() || names.size() > 2 ? std::string() : SchemaOfFunction(names.back(), scope);
                if (schema.empty() || (names.size() == 2 && names[0] != schema)) {
                    Refuse(query, "may not call the function " + InMessage(Joined(names), 100));
                }
                if (names.size() == 1) {
                    const auto& location = Field(inner, "location");
                    if (!location.is_number_unsigned()) Refuse(query, "cannot be written back as one expression");
                    unqualified.push_back({location.get<std::size_t>(), schema});
                }
                for (const char* field : {"agg_order", "agg_filter", "over", "agg_star", "agg_distinct", "func_variadic"}) {
                    const auto& set = Field(inner, field);
                    if (!set.is_null() && set != false) Refuse(query, "may not aggregate or window");
                }
            } else if (key == "A_Expr") {
                if (!kExpressionKinds.count(inner.value("kind", std::string()))) {
                    Refuse(query, "may not use the expression " + inner.value("kind", std::string("?")));
                }
                const auto names = Names(Field(inner, "name"));
                const bool plain = names.size() == 1 || (names.size() == 2 && AsciiLower(names[0]) == "pg_catalog");
                if (names.empty() || !plain || !kOperators.count(names.back())) {
                    Refuse(query, "may not use the operator " + InMessage(Joined(names), 100));
                }
            } else if (key == "TypeCast") {
                const auto names = Names(Field(Field(inner, "typeName"), "names"));
                const bool schema_allowed =
                    names.size() == 1 || (names.size() == 2 && (names[0] == "pg_catalog" || names[0] == scope.postgis_schema));
                if (names.empty() || names.size() > 2 || !schema_allowed || !kTypes.count(AsciiLower(names.back()))) {
                    Refuse(query, "may not cast to the type " + InMessage(Joined(names), 100));
                }
                pending.emplace_back(&Field(inner, "arg"), inner_depth);
                continue;
            } else if (key == "CollateClause") {
                const auto names = Names(Field(inner, "collname"));
                const bool plain = names.size() == 1 || (names.size() == 2 && names[0] == "pg_catalog");
                if (!plain) Refuse(query, "may not use the collation " + InMessage(Joined(names), 100));
                pending.emplace_back(&Field(inner, "arg"), inner_depth);
                continue;
            } else if (key == "ColumnRef") {
                // The last name must be a column of the table: the server reads "t.name"
                // as name(t) when the table has no column of that name.
                const auto& fields = Field(inner, "fields");
                for (const auto& field : fields) {
                    if (!field.contains("String")) Refuse(query, "may only name columns");
                }
                const auto names = Names(fields);
                if (names.empty() || !scope.columns.count(names.back())) {
                    Refuse(query, "names " + InMessage(Joined(names), 100) + ", which is not a column of the table");
                }
                continue;
            }
            pending.emplace_back(&inner, inner_depth);
        }
    }
    return unqualified;
}

template <typename Result>
using Owned = std::unique_ptr<Result, void (*)(Result*)>;

// The WHERE clause of `select` ("SELECT 1 WHERE (...)"), checked; its unqualified calls.
std::vector<UnqualifiedCall> CheckedFilter(const std::string& select, const std::string& query, const FilterScope& scope) {
    const Owned<PgQueryParseResult> parsed(new PgQueryParseResult(pg_query_parse(select.c_str())),
                                           [](PgQueryParseResult* result) {
                                               pg_query_free_parse_result(*result);
                                               delete result;
                                           });
    if (parsed->error) Refuse(query, std::string("is not valid: ") + InMessage(parsed->error->message, 200));
    // The parser hands bytes that are not UTF-8 through to its tree, which JSON cannot hold.
    const auto tree = nlohmann::json::parse(parsed->parse_tree, nullptr, false);
    if (tree.is_discarded()) Refuse(query, "is not UTF-8 text");
    const auto& statements = Field(tree, "stmts");
    if (!statements.is_array() || statements.size() != 1 ||
        Field(Field(statements[0], "stmt"), "SelectStmt").is_null()) {
        Refuse(query, "must be one expression");
    }
    const auto& statement = Field(Field(statements[0], "stmt"), "SelectStmt");
    for (const auto& [key, value] : statement.items()) {
        const bool expected = key == "targetList" || key == "whereClause" || key == "limitOption" ||
                              (key == "op" && value == "SETOP_NONE");
        if (!expected) Refuse(query, "must be one expression");
    }
    if (Field(statement, "whereClause").is_null() || Field(statement, "targetList").size() != 1) {
        Refuse(query, "must be one expression");
    }
    return RequireFilterNodes(Field(statement, "whereClause"), query, scope);
}

std::string WrittenBack(const std::string& query, const FilterScope& scope) {
    // Wrapped as the server wraps it in its statements.
    std::string select = "SELECT 1 WHERE (" + query + ")";
    auto unqualified = CheckedFilter(select, query, scope);
    // Every function is named with its schema, so that the server cannot pick another of
    // the same name in a schema of its search path; the qualified text is checked anew.
    std::sort(unqualified.begin(), unqualified.end(),
              [](const auto& a, const auto& b) { return a.at > b.at; });
    for (const auto& call : unqualified) {
        if (call.at > select.size()) Refuse(query, "cannot be written back as one expression");
        select.insert(call.at, QuotedIdentifier(call.schema) + ".");
    }
    if (!unqualified.empty() && !CheckedFilter(select, query, scope).empty()) {
        Refuse(query, "cannot be written back as one expression");
    }

    // The server runs the expression written back from the tree that was checked.
    const Owned<PgQueryProtobufParseResult> protobuf(
        new PgQueryProtobufParseResult(pg_query_parse_protobuf(select.c_str())),
        [](PgQueryProtobufParseResult* result) {
            pg_query_free_protobuf_parse_result(*result);
            delete result;
        });
    if (protobuf->error) Refuse(query, std::string("is not valid: ") + InMessage(protobuf->error->message, 200));
    const Owned<PgQueryDeparseResult> written(new PgQueryDeparseResult(pg_query_deparse_protobuf(protobuf->parse_tree)),
                                              [](PgQueryDeparseResult* result) {
                                                  pg_query_free_deparse_result(*result);
                                                  delete result;
                                              });
    constexpr std::string_view kPrefix = "SELECT 1 WHERE ";
    if (written->error || !std::string_view(written->query).starts_with(kPrefix)) {
        Refuse(query, "cannot be written back as one expression");
    }
    return std::string(written->query + kPrefix.size());
}

// Runs `work` on a thread of its own whose stack is `size` bytes, and waits for it; what it
// throws is thrown here.
void OnStackOf(std::size_t size, const std::function<void()>& work) {
    struct Call {
        const std::function<void()>* work;
        std::exception_ptr failure;
    } call{&work, nullptr};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, size);
    pthread_t thread;
    const int started = pthread_create(
        &thread, &attributes,
        [](void* argument) -> void* {
            auto& running = *static_cast<Call*>(argument);
            try {
                (*running.work)();
            } catch (...) {
                running.failure = std::current_exception();
            }
            return nullptr;
        },
        &call);
    pthread_attr_destroy(&attributes);
    if (started != 0) {
        throw platform::Error(platform::kFail, "no thread could be started to read a definition query");
    }
    pthread_join(thread, nullptr);
    if (call.failure) std::rethrow_exception(call.failure);
}

}  // namespace

std::string DefinitionFilter(const std::string& query, const FilterScope& scope) {
    if (query.size() > kMaxQueryBytes) {
        Refuse(query, "is longer than " + std::to_string(kMaxQueryBytes) + " bytes");
    }
    std::string filter;
    OnStackOf(kParserStack, [&] { filter = WrittenBack(query, scope); });
    return filter;
}

}  // namespace selvane::gis
