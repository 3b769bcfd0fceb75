// Milliseconds as the record shows them: across leap days, centuries and before 1970.
#include <gtest/gtest.h>

#include "system/UtcTime.h"

namespace {

TEST(UtcTimeTest, MillisecondsAsIsoText) {
    EXPECT_EQ(UtcMsText(0), "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(UtcMsText(951782400123), "2000-02-29T00:00:00.123Z");
    EXPECT_EQ(UtcMsText(1767225599999), "2025-12-31T23:59:59.999Z");
    EXPECT_EQ(UtcMsText(4102444800000), "2100-01-01T00:00:00.000Z");
    EXPECT_EQ(UtcMsText(-1), "1969-12-31T23:59:59.999Z");
}

}  // namespace
