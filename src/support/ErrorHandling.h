#pragma once

// The standard report of unexpected failures, the end of every error trap of the dialogs.

#include <cstdint>
#include <string>

namespace selvane::support {

/// A trapped failure: its number and description.
struct TrappedError {
    std::int32_t number = 0;
    std::string description;
};

/// Turns the exception being handled into number and description. Call only inside a
/// catch block.
TrappedError CurrentError() noexcept;

/// "" for line 0, otherwise "Line : " and the number.
std::string ErrorLineText(std::int32_t line);

/// The location text: procedure, a blank, unit, a blank, the line text.
std::string Location(const std::string& procedure, const std::string& unit, std::int32_t line);

/// The report's text, as the message box shows it.
std::string UnexpectedErrorText(const std::string& location, std::int32_t number,
                                const std::string& description);

/// Hides the status bar's progress bar, then shows the report in a message box.
/// Never throws: a report that cannot hide the bar still shows the box.
void ReportUnexpectedError(const std::string& location, std::int32_t number,
                           const std::string& description) noexcept;

/// ReportUnexpectedError for the exception being handled. Call only inside a catch block.
void ReportCurrentError(const std::string& procedure, const std::string& unit,
                        std::int32_t line) noexcept;

}  // namespace selvane::support
