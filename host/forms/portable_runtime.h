#pragma once

// What the portable forms runtimes (console, Qt) share: text compared as the user's
// locale compares it, over ICU, and a shell Open that a host may take over (tests,
// screenshots, the command line's log).

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "forms/locale_text.h"
#include "platform/runtime.h"

namespace selvane::forms {

class PortableRuntime : public platform::IRuntime {
public:
    /// Receives each shell Open: the owner window and the target.
    using ShellSink = std::function<void(std::intptr_t owner, const std::string& target)>;

    /// Takes every shell Open from now on, in place of what the runtime does with one.
    void SetShellSink(ShellSink sink) { m_shell = std::move(sink); }
    bool TextEqualsIgnoringCase(const std::string& left, const std::string& right) override {
        return m_locale_text.EqualIgnoringCase(left, right);
    }

protected:
    /// Hands a shell Open to the sink; false when none takes it.
    bool ToShellSink(std::intptr_t owner, const std::string& target) const {
        if (!m_shell) return false;
        m_shell(owner, target);
        return true;
    }

private:
    LocaleText m_locale_text;
    ShellSink m_shell;
};

}  // namespace selvane::forms
