#pragma once

// Calling the host: a failed call becomes the system's error, text properties come back as
// UTF-8, and a port object can hand the host's own object back to it.

#include "win32/windows_include.h"

#include <memory>
#include <string>

#include "com_ref.h"
#include "platform/arcobjects.h"
#include "text.h"

namespace selvane::com {

/// Throws the host's error for a failed call, with the description its error info gives.
void Check(HRESULT result, const char* call);

/// A text property of the host: `get` fills the BSTR it is given.
template <typename Get>
std::string ReadText(Get&& get, const char* call) {
    UniqueBstr text;
    Check(get(text.Out()), call);
    return text.Text();
}

/// A property of the host: `get` fills the value it is given.
template <typename Value, typename Get>
Value ReadValue(Get&& get, const char* call) {
    Value value{};
    Check(get(&value), call);
    return value;
}

/// An object the host hands out: `get` fills the interface pointer it is given (or leaves it
/// null for none).
template <typename Interface, typename Get>
ComRef<Interface> ReadObject(Get&& get, const char* call) {
    ComRef<Interface> object;
    Check(get(object.Out()), call);
    return object;
}

/// The host object behind a port object, for the ports that hand objects back to the host.
class HostObject : public virtual platform::IObject {
public:
    virtual IUnknown* Unknown() const = 0;
};

/// Any other host object: the system can only ask what it is.
class PlainObject final : public HostObject {
public:
    explicit PlainObject(ComRef<::IUnknown> object) : m_object(std::move(object)) {}
    IUnknown* Unknown() const override { return m_object.Get(); }

private:
    ComRef<::IUnknown> m_object;
};

}  // namespace selvane::com
