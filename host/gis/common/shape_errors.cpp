#include "gis/common/shape_errors.h"

#include "gis/geometry/spatial_relation.h"

namespace selvane::gis {

platform::Error InvalidShapeError(const std::string& culprit, std::int64_t fid, const std::string& reason) {
    return platform::Error(platform::kFail, "Invalid shape in " + culprit + ", FID " + std::to_string(fid) + ": " + reason);
}

platform::Error CannotEvaluateError(platform::esriSpatialRelEnum relation, const std::string& culprit,
                                    std::optional<std::int64_t> fid, const std::string& reason,
                                    std::int32_t number) {
    std::string text = "Cannot evaluate " + std::string(RelationName(relation)) + " on " + culprit;
    if (fid) text += ", FID " + std::to_string(*fid);
    return platform::Error(number, text + ": " + reason);
}

}  // namespace selvane::gis
