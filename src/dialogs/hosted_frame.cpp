#include "dialogs/hosted_frame.h"

#include "support/ErrorHandling.h"

namespace selvane::dialogs {

std::shared_ptr<platform::IModelessFrame> HostedFrame(std::shared_ptr<platform::IModelessFrame>& cached,
                                                      const std::shared_ptr<platform::IHostedForm>& dialog,
                                                      const std::string& caption, const char* unit,
                                                      HostingFailures hosting) {
    if (cached) return cached;
    try {
        cached = platform::ModelessFrame();
        if (!cached) throw platform::Error(platform::kPointer, "The application gave no modeless frame");
    } catch (...) {
        support::ReportCurrentError("Frame", unit, 2);
        return nullptr;
    }
    auto frame = cached;  // the nested read may not replace it, but hold it all the same
    if (hosting == HostingFailures::Thrown) {
        frame->Create(dialog);
        frame->SetCaption(caption);
        return frame;
    }
    try {
        frame->Create(dialog);
    } catch (...) {
    }
    try {
        frame->SetCaption(caption);
    } catch (...) {
    }
    return frame;
}

}  // namespace selvane::dialogs
