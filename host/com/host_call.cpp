#include "host_call.h"

#include "host_error.h"

namespace selvane::com {

void Check(HRESULT result, const char* call) {
    if (SUCCEEDED(result)) return;
    std::string description;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info) {
        UniqueBstr text;
        if (SUCCEEDED(info->GetDescription(text.Out()))) description = text.Text();
        info->Release();
    }
    throw HostError(static_cast<std::int32_t>(result), description, call);
}

}  // namespace selvane::com
