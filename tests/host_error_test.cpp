// A failed call of the Windows host becomes the system's error with the host's number, so
// that the standard report shows the host's own error numbers and words.

#include <gtest/gtest.h>

#include "com/host_error.h"

namespace selvane::testing {
namespace {

TEST(HostError, KeepsTheHostsNumberAndDescriptionOrNamesTheCall) {
    const auto described = com::HostError(static_cast<std::int32_t>(0x80040154), "Class not registered", "AppRef");
    EXPECT_EQ(described.Number(), -2147221164);
    EXPECT_STREQ(described.what(), "Class not registered");

    const auto bare = com::HostError(static_cast<std::int32_t>(0x80004005), "", "IMap.Layer");
    EXPECT_EQ(bare.Number(), -2147467259);
    EXPECT_STREQ(bare.what(), "The host's IMap.Layer failed (0x80004005)");
}

}  // namespace
}  // namespace selvane::testing
