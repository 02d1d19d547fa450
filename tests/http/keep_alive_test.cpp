// When the connection is kept, reused and closed.
#include <gtest/gtest.h>

#include "http/http.h"
#include "wire_helpers.h"

namespace quorvel::test {
namespace {

TEST(KeepAlive, ConnectionCloseMakesTheClientCloseAtTheEnd) {
    for (const char* line : {"Connection: close\r\n", "Proxy-Connection:  CLOSE \r\n"}) {
        TScriptedServer server(Answer({Response("200 OK", "hello", line)}));
        TIdHTTP http;
        TMemoryStream body;
        http.Get(UrlOf(server), body);
        EXPECT_FALSE(http.Response.KeepAlive) << line;
        EXPECT_FALSE(http.Connected()) << line;
        // The server sees the close while the client still exists.
        EXPECT_TRUE(server.WaitForConnections(1, Ms(3000))) << line;
    }
}

TEST(KeepAlive, Http10ResponseWithoutAConnectionLineKeepsTheConnection) {
    TScriptedServer server(Answer({"HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello"}));
    TIdHTTP http;
    TMemoryStream body;
    http.Get(UrlOf(server), body);
    EXPECT_TRUE(http.Response.KeepAlive);
    EXPECT_TRUE(http.Connected());
}

TEST(KeepAlive, SameHostRedirectReusesTheConnection) {
    TScriptedServer server(Answer({Redirect("/b"), Redirect("/c"), Response("200 OK", "ok")}));
    {
        TIdHTTP http;
        http.HandleRedirects = true;
        TMemoryStream body;
        http.Get(UrlOf(server, "/a"), body);
    }
    ASSERT_TRUE(server.WaitForConnections(1));
    EXPECT_EQ(server.Accepted(), 1);
    EXPECT_EQ(RequestHeads(server.Requests()[0]).size(), 3u);
}

TEST(KeepAlive, RedirectThatClosesIsFollowedOnANewConnection) {
    TScriptedServer server({Answer({Redirect("/b", "Connection: close\r\n")}), Answer({Response("200 OK", "ok")})});
    TIdHTTP http;
    http.HandleRedirects = true;
    TMemoryStream body;
    http.Get(UrlOf(server, "/a"), body);
    EXPECT_EQ(http.ResponseCode(), 200);
    EXPECT_EQ(server.Accepted(), 2);
}

TEST(KeepAlive, PeerThatClosedBetweenExchangesIsReconnected) {
    TScriptedServer server(AnswerAndClose(Response("200 OK", "one")));
    TIdHTTP http;
    TMemoryStream body;
    http.Get(UrlOf(server), body);
    ASSERT_TRUE(server.WaitForConnections(1));
    http.Get(UrlOf(server), body);
    EXPECT_EQ(server.Accepted(), 2);
    EXPECT_EQ(body.Size(), 6);
}

}  // namespace
}  // namespace quorvel::test
