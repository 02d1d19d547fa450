#include "http/http_text.h"

#include <gtest/gtest.h>

#include "http/http.h"

namespace quorvel {
namespace {

TEST(StatusCode, IsTheNumberAfterTheFirstSpace) {
    EXPECT_EQ(ParseResponseCode("HTTP/1.1 200 OK"), 200);
    EXPECT_EQ(ParseResponseCode("HTTP/1.0 404 Not Found"), 404);
    EXPECT_EQ(ParseResponseCode("HTTP/1.1  302   Found"), 302);  // trimmed after the first space
    EXPECT_EQ(ParseResponseCode("ICY 204"), 204);                 // the protocol token is not examined
}

TEST(StatusCode, IsMinusOneWithoutANumber) {
    EXPECT_EQ(ParseResponseCode("garbage"), -1);
    EXPECT_EQ(ParseResponseCode(""), -1);
    EXPECT_EQ(ParseResponseCode("HTTP/1.1 OK"), -1);
    EXPECT_EQ(ParseResponseCode("HTTP/1.1 20x OK"), -1);
    EXPECT_EQ(ParseResponseCode("HTTP/1.1 99999999999 OK"), -1);
}

TEST(StatusCode, IsReadAnewFromTheStatusLine) {
    TIdHTTPResponse response;
    EXPECT_EQ(response.ResponseCode(), -1);
    response.ResponseText = "HTTP/1.1 201 Created";
    EXPECT_EQ(response.ResponseCode(), 201);
    response.ResponseText = "HTTP/1.1 500 Oops";
    EXPECT_EQ(response.ResponseCode(), 500);
}

TEST(ContentLengthValue, IsA64BitDecimalOrMinusOne) {
    EXPECT_EQ(ParseContentLength(" 5 "), 5);
    EXPECT_EQ(ParseContentLength("0"), 0);
    EXPECT_EQ(ParseContentLength("1000000000000000"), 1000000000000000);
    EXPECT_EQ(ParseContentLength(""), -1);
    EXPECT_EQ(ParseContentLength("5x"), -1);
    EXPECT_EQ(ParseContentLength("-5"), -1);
    EXPECT_EQ(ParseContentLength("99999999999999999999"), -1);
    EXPECT_EQ(ParseContentLength("9223372036854775807"), INT64_MAX);
    EXPECT_EQ(ParseContentLength("9223372036854775808"), -1);
    EXPECT_EQ(ParseContentLength("+0009223372036854775807"), INT64_MAX);
}

TEST(ChunkSize, IsHexBeforeTheFirstSpaceWithTrailingTabsIgnored) {
    EXPECT_EQ(ParseChunkSize("5"), 5);
    EXPECT_EQ(ParseChunkSize("1aF"), 0x1AF);
    EXPECT_EQ(ParseChunkSize("a comment"), 10);
    EXPECT_EQ(ParseChunkSize("10\t\t"), 16);
    EXPECT_EQ(ParseChunkSize("ffffffffffff"), 0xFFFFFFFFFFFF);
}

TEST(ChunkSize, IsZeroWhenNotAValidNumber) {
    EXPECT_EQ(ParseChunkSize("5;x=1"), 0);
    EXPECT_EQ(ParseChunkSize(""), 0);
    EXPECT_EQ(ParseChunkSize(" 5"), 0);
    EXPECT_EQ(ParseChunkSize("0x5"), 0);
    EXPECT_EQ(ParseChunkSize("ffffffffffffffffff"), 0);  // beyond 64 bits
}

TEST(ContentTypeValue, SplitsOffTheCharsetParameter) {
    std::string type, charset = "old";
    EXPECT_TRUE(SplitContentType("text/plain; format=flowed; charset=\"utf-8\"", type, charset));
    EXPECT_EQ(type, "text/plain; format=flowed");
    EXPECT_EQ(charset, "utf-8");
    charset = "kept";
    EXPECT_FALSE(SplitContentType("application/json", type, charset));
    EXPECT_EQ(type, "application/json");
    EXPECT_EQ(charset, "kept");
}

TEST(ResponseValues, CharSetIsReplacedOnlyByAHeadThatNamesOne) {
    TIdHTTPResponse response;
    response.RawHeaders.Add("Content-Type: text/html; Charset=UTF-8");
    response.ProcessHeaders();
    EXPECT_EQ(response.ContentType, "text/html");
    EXPECT_EQ(response.CharSet, "UTF-8");
    response.RawHeaders.Clear();
    response.RawHeaders.Add("content-type: text/plain");
    response.RawHeaders.Add("WWW-Authenticate: Basic realm=x");
    response.RawHeaders.Add("www-authenticate: Digest realm=y");
    response.ProcessHeaders();
    EXPECT_EQ(response.ContentType, "text/plain");
    EXPECT_EQ(response.CharSet, "UTF-8");
    EXPECT_EQ(response.WWWAuthenticate, (std::vector<std::string>{"Basic realm=x", "Digest realm=y"}));
    EXPECT_FALSE(response.HasContentLength());
}

TEST(RequestTarget, ControlBytesArePercentEncodedAndSpacesStay) {
    EXPECT_EQ(EscapeControlBytes("/a b?x=1"), "/a b?x=1");
    EXPECT_EQ(EscapeControlBytes("/a\r\nX-Injected: 1"), "/a%0D%0AX-Injected: 1");
    EXPECT_EQ(EscapeControlBytes(std::string("/\x00\x1f\x7f", 4)), "/%00%1F%7F");
    EXPECT_EQ(EscapeControlBytes("/caf\xC3\xA9%41"), "/caf\xC3\xA9%41");  // only control bytes change
    EXPECT_TRUE(HasControlByte("host\tname"));
    EXPECT_FALSE(HasControlByte("host name"));
}

}  // namespace
}  // namespace quorvel
