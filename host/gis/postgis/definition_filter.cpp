#include "gis/postgis/definition_filter.h"

#include <pg_query.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <set>
#include <string_view>
#include <vector>

#include "gis/common/ascii_case.h"
#include "gis/common/message_text.h"
#include "platform/error.h"

namespace selvane::gis {
namespace {

// Nodes a filter is made of.
const std::set<std::string_view> kNodes{"A_Expr",   "BoolExpr",    "NullTest",     "BooleanTest",     "ColumnRef",
                                        "A_Const",  "TypeCast",    "FuncCall",     "List",            "String",
                                        "CaseExpr", "CaseWhen",    "CoalesceExpr", "MinMaxExpr",      "SQLValueFunction",
                                        "Integer",  "Float",       "Boolean",      "NullIfExpr"};

const std::set<std::string_view> kExpressionKinds{
    "AEXPR_OP",      "AEXPR_DISTINCT",    "AEXPR_NOT_DISTINCT",    "AEXPR_NULLIF",          "AEXPR_IN",
    "AEXPR_LIKE",    "AEXPR_ILIKE",       "AEXPR_BETWEEN",         "AEXPR_NOT_BETWEEN",     "AEXPR_BETWEEN_SYM",
    "AEXPR_NOT_BETWEEN_SYM"};

const std::set<std::string_view> kOperators{
    "=",  "<>", "!=", "<",  ">",   "<=",   ">=",   "+",      "-",  "*",  "/",  "%",  "^",  "||", "~~", "!~~",
    "~~*", "!~~*", "~", "!~", "~*", "!~*", "&&", "~=", "@", "<->", "BETWEEN", "NOT BETWEEN", "BETWEEN SYMMETRIC",
    "NOT BETWEEN SYMMETRIC"};

// Pure functions: text, numbers, dates, and PostGIS's predicates and measures.
const std::set<std::string_view> kFunctions{
    "lower", "upper", "length", "char_length", "character_length", "substr", "substring", "trim", "btrim", "ltrim",
    "rtrim", "replace", "left", "right", "concat", "position", "strpos", "starts_with", "abs", "round", "trunc",
    "floor", "ceil", "ceiling", "mod", "power", "sqrt", "sign", "greatest", "least", "date_part", "extract",
    "date_trunc", "make_date", "to_date", "to_char", "to_number", "to_timestamp", "age", "now",
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

// Schemas a function or type may be named in.
const std::set<std::string_view> kSchemas{"pg_catalog", "public"};

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

// Whether a qualified name (schema first) names an allowed one.
bool Allowed(const std::vector<std::string>& names, const std::set<std::string_view>& allowed) {
    if (names.empty() || names.size() > 2) return false;
    if (names.size() == 2 && !kSchemas.count(AsciiLower(names[0]))) return false;
    return allowed.count(AsciiLower(names.back())) > 0;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string text;
    for (const auto& name : names) text += (text.empty() ? "" : ".") + name;
    return text;
}

// Checks every node of the WHERE clause, without recursion: the tree comes from the user.
void RequireFilterNodes(const nlohmann::json& where, const std::string& query) {
    std::vector<const nlohmann::json*> pending{&where};
    while (!pending.empty()) {
        const auto& value = *pending.back();
        pending.pop_back();
        if (value.is_array()) {
            for (const auto& item : value) pending.push_back(&item);
            continue;
        }
        if (!value.is_object()) continue;
        for (const auto& [key, inner] : value.items()) {
            const bool node = !key.empty() && key[0] >= 'A' && key[0] <= 'Z';
            if (node && !kNodes.count(key)) Refuse(query, "may not hold a " + key);
            if (key == "FuncCall") {
                const auto names = Names(Field(inner, "funcname"));
                if (!Allowed(names, kFunctions)) Refuse(query, "may not call the function " + Joined(names));
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
                    Refuse(query, "may not use the operator " + Joined(names));
                }
            } else if (key == "TypeCast") {
                const auto names = Names(Field(Field(inner, "typeName"), "names"));
                if (!Allowed(names, kTypes)) Refuse(query, "may not cast to the type " + Joined(names));
                pending.push_back(&Field(inner, "arg"));
                continue;
            } else if (key == "ColumnRef") {
                for (const auto& field : Field(inner, "fields")) {
                    if (!field.contains("String")) Refuse(query, "may only name columns");
                }
                continue;
            }
            pending.push_back(&inner);
        }
    }
}

}  // namespace

std::string DefinitionFilter(const std::string& query) {
    // Wrapped as the server wraps it in its statements.
    const std::string select = "SELECT 1 WHERE (" + query + ")";
    const std::unique_ptr<PgQueryParseResult, void (*)(PgQueryParseResult*)> parsed(
        new PgQueryParseResult(pg_query_parse(select.c_str())), [](PgQueryParseResult* result) {
            pg_query_free_parse_result(*result);
            delete result;
        });
    if (parsed->error) Refuse(query, std::string("is not valid: ") + parsed->error->message);
    const auto tree = nlohmann::json::parse(parsed->parse_tree);
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
    RequireFilterNodes(Field(statement, "whereClause"), query);

    // The server runs the expression written back from the tree that was checked.
    const std::unique_ptr<PgQueryProtobufParseResult, void (*)(PgQueryProtobufParseResult*)> protobuf(
        new PgQueryProtobufParseResult(pg_query_parse_protobuf(select.c_str())),
        [](PgQueryProtobufParseResult* result) {
            pg_query_free_protobuf_parse_result(*result);
            delete result;
        });
    if (protobuf->error) Refuse(query, std::string("is not valid: ") + protobuf->error->message);
    const std::unique_ptr<PgQueryDeparseResult, void (*)(PgQueryDeparseResult*)> written(
        new PgQueryDeparseResult(pg_query_deparse_protobuf(protobuf->parse_tree)), [](PgQueryDeparseResult* result) {
            pg_query_free_deparse_result(*result);
            delete result;
        });
    constexpr std::string_view kPrefix = "SELECT 1 WHERE ";
    if (written->error || !std::string_view(written->query).starts_with(kPrefix)) {
        Refuse(query, "cannot be written back as one expression");
    }
    return std::string(written->query + kPrefix.size());
}

}  // namespace selvane::gis
