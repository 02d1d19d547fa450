// How the client reads response heads and bodies.
#include <gtest/gtest.h>

#include <thread>

#include "http/exceptions.h"
#include "http/http.h"
#include "wire_helpers.h"

namespace quorvel::test {
namespace {

std::string Text(const TMemoryStream& stream) { return std::string(stream.Bytes().begin(), stream.Bytes().end()); }

// Runs one Get against a server that sends `bytes` after the request head
// and then closes its side.
struct TExchange {
    explicit TExchange(const std::string& bytes, const std::string& path = "/")
        : server(AnswerAndClose(bytes)) {
        ShortLimits(http);
        http.Get(UrlOf(server, path), body);
    }
    TScriptedServer server;
    TIdHTTP http;
    TMemoryStream body;
};

TEST(ResponseBody, ContentLengthBodyLandsInTheStreamAndTheConnectionStaysOpen) {
    TScriptedServer server(Answer({Response("200 OK", "hello")}));
    {
        TIdHTTP http;
        TMemoryStream body;
        http.Get(UrlOf(server), body);
        EXPECT_EQ(Text(body), "hello");
        EXPECT_EQ(http.ResponseCode(), 200);
        EXPECT_TRUE(http.Connected());
        std::this_thread::sleep_for(Ms(100));
        EXPECT_TRUE(server.Requests().empty()) << "the client closed before it was destroyed";
    }
    EXPECT_TRUE(server.WaitForConnections(1, Ms(3000)));
}

TEST(ResponseBody, ChunkedBodyIsJoinedAndTheNextResponseStartsRightAfterIt) {
    const std::string chunked = "HTTP/1.1 302 Found\r\nLocation: /b\r\nTransfer-Encoding: chunked\r\n\r\n"
                                "3\t\t\r\nabc\r\n0\r\n\r\n";
    const std::string final = "HTTP/1.1 200 OK\r\ntransfer-encoding: Chunked\r\nContent-Length: 99\r\n\r\n"
                              "5\r\nhello\r\nA ignored-extension-text\r\n, chunked!\r\n0\r\n\r\n";
    TScriptedServer server(Answer({chunked, final}));
    TIdHTTP http;
    http.HandleRedirects = true;
    TMemoryStream body;
    http.Get(UrlOf(server), body);
    EXPECT_EQ(Text(body), "hello, chunked!");
    EXPECT_EQ(server.Accepted(), 1);
}

TEST(ResponseBody, ChunkExtensionEndsTheBodyAtOnce) {
    TExchange e("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5;x=1\r\nhello\r\n0\r\n\r\n");
    EXPECT_EQ(e.http.ResponseCode(), 200);
    EXPECT_EQ(e.body.Size(), 0);
}

TEST(ResponseBody, CloseInsideAChunkedBodyFails) {
    EXPECT_THROW(TExchange("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhel"),
                 EIdConnClosedGracefully);
}

TEST(ResponseBody, WithoutALengthTheBodyRunsUntilTheClose) {
    TExchange e("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\n\r\nhello, until close");
    EXPECT_EQ(Text(e.body), "hello, until close");
    EXPECT_FALSE(e.http.Connected());
}

TEST(ResponseBody, CloseBeforeTheFullContentLengthEndsTheBodyNormally) {
    TExchange e("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nhello");
    EXPECT_EQ(e.http.ResponseCode(), 200);
    EXPECT_EQ(Text(e.body), "hello");
    EXPECT_EQ(e.body.Size(), 5);
}

TEST(ResponseBody, BytesAreStoredAsReceivedWhateverTheEncoding) {
    const std::string raw("\x1f\x8b\x00\xff\r\n", 6);
    TExchange e("HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Length: 6\r\n\r\n" + raw);
    EXPECT_EQ(Text(e.body), raw);
}

TEST(ResponseHead, CloseInsideTheHeaderBlockEndsTheExchangeNormally) {
    TExchange e("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nX-Cut: half");
    EXPECT_EQ(e.http.ResponseCode(), 200);
    EXPECT_EQ(e.http.Response.ContentType, "text/plain");
    EXPECT_FALSE(e.http.Connected());
}

TEST(ResponseHead, CloseBeforeTheStatusLineFails) {
    try {
        TExchange e("");
        FAIL() << "no error";
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
}

TEST(ResponseHead, NamesIgnoreCaseAndContinuationLinesJoinWithOneSpace) {
    TExchange e("HTTP/1.1 200 OK\r\ncontent-length: 5\r\nX-Long: first\r\n \t second\r\n\r\nhello");
    EXPECT_EQ(Text(e.body), "hello");
    EXPECT_EQ(e.http.Response.RawHeaders.Values("x-long"), "first second");
}

TEST(ResponseHead, LinesBeyondMaxHeaderLinesAreReadButNotKept) {
    std::string head = "HTTP/1.1 200 OK\r\n";
    for (int i = 0; i < 300; ++i) head += "X-" + std::to_string(i) + ": v\r\n";
    // Past the limit the length is not seen: the body runs until the close.
    TExchange e(head + "Content-Length: 2\r\n\r\nhello");
    EXPECT_EQ(e.http.Response.RawHeaders.Count(), 255u);
    EXPECT_EQ(e.http.Response.RawHeaders.Values("X-254"), "v");
    EXPECT_EQ(Text(e.body), "hello");
}

TEST(ResponseHead, ContinueHeadIsSkipped) {
    TExchange e("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
    EXPECT_EQ(e.http.ResponseText(), "HTTP/1.1 200 OK");
    EXPECT_EQ(Text(e.body), "hello");
}

TEST(ResponseHead, StatusLineWithoutANumberRaisesWithCodeMinusOne) {
    try {
        TExchange e("garbage\r\n\r\n");
        FAIL() << "no error";
    } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.ErrorCode(), -1);
        EXPECT_EQ(e.Message(), "garbage");
    }
}

}  // namespace
}  // namespace quorvel::test
