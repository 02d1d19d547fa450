#include "http/text_encoding.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

std::string Ascii(std::string_view utf8) {
    const Bytes bytes = ToUsAscii(utf8);
    return std::string(bytes.begin(), bytes.end());
}

TEST(UsAscii, EachNonAsciiCharacterIsOneQuestionMark) {
    EXPECT_EQ(Ascii("caf\xC3\xA9!"), "caf?!");             // U+00E9, two bytes
    EXPECT_EQ(Ascii("\xE2\x82\xAC"), "?");                  // U+20AC, three bytes
    EXPECT_EQ(Ascii("a\xF0\x9F\x98\x80z"), "a?z");          // U+1F600, four bytes
    EXPECT_EQ(Ascii("GET / HTTP/1.1"), "GET / HTTP/1.1");
}

TEST(UsAscii, MalformedBytesCountOneEach) {
    EXPECT_EQ(Ascii("a\xFF" "b"), "a?b");
    EXPECT_EQ(Ascii("\xE2\x82"), "??");              // cut short
    EXPECT_EQ(Ascii("\xC0\xAF"), "??");              // overlong "/"
    EXPECT_EQ(Ascii("\xED\xA0\x80"), "???");         // encoded surrogate
    EXPECT_EQ(Ascii("\x80x"), "?x");                 // stray continuation
}

TEST(UsAscii, HighBytesReadBackAsQuestionMarks) {
    const Bytes bytes{'o', 'k', 0xE9, 0x7F};
    EXPECT_EQ(FromUsAscii(bytes), "ok?\x7F");
}

TEST(Utf16, CharactersBeyondBmpUseSurrogatePairs) {
    const std::u16string wide = Utf8ToUtf16("a\xF0\x9F\x98\x80");
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[1], 0xD83D);
    EXPECT_EQ(wide[2], 0xDE00);
    EXPECT_EQ(Utf16ToUtf8(wide), "a\xF0\x9F\x98\x80");
}

TEST(Utf16, LoneSurrogatesAndMalformedBytesBecomeReplacement) {
    EXPECT_EQ(Utf16ToUtf8(std::u16string{u'x', char16_t(0xD83D)}), "x\xEF\xBF\xBD");
    EXPECT_EQ(Utf16ToUtf8(std::u16string{char16_t(0xDE00), u'y'}), "\xEF\xBF\xBDy");
    EXPECT_EQ(Utf8ToUtf16("\xFF"), std::u16string(1, char16_t(0xFFFD)));
}

TEST(Charset, UnknownNameFallsBackToLatin1) {
    const Bytes bytes{'a', 0xE9};
    EXPECT_EQ(DecodeCharset(bytes, "x-unknown"), "a\xC3\xA9");
    EXPECT_EQ(DecodeCharset(bytes, " UTF-8 "), "a\xEF\xBF\xBD");
}

}  // namespace
}  // namespace quorvel
