#pragma once

#include <memory>
#include <string>

#include <unicode/uversion.h>

U_NAMESPACE_BEGIN
class Collator;
U_NAMESPACE_END

namespace selvane::forms {

/// Case-insensitive text equality by the user's locale: ICU collation at secondary
/// strength, so letter case is ignored but accents, blanks and punctuation count.
class LocaleText {
public:
    /// Uses ICU's default locale, which follows the environment (LANG, LC_ALL).
    LocaleText();
    ~LocaleText();
    bool EqualIgnoringCase(const std::string& left, const std::string& right) const;

private:
    std::unique_ptr<icu::Collator> m_collator;
};

}  // namespace selvane::forms
