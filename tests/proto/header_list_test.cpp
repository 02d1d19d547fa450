#include "http/header_list.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

TIdHeaderList Received(std::initializer_list<const char*> lines) {
    TIdHeaderList list;
    for (const char* line : lines) list.Add(line);
    return list;
}

TEST(HeaderListLookup, NameIgnoresCaseAndFirstLineWins) {
    const auto list = Received({"Content-Length:  5 ", "content-length: 7", "X-Empty:"});
    EXPECT_EQ(list.Values("CONTENT-LENGTH"), "5");
    EXPECT_EQ(list.IndexOfName("content-LENGTH"), 0);
    EXPECT_EQ(list.Values("X-Empty"), "");
    EXPECT_EQ(list.Values("Missing"), "");
    EXPECT_EQ(list.IndexOfName("Missing"), -1);
}

TEST(HeaderListLookup, ValueIsTextAfterFirstColon) {
    const auto list = Received({"Location: http://h:81/a", "NoColonLine"});
    EXPECT_EQ(list.Values("Location"), "http://h:81/a");
    EXPECT_EQ(list.Names(0), "Location");
    EXPECT_EQ(list.Names(1), "");
    EXPECT_EQ(list.Values("NoColonLine"), "");
}

TEST(HeaderListLookup, ContinuationLinesJoinWithOneSpace) {
    const auto list = Received({"X-Long: first  ", "   second", "\tthird ", "Next: v", " nextmore"});
    EXPECT_EQ(list.Values("X-Long"), "first second third");
    EXPECT_EQ(list.Values("Next"), "v nextmore");
}

TEST(HeaderListLookup, ContinuationLineIsNotANameLine) {
    const auto list = Received({"A: 1", " B: 2", "B: 3"});
    EXPECT_EQ(list.Values("B"), "3");
    EXPECT_EQ(list.Values("A"), "1 B: 2");
    EXPECT_EQ(list.Names(1), "");
}

TEST(HeaderListLookup, AllValuesKeepsOrderAndContinuations) {
    const auto list = Received({"Set-Cookie: a=1", "Other: x", "set-cookie: b=2;", "  Path=/", "Set-Cookie2: c=3"});
    EXPECT_EQ(list.AllValues("Set-cookie"), (std::vector<std::string>{"a=1", "b=2; Path=/"}));
    EXPECT_EQ(list.AllValues("Set-cookie2"), (std::vector<std::string>{"c=3"}));
    EXPECT_TRUE(list.AllValues("Nope").empty());
}

TEST(HeaderListEdit, SetValueReplacesFirstInPlaceWithoutOldContinuations) {
    auto list = Received({"A: 1", "B: old", " continued", "C: 3", "b: second"});
    list.SetValue("b", "new");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"A: 1", "b: new", "C: 3", "b: second"}));
    list.SetValue("D", "4");
    EXPECT_EQ(list.Lines().back(), "D: 4");
    EXPECT_EQ(list.Count(), 5u);
}

TEST(HeaderListEdit, EmptyValueRemovesFirstLineOnly) {
    auto list = Received({"A: 1", "B: 2", " more", "B: 3"});
    list.SetValue("B", "");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"A: 1", "B: 3"}));
    list.SetValue("Missing", "");
    EXPECT_EQ(list.Count(), 2u);
}

TEST(HeaderListEdit, RemoveDropsEveryLineOfThatName) {
    auto list = Received({"A: 1", "B: 2", " more", "C: 3", "b: 4"});
    list.Remove("B");
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"A: 1", "C: 3"}));
    list.Clear();
    EXPECT_EQ(list.Count(), 0u);
}

// Joins folded lines back as a receiver reads continuations.
std::string Unfold(const std::vector<std::string>& lines) {
    TIdHeaderList list;
    for (const auto& line : lines) list.Add(line);
    return list.Values(list.Names(0));
}

TEST(HeaderListFold, ShortLinesAreSentAsTheyAre) {
    TIdHeaderList list;
    list.AddValue("Host", "HOST");
    list.AddValue("Cookie", std::string(1024 - 8, 'a'));
    EXPECT_EQ(list.FoldedLines(), list.Lines());
}

TEST(HeaderListFold, LongCookieLineBreaksAfterSeparators) {
    std::string value;
    for (int i = 0; i < 200; ++i) value += (i ? "; c" : "c") + std::to_string(i) + "=vvvvvv";
    TIdHeaderList list;
    list.AddValue("Cookie", value);
    const auto folded = list.FoldedLines();
    ASSERT_GE(folded.size(), 2u);
    EXPECT_EQ(folded[0].rfind("Cookie: c0=vvvvvv;", 0), 0u);
    for (std::size_t i = 0; i < folded.size(); ++i) {
        EXPECT_LE(folded[i].size(), 1024u);
        EXPECT_NE(folded[i].back(), ' ');
        if (i > 0) {
            EXPECT_EQ(folded[i][0], ' ');
            EXPECT_NE(folded[i][1], ' ');
        }
        // Every piece ends after a separator, never inside a cookie.
        if (i + 1 < folded.size()) {
            EXPECT_EQ(folded[i].back(), ';');
        }
    }
    EXPECT_EQ(Unfold(folded), value);
}

TEST(HeaderListFold, NoBreakInsideQuotes) {
    const std::string quoted = "\"" + std::string(600, 'q') + " " + std::string(600, 'q') + "\"";
    const std::vector<std::string> folded = FoldHeaderLine("X: a " + quoted);
    ASSERT_EQ(folded.size(), 2u);
    EXPECT_EQ(folded[0], "X: a");
    EXPECT_EQ(folded[1], " " + quoted);
}

TEST(HeaderListFold, LineWithoutBreakPointStaysWhole) {
    const std::string line = "Cookie: " + std::string(3000, 'x');
    EXPECT_EQ(FoldHeaderLine(line), std::vector<std::string>{line});
}

TEST(HeaderListFold, BreakPointBeyondLimitIsUsedWhenNoneBefore) {
    const std::string line = "Cookie: " + std::string(2000, 'x') + ", tail";
    const auto folded = FoldHeaderLine(line);
    EXPECT_EQ(folded, (std::vector<std::string>{"Cookie: " + std::string(2000, 'x') + ",", " tail"}));
}

TEST(HeaderListFold, LineBreaksInsideValuesNeverReachTheWire) {
    TIdHeaderList list;
    list.AddValue("Host", "evil\r\nX-Injected: 1");
    const auto folded = list.FoldedLines();
    ASSERT_EQ(folded.size(), 1u);
    EXPECT_EQ(folded[0].find_first_of("\r\n"), std::string::npos);
}

}  // namespace
}  // namespace quorvel
