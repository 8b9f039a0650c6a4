#include "forms/locale_text.h"

#include <unicode/coll.h>
#include <unicode/locid.h>
#include <unicode/stringpiece.h>

#include <string>

#include "platform/error.h"

namespace selvane::forms {

LocaleText::LocaleText() {
    UErrorCode status = U_ZERO_ERROR;
    // The C and POSIX locales map to en_US_POSIX, whose collation orders by code point
    // and so tells cases apart; the root collation serves such users instead.
    icu::Locale locale = icu::Locale::getDefault();
    if (std::string(locale.getName()) == "en_US_POSIX") locale = icu::Locale::getRoot();
    m_collator.reset(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status) || !m_collator) {
        throw platform::Error(platform::kFail, std::string("Cannot create a collator: ") + u_errorName(status));
    }
    m_collator->setStrength(icu::Collator::SECONDARY);
}

LocaleText::~LocaleText() = default;

bool LocaleText::EqualIgnoringCase(const std::string& left, const std::string& right) const {
    UErrorCode status = U_ZERO_ERROR;
    const auto result = m_collator->compareUTF8(icu::StringPiece(left.data(), static_cast<int32_t>(left.size())),
                                                icu::StringPiece(right.data(), static_cast<int32_t>(right.size())),
                                                status);
    if (U_FAILURE(status)) throw platform::Error(platform::kFail, "Cannot compare texts");
    return result == UCOL_EQUAL;
}

}  // namespace selvane::forms
