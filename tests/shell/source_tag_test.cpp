#include "shell/source_tag.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel {
namespace {

struct TTagCase {
    const char* fileName;
    const char* tag;
};

TEST(DeriveSourceTag, FollowsTheTagTable) {
    const TTagCase cases[] = {
        {"setup.exe", "none"},
        {"setup_abc.exe", "abc"},
        {"a_b_c.exe", "b_c"},
        {"_x.exe", "x"},
        {"SETUP_ABC.EXE", "ABC"},
        {"ab_.exe", ""},
        {"abc_.ex", ""},
        {"a_bcdefg", "bc"},
        {"a_bc", ""},
        {"x_tag.tar.exe", "tag.tar"},
        {"C:\\my_dir\\setup.exe", "none"},
        {"SETUP_~1.EXE", "~1"},
        {"", "none"},
        {"_", ""},
        {"a_b c%20d.exe", "b c%20d"},
    };
    for (const TTagCase& c : cases) EXPECT_EQ(DeriveSourceTag(c.fileName), c.tag) << c.fileName;
}

TEST(DeriveSourceTag, SearchesOnlyAfterTheLastBackslashOrColon) {
    EXPECT_EQ(DeriveSourceTag("C:\\my_dir\\Quorvel_demo.exe"), "demo");
    EXPECT_EQ(DeriveSourceTag("C:Quorvel_demo.exe"), "demo");
    EXPECT_EQ(DeriveSourceTag("\\\\server\\share_x\\setup_abc.exe"), "abc");
    EXPECT_EQ(DeriveSourceTag("C:\\dir\\"), "none");
}

TEST(DeriveSourceTag, CountsUtf16CodeUnits) {
    // Non-ASCII letters before the last four units stay whole.
    EXPECT_EQ(DeriveSourceTag("setup_\xC3\xA9t\xC3\xA9.exe"), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(DeriveSourceTag("\xC3\x9C_ab.exe"), "ab");
    // "a_bcdé": six units, so nothing is left (seven bytes would leave "b").
    EXPECT_EQ(DeriveSourceTag("a_bcd\xC3\xA9"), "");
    EXPECT_EQ(DeriveSourceTag("a_bcd\xC3\xA9" "f"), "b");
    // An astral character is two units: "a_bc" plus two of them drops both.
    EXPECT_EQ(DeriveSourceTag("a_bc\xF0\x9F\x98\x80\xF0\x9F\x98\x80"), "bc");
    EXPECT_EQ(DeriveSourceTag("a_\xF0\x9F\x98\x80x.exe"), "\xF0\x9F\x98\x80x");
}

TEST(DeriveSourceTag, CutThroughASurrogatePairLeavesAReplacementCharacter) {
    // "a_xy" + U+1F600 + "abc": the four dropped units start with the pair's low half.
    EXPECT_EQ(DeriveSourceTag("a_xy\xF0\x9F\x98\x80" "abc"), "xy\xEF\xBF\xBD");
}

TEST(ModuleFileName, KeepsWhatFollowsTheLastSeparator) {
    EXPECT_EQ(ModuleFileName("C:\\a\\b.exe"), "b.exe");
    EXPECT_EQ(ModuleFileName("C:b.exe"), "b.exe");
    EXPECT_EQ(ModuleFileName("b.exe"), "b.exe");
    EXPECT_EQ(ModuleFileName("/opt/quorvel/b.exe"), "/opt/quorvel/b.exe");
}

TEST(PosixBaseName, KeepsWhatFollowsTheLastSlash) {
    EXPECT_EQ(PosixBaseName("/opt/my_dir/Quorvel_demo.bin"), "Quorvel_demo.bin");
    EXPECT_EQ(DeriveSourceTag(PosixBaseName("/opt/my_dir/Quorvel_demo.bin")), "demo");
    EXPECT_EQ(DeriveSourceTag(PosixBaseName("/opt/my_dir/setup")), "none");
    EXPECT_EQ(PosixBaseName("setup"), "setup");
    EXPECT_EQ(PosixBaseName("/dir/"), "");
}

TEST(ApplicationTitle, CutsAtTheFirstDotAndLowersAllButTheFirstCharacter) {
    EXPECT_EQ(ApplicationTitle("Setup_ABC.beta.exe"), "Setup_abc");
    EXPECT_EQ(ApplicationTitle("C:\\Program Files\\QUORVEL.EXE"), "Quorvel");
    EXPECT_EQ(ApplicationTitle("quorvel"), "quorvel");
    EXPECT_EQ(ApplicationTitle(".hidden"), "");
    EXPECT_EQ(ApplicationTitle(""), "");
    // The first character stays as it is, whatever its case; every later
    // one is lowered, not only ASCII letters.
    EXPECT_EQ(ApplicationTitle("\xC3\x89TE.exe"), "\xC3\x89te");
    EXPECT_EQ(ApplicationTitle("SETUP\xC3\x84.exe"), "Setup\xC3\xA4");
    EXPECT_EQ(ApplicationTitle("\xC3\x89" "COLE_X.exe"), "\xC3\x89" "cole_x");
    EXPECT_EQ(ApplicationTitle("X\xD0\x9F\xCE\xA3.exe"), "X\xD0\xBF\xCF\x83");  // Cyrillic, Greek
}

}  // namespace
}  // namespace quorvel
