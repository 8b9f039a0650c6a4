#include "support/Tollamar_ArcMap.h"

#include <cstdint>

#include "state/shared_state.h"

namespace selvane::support {
namespace {

// Visits the walk's feature layers in order. Nothing is cached: each layer is asked of
// the focus map (or its group) again, as the document may change between calls. Member
// indexes are full 32-bit counters, so a group of any size is walked in full.
template <typename Visitor>
void WalkFeatureLayers(Visitor&& visit) {
    const std::int32_t layer_count = state::FocusMap()->LayerCount();
    for (std::int32_t index = 0; index < layer_count; ++index) {
        auto layer = state::FocusMap()->Layer(index);
        if (std::dynamic_pointer_cast<platform::IGroupLayer>(layer)) {
            auto group = std::dynamic_pointer_cast<platform::ICompositeLayer>(layer);
            if (!group) throw platform::Error(platform::kNoInterface, "Group layer without members");
            const std::int32_t member_count = group->Count();
            for (std::int32_t member = 0; member < member_count; ++member) {
                auto member_layer = group->Layer(member);
                if (auto feature_layer = std::dynamic_pointer_cast<platform::IFeatureLayer>(member_layer)) {
                    visit(*member_layer, feature_layer);
                }
            }
        } else if (auto feature_layer = std::dynamic_pointer_cast<platform::IFeatureLayer>(layer)) {
            visit(*layer, feature_layer);
        }
    }
}

}  // namespace

void LoadComboWithFeatureLayers(platform::IComboBox& combo) noexcept {
    try {
        combo.Clear();
        WalkFeatureLayers([&](platform::ILayer& layer, const std::shared_ptr<platform::IFeatureLayer>&) {
            combo.AddItem(layer.Name());
        });
    } catch (...) {
        try {
            state::ShowMessage("Error loading map layers");
        } catch (...) {
        }
    }
}

std::shared_ptr<platform::IFeatureLayer> GetFeatureLayerByName(const std::string& name) noexcept {
    try {
        std::shared_ptr<platform::IFeatureLayer> result;
        auto& runtime = platform::Runtime();
        WalkFeatureLayers([&](platform::ILayer& layer, const std::shared_ptr<platform::IFeatureLayer>& feature_layer) {
            if (runtime.TextEqualsIgnoringCase(layer.Name(), name)) result = feature_layer;
        });
        return result;
    } catch (...) {
        try {
            state::ShowMessage("Error: Could not find layer " + name);
        } catch (...) {
        }
        return nullptr;
    }
}

}  // namespace selvane::support
