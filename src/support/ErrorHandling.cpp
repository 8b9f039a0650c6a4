#include "support/ErrorHandling.h"

#include <exception>
#include <new>

#include "platform/arcobjects.h"
#include "state/shared_state.h"

namespace selvane::support {

TrappedError CurrentError() noexcept {
    try {
        throw;
    } catch (const platform::Error& error) {
        return {error.Number(), error.Description()};
    } catch (const std::bad_alloc&) {
        return {platform::kOutOfMemory, "Out of memory"};
    } catch (const std::exception& error) {
        return {platform::kUnexpected, error.what()};
    } catch (...) {
        return {platform::kFail, "Unknown failure"};
    }
}

std::string ErrorLineText(std::int32_t line) {
    if (line == 0) return {};
    return "Line : " + platform::DecimalText(line);
}

std::string Location(const std::string& procedure, const std::string& unit, std::int32_t line) {
    return procedure + " " + unit + " " + ErrorLineText(line);
}

std::string UnexpectedErrorText(const std::string& location, std::int32_t number,
                                const std::string& description) {
    const std::string newline = "\r\n";
    std::string text;
    text += "We're sorry, an unexpected error has occurred." + newline;
    text += newline;
    text += std::string("Please email ") + state::kSupportEmail + " and we'll" + newline;
    text += "be happy to help out." + newline;
    text += newline;
    text += "Please let us know the following:" + newline;
    text += newline;
    text += "APPLICATION: " + state::ProductName + " " + state::ProductVersion + newline;
    text += "ERROR NUMBER: " + platform::DecimalText(number) + newline;
    text += "MODULE: " + location + newline;
    text += "ERROR DESCRIPTION: " + description + newline;
    text += newline;
    text += "If possible, please attach a screenshot of this" + newline;
    text += "message with your ArcMap project in the background." + newline;
    text += "You can do this by pressing <CTRL> and <Prnt Screen>" + newline;
    text += "and then pasting the image into a graphics application" + newline;
    text += "such as Paint. Saving the image as a JPG is preferrable." + newline;
    text += newline;
    text += "Thank you!";
    return text;
}

void ReportUnexpectedError(const std::string& location, std::int32_t number,
                           const std::string& description) noexcept {
    // A report made before any press has set the application (or with a status bar that
    // fails) skips the hide: the box itself matters more.
    try {
        if (state::HostApplication) {
            auto status_bar = state::Required(state::HostApplication->StatusBar(), "status bar");
            state::Required(status_bar->ProgressBar(), "progress bar")->Hide();
        }
    } catch (...) {
    }
    try {
        state::ShowMessage(UnexpectedErrorText(location, number, description));
    } catch (...) {
    }
}

void ReportCurrentError(const std::string& procedure, const std::string& unit,
                        std::int32_t line) noexcept {
    const TrappedError error = CurrentError();
    ReportUnexpectedError(Location(procedure, unit, line), error.number, error.description);
}

}  // namespace selvane::support
