#pragma once

#include <algorithm>
#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "gis/support/message_text.h"

namespace selvane::gis {

/// The layers that show a feature class, for the texts that name the class.
class LayerNames {
public:
    /// Adds a layer's name, once; in constant time, however many layers show the class.
    void Add(const std::string& name) {
        if (m_seen.insert(name).second) m_names.push_back(name);
    }
    /// "layer Lots A (SOURCE)", "layers A, B (SOURCE)", or SOURCE alone when no layer shows
    /// it; past the first few names, how many more.
    std::string Around(const std::string& source) const {
        if (m_names.empty()) return InMessage(source);
        std::string text = m_names.size() == 1 ? "layer " : "layers ";
        const std::size_t listed = std::min(m_names.size(), kListed);
        for (std::size_t index = 0; index < listed; ++index) text += (index ? ", " : "") + InMessage(m_names[index], 100);
        if (m_names.size() > listed) text += " and " + std::to_string(m_names.size() - listed) + " more";
        return text + " (" + InMessage(source) + ")";
    }

private:
    static constexpr std::size_t kListed = 10;
    std::vector<std::string> m_names;
    std::unordered_set<std::string> m_seen;
};

}  // namespace selvane::gis
