#include "gis/model/layers.h"

namespace selvane::gis {

std::shared_ptr<platform::ILayer> GroupLayer::Layer(std::int32_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= m_members.size()) {
        throw platform::Error(platform::kInvalidArg, "No member " + std::to_string(index) + " in group " + m_name);
    }
    return m_members[static_cast<std::size_t>(index)];
}

}  // namespace selvane::gis
