#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace selvane::gis {

/// The layers that show a feature class, for the texts that name the class.
class LayerNames {
public:
    /// Adds a layer's name, once.
    void Add(const std::string& name) {
        if (std::find(m_names.begin(), m_names.end(), name) == m_names.end()) m_names.push_back(name);
    }
    /// "layer Lots A (SOURCE)", "layers A, B (SOURCE)", or SOURCE alone when no layer shows it.
    std::string Around(const std::string& source) const {
        if (m_names.empty()) return source;
        std::string text = m_names.size() == 1 ? "layer " : "layers ";
        for (std::size_t index = 0; index < m_names.size(); ++index) text += (index ? ", " : "") + m_names[index];
        return text + " (" + source + ")";
    }

private:
    std::vector<std::string> m_names;
};

}  // namespace selvane::gis
