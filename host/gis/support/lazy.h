#pragma once

// A value worked out on first need and kept, for the caches of an object whose questions
// are const. Like the object that holds it, for one thread at a time.

#include <optional>
#include <utility>

namespace selvane::gis {

template <typename T>
class Lazy {
public:
    Lazy() = default;
    /// A value known from the start.
    explicit Lazy(T value) : m_value(std::move(value)) {}

    /// The value: `make()`'s on the first call (again on the next, should it throw).
    template <typename Make>
    const T& Get(Make&& make) const {
        if (!m_value) m_value.emplace(make());
        return *m_value;
    }

private:
    mutable std::optional<T> m_value;
};

}  // namespace selvane::gis
