#pragma once

#include <array>
#include <string_view>

#include "platform/arcobjects.h"

namespace selvane::dialogs {

/// One entry of the relationship list and the relation code it stands for.
struct Relationship {
    std::string_view text;
    platform::esriSpatialRelEnum code;
};

/// The relationship list, in list order. The Layer #1 shape is the relation's first
/// operand: "WHOLLY CONTAIN" selects the Layer #2 features that wholly contain it.
inline constexpr std::array<Relationship, 7> kRelationships{{
    {"INTERSECT", platform::esriSpatialRelIntersects},
    {"ENVELOPE INTERSECT", platform::esriSpatialRelEnvelopeIntersects},
    {"TOUCH", platform::esriSpatialRelTouches},
    {"OVERLAP", platform::esriSpatialRelOverlaps},
    {"CROSS", platform::esriSpatialRelCrosses},
    {"WHOLLY CONTAIN", platform::esriSpatialRelWithin},
    {"ARE WHOLLY CONTAINED BY", platform::esriSpatialRelContains},
}};

/// The code of a list text, compared exactly; esriSpatialRelUndefined for any other text.
constexpr platform::esriSpatialRelEnum RelationCode(std::string_view text) {
    for (const auto& relationship : kRelationships) {
        if (relationship.text == text) return relationship.code;
    }
    return platform::esriSpatialRelUndefined;
}

}  // namespace selvane::dialogs
