#pragma once

// A statement's parameters as the three arrays libpq takes.

#include <vector>

#include "gis/postgis/connection.h"

namespace selvane::gis {

struct ParameterArrays {
    explicit ParameterArrays(const std::vector<PgParameter>& parameters) {
        for (const auto& parameter : parameters) {
            values.push_back(parameter.null ? nullptr : parameter.value.data());
            lengths.push_back(static_cast<int>(parameter.value.size()));
            formats.push_back(parameter.binary ? 1 : 0);
        }
    }
    int Count() const { return static_cast<int>(values.size()); }
    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
};

}  // namespace selvane::gis
