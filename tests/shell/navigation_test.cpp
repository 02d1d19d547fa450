#include "shell/navigation.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TEST(BuildStartPageUrl, ConcatenatesHostPathAndTag) {
    EXPECT_EQ(BuildStartPageUrl("app.example", "demo"),
              "http://app.example/quorvl/index1.html?source=demo");
    EXPECT_EQ(BuildStartPageUrl("127.0.0.1:18080", "none"),
              "http://127.0.0.1:18080/quorvl/index1.html?source=none");
    EXPECT_EQ(BuildStartPageUrl("app.example", ""), "http://app.example/quorvl/index1.html?source=");
}

TEST(BuildStartPageUrl, LeavesTheTagUnescaped) {
    EXPECT_EQ(BuildStartPageUrl("h", "a b&c=\xC3\xA9%20"), "http://h/quorvl/index1.html?source=a b&c=\xC3\xA9%20");
}

TEST(IsCloseNavigation, MatchesTheMarkerAnywhere) {
    EXPECT_TRUE(IsCloseNavigation("c100100"));
    EXPECT_TRUE(IsCloseNavigation("http://app.example/close/c100100"));
    EXPECT_TRUE(IsCloseNavigation("http://app.example/?x=c1001001"));
    EXPECT_TRUE(IsCloseNavigation("http://app.example/#c100100"));
    EXPECT_TRUE(IsCloseNavigation("http://c100100.example/"));
    EXPECT_TRUE(IsCloseNavigation("http://h/\xC3\xA9" "c100100\xC3\xA9"));
}

TEST(IsCloseNavigation, RejectsNearMisses) {
    EXPECT_FALSE(IsCloseNavigation(""));
    EXPECT_FALSE(IsCloseNavigation("http://h/C100100"));
    EXPECT_FALSE(IsCloseNavigation("http://h/c10010"));
    EXPECT_FALSE(IsCloseNavigation("http://h/c 100100"));
    EXPECT_FALSE(IsCloseNavigation("http://h/%63100100"));
}

TEST(GuardNavigation, CloseNavigationStaysCancelled) {
    std::int16_t cancel = 0;
    EXPECT_TRUE(GuardNavigation("http://h/c100100", cancel));
    EXPECT_EQ(cancel, -1);
}

TEST(GuardNavigation, OtherNavigationGoesOn) {
    std::int16_t cancel = -1;
    EXPECT_FALSE(GuardNavigation("http://h/quorvl/index1.html?source=none", cancel));
    EXPECT_EQ(cancel, 0);
    cancel = 5;
    EXPECT_FALSE(GuardNavigation("", cancel));
    EXPECT_EQ(cancel, 0);
}

}  // namespace
}  // namespace quorvel
