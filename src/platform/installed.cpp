#include <utility>

#include "platform/arcobjects.h"
#include "platform/runtime.h"

namespace selvane::platform {
namespace {

// The host installs both at start-up, on the UI thread, before any command exists.
std::shared_ptr<IRuntime>& InstalledRuntime() {
    static std::shared_ptr<IRuntime> runtime;
    return runtime;
}

std::shared_ptr<IObjectFactory>& InstalledFactory() {
    static std::shared_ptr<IObjectFactory> factory;
    return factory;
}

}  // namespace

void InstallRuntime(std::shared_ptr<IRuntime> runtime) { InstalledRuntime() = std::move(runtime); }

IRuntime& Runtime() {
    if (!InstalledRuntime()) throw Error(kPointer, "No forms runtime is installed");
    return *InstalledRuntime();
}

void InstallObjectFactory(std::shared_ptr<IObjectFactory> factory) {
    InstalledFactory() = std::move(factory);
}

IObjectFactory& ObjectFactory() {
    if (!InstalledFactory()) throw Error(kPointer, "No object factory is installed");
    return *InstalledFactory();
}

std::shared_ptr<IObject> AppRef() { return ObjectFactory().CreateAppRef(); }
std::shared_ptr<ISpatialFilter> SpatialFilter() { return ObjectFactory().CreateSpatialFilter(); }
std::shared_ptr<IModelessFrame> ModelessFrame() { return ObjectFactory().CreateModelessFrame(); }

std::string DecimalText(std::int32_t number) { return std::to_string(number); }

std::string TrimBlanks(const std::string& text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

}  // namespace selvane::platform
