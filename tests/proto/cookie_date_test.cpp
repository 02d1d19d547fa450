#include "http/cookie_date.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

// Sun, 06 Nov 1994 08:49:37 GMT
constexpr std::int64_t kExample = 784111777;

std::int64_t Seconds(std::string_view text) {
    const auto date = ParseCookieDate(text);
    return date ? date->time_since_epoch().count() : -1;
}

TEST(CookieDate, AllServerFormsReadTheSameInstant) {
    EXPECT_EQ(Seconds("Sun, 06 Nov 1994 08:49:37 GMT"), kExample);     // RFC 1123
    EXPECT_EQ(Seconds("Sunday, 06-Nov-94 08:49:37 GMT"), kExample);    // RFC 850
    EXPECT_EQ(Seconds("Sun Nov  6 08:49:37 1994"), kExample);          // asctime
    EXPECT_EQ(Seconds("Sun, 06-Nov-1994 08:49:37 GMT"), kExample);     // Netscape
    EXPECT_EQ(Seconds("sun, 6 NOV 1994 8:49:37 gmt"), kExample);
}

TEST(CookieDate, TwoDigitYearsPivotAt70) {
    EXPECT_EQ(Seconds("Thu, 01-Jan-70 00:00:00 GMT"), 0);
    EXPECT_EQ(Seconds("Sat, 01-Jan-00 00:00:00 GMT"), 946684800);
}

TEST(CookieDate, FarFutureDoesNotOverflow) {
    EXPECT_EQ(Seconds("Fri, 31 Dec 9999 23:59:59 GMT"), 253402300799);
}

TEST(CookieDate, InvalidDatesAreRejected) {
    for (const char* text : {"", "garbage", "Mon, 30 Feb 2021 10:00:00 GMT", "Mon, 01 Foo 2021 10:00:00 GMT",
                             "Mon, 01 Mar 2021 24:00:00 GMT", "Mon, 01 Mar 2021 GMT", "Mon, 01 Mar 10:00:00 GMT",
                             "Mon, 01 Mar 99999 10:00:00 GMT"}) {
        EXPECT_FALSE(ParseCookieDate(text).has_value()) << text;
    }
}

}  // namespace
}  // namespace quorvel
