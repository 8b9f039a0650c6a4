#pragma once

// The cursors every kind of feature class answers with when a search has nothing to run.

#include <exception>
#include <memory>

#include "platform/arcobjects.h"

namespace selvane::gis {

/// No rows: the answer to a null or empty query shape.
class EmptyCursor : public platform::IFeatureCursor {
public:
    std::shared_ptr<platform::IFeature> NextFeature() override { return nullptr; }
};

/// A search that cannot run: its failure comes with the first fetch, as a shape's would.
class FailingCursor : public platform::IFeatureCursor {
public:
    explicit FailingCursor(platform::Error error) : m_failure(std::make_exception_ptr(std::move(error))) {}
    /// Any failure (out of memory, say), thrown again as it was.
    explicit FailingCursor(std::exception_ptr failure) : m_failure(std::move(failure)) {}
    std::shared_ptr<platform::IFeature> NextFeature() override { std::rethrow_exception(m_failure); }

private:
    std::exception_ptr m_failure;
};

}  // namespace selvane::gis
