#pragma once

#include <memory>

namespace selvane::platform {

/// Root of every platform interface. Objects are shared (`std::shared_ptr`), and asking
/// an object whether it supports another interface is `std::dynamic_pointer_cast`;
/// the virtual base lets one object implement many interfaces without ambiguity.
class IObject {
public:
    virtual ~IObject() = default;
};

}  // namespace selvane::platform
