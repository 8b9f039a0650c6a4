#pragma once

// The failures of a search that every kind of feature class reports: built in one place so
// that the same fault reads the same wherever the layer's data lives.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/arcobjects.h"

namespace selvane::gis {

/// "Invalid shape in CULPRIT, FID n: REASON": a row's shape that no predicate can take.
platform::Error InvalidShapeError(const std::string& culprit, std::int64_t fid, const std::string& reason);

/// "Cannot evaluate RELATION on CULPRIT[, FID n]: REASON": the engine failed on a row, or
/// (without `fid`) on the whole statement.
platform::Error CannotEvaluateError(platform::esriSpatialRelEnum relation, const std::string& culprit,
                                    std::optional<std::int64_t> fid, const std::string& reason,
                                    std::int32_t number = platform::kFail);

/// The reason given for a shape with a coordinate that is not a finite number.
inline constexpr const char* kNotFiniteReason = "a coordinate is not a finite number (NaN or infinite)";

}  // namespace selvane::gis
