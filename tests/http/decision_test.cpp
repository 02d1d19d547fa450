// Which responses are followed, which end the exchange and which raise.
#include <gtest/gtest.h>

#include "http/exceptions.h"
#include "http/http.h"
#include "wire_helpers.h"

namespace quorvel::test {
namespace {

std::string Text(const TMemoryStream& stream) { return std::string(stream.Bytes().begin(), stream.Bytes().end()); }

std::vector<std::string> HeadsOf(const TScriptedServer& server, std::size_t connection = 0) {
    EXPECT_TRUE(server.WaitForConnections(static_cast<int>(connection) + 1));
    const auto requests = server.Requests();
    return connection < requests.size() ? RequestHeads(requests[connection]) : std::vector<std::string>{};
}

std::string FirstLine(const std::string& head) { return head.substr(0, head.find("\r\n")); }

// A client that follows redirects, with short limits.
struct TFollower {
    TFollower() {
        ShortLimits(http, 2000, 8000);
        http.HandleRedirects = true;
    }
    TIdHTTP http;
    TMemoryStream body;
};

EIdHTTPProtocolException GetError(TIdHTTP& http, const std::string& url) {
    TMemoryStream body;
    try {
        http.Get(url, body);
    } catch (const EIdHTTPProtocolException& e) {
        return e;
    }
    ADD_FAILURE() << "no protocol error for " << url;
    return EIdHTTPProtocolException("", 0, "");
}

TEST(Redirects, OkWithALocationIsFollowedAndItsBodyDropped) {
    TScriptedServer server(Answer({Response("200 OK", "dropped", "Location: /next\r\n"), Response("200 OK", "final")}));
    {
        TFollower f;
        f.http.Get(UrlOf(server, "/first"), f.body);
        EXPECT_EQ(Text(f.body), "final");
        EXPECT_EQ(f.http.RedirectCount(), 1);
    }
    const auto heads = HeadsOf(server);
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(FirstLine(heads[1]), "GET /next HTTP/1.1");
}

TEST(Redirects, CreatedWithALocationIsFinal) {
    TScriptedServer server(Answer({Response("201 Created", "made", "Location: /elsewhere\r\n")}));
    TFollower f;
    f.http.Get(UrlOf(server), f.body);
    EXPECT_EQ(f.http.ResponseCode(), 201);
    EXPECT_EQ(Text(f.body), "made");
}

TEST(Redirects, AnotherHostGetsANewConnectionAndItsOwnHostLine) {
    TScriptedServer second(Answer({Response("200 OK", "there")}));
    TScriptedServer first(Answer({Redirect(UrlOf(second, "/b?x=1"))}));
    {
        TFollower f;
        f.http.Request.Accept = "application/json";
        f.http.Get(UrlOf(first, "/a"), f.body);
        EXPECT_EQ(Text(f.body), "there");
        // The first connection was closed by the client, not at its end.
        EXPECT_TRUE(first.WaitForConnections(1, Ms(2000)));
    }
    const auto heads = HeadsOf(second);
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_EQ(heads[0], "GET /b?x=1 HTTP/1.1\r\nHost: " + second.HostPort() +
                            "\r\nAccept: application/json\r\nAccept-Encoding: identity\r\n"
                            "User-Agent: " + TIdHTTPRequest().UserAgent + "\r\n\r\n");
}

TEST(Redirects, NothingLeftFromTheRedirectsConnectionIsTakenForTheNext) {
    const std::string trailer = "Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\nX-T: 1\r\n\r\n";
    TScriptedServer other(Answer({Response("200 OK", "there")}));
    // Another host and a same-connection follow-up after a trailer line,
    // and another host after bytes beyond the framing.
    TScriptedServer first({Answer({"HTTP/1.1 302 Found\r\nLocation: " + UrlOf(other, "/b") + "\r\n" + trailer}),
                          Answer({"HTTP/1.1 302 Found\r\nLocation: /c\r\n" + trailer, Response("200 OK", "here")}),
                          Answer({Redirect(UrlOf(other, "/d")) + "JUNK"})});
    for (const auto& [path, expected] : {std::pair{"/a", "there"}, {"/b", "here"}, {"/c", "there"}}) {
        TFollower f;
        f.http.Get(UrlOf(first, path), f.body);
        EXPECT_EQ(f.http.ResponseText(), "HTTP/1.1 200 OK") << path;
        EXPECT_EQ(Text(f.body), expected) << path;
    }
    EXPECT_EQ(first.Accepted(), 3);
    EXPECT_EQ(other.Accepted(), 2);
}

TEST(Redirects, FifteenthRedirectEndsTheExchangeAfterFourteenAreFollowed) {
    std::vector<std::string> answers;
    for (int i = 1; i <= 20; ++i) answers.push_back(Redirect("/r" + std::to_string(i)));
    TScriptedServer server(Answer(answers));
    {
        TFollower f;
        const auto start = SteadyClock::now();
        f.http.Get(UrlOf(server, "/r0"), f.body);
        EXPECT_EQ(f.http.ResponseCode(), 302);
        EXPECT_EQ(f.http.RedirectCount(), 15);
        // Empty bodies are not waited for.
        EXPECT_LT(MsSince(start), 3000);
    }
    const auto heads = HeadsOf(server);
    ASSERT_EQ(heads.size(), 15u);
    EXPECT_EQ(FirstLine(heads[14]), "GET /r14 HTTP/1.1");
}

TEST(Redirects, ZeroLengthRedirectOnAKeptConnectionIsNotWaitedFor) {
    TScriptedServer server(Answer({Redirect("/b"), Response("200 OK", "ok")}));
    TFollower f;
    const auto start = SteadyClock::now();
    f.http.Get(UrlOf(server, "/a"), f.body);
    EXPECT_EQ(Text(f.body), "ok");
    EXPECT_LT(MsSince(start), 2500);
}

TEST(Redirects, RedirectBodyIsReadOffTheConnectionBeforeTheNextRequest) {
    const std::string withBody = "HTTP/1.1 301 Moved\r\nLocation: /b\r\nContent-Length: 9\r\n\r\nmoved on!";
    TScriptedServer server(Answer({withBody, Response("200 OK", "ok")}));
    TFollower f;
    f.http.Get(UrlOf(server, "/a"), f.body);
    EXPECT_EQ(f.http.ResponseText(), "HTTP/1.1 200 OK");
    EXPECT_EQ(Text(f.body), "ok");
}

TEST(Redirects, WithoutALocationTheCurrentDirectoryIsFollowed) {
    TScriptedServer server(Answer({"HTTP/1.1 303 See Other\r\nContent-Length: 0\r\n\r\n", Response("200 OK", "ok")}));
    {
        TFollower f;
        f.http.Get(UrlOf(server, "/a/b?x=1"), f.body);
    }
    const auto heads = HeadsOf(server);
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(FirstLine(heads[1]), "GET /a/ HTTP/1.1");
}

TEST(Redirects, WithoutHandleRedirectsARedirectRaises) {
    TScriptedServer server(Answer({Redirect("/b")}));
    TIdHTTP http;
    ShortLimits(http);
    EXPECT_EQ(GetError(http, UrlOf(server)).ErrorCode(), 302);
}

TEST(ErrorResponses, NotFoundCarriesTheStatusLineCodeAndBody) {
    TScriptedServer server(Answer({Response("404 Not Found", "no such page")}));
    TFollower f;
    const auto e = GetError(f.http, UrlOf(server));
    EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(e.ErrorCode(), 404);
    EXPECT_EQ(e.ErrorMessage(), "no such page");
    EXPECT_EQ(f.http.ResponseCode(), 404);
}

TEST(ErrorResponses, ErrorBodyIsDecodedByItsCharsetOrAsLatin1) {
    TScriptedServer server(Answer({Response("500 Oops", "caf\xC3\xA9", "Content-Type: text/plain; charset=utf-8\r\n"),
                                  Response("500 Oops", "caf\xE9"),
                                  Response("500 Oops", "5 \x80", "Content-Type: text/plain; charset=windows-1252\r\n"),
                                  Response("500 Oops", "caf\xE9", "Content-Type: text/plain; charset=x-no-such\r\n")}));
    TFollower f;
    EXPECT_EQ(GetError(f.http, UrlOf(server)).ErrorMessage(), "caf\xC3\xA9");
    f.http.Response.CharSet.clear();
    EXPECT_EQ(GetError(f.http, UrlOf(server)).ErrorMessage(), "caf\xC3\xA9");  // é from Latin-1
    // Any charset the platform knows: 0x80 is the euro sign in windows-1252.
    EXPECT_EQ(GetError(f.http, UrlOf(server)).ErrorMessage(), "5 \xE2\x82\xAC");
    EXPECT_EQ(GetError(f.http, UrlOf(server)).ErrorMessage(), "caf\xC3\xA9");
}

TEST(ErrorResponses, ErrorBodyBeyondTheLimitIsReadButNotKept) {
    const std::string big(100, 'x');
    TScriptedServer server(Answer({Response("500 Oops", "0123456789" + big), Response("200 OK", "next")}));
    TFollower f;
    f.http.ErrorBodyLimit = 10;
    EXPECT_EQ(GetError(f.http, UrlOf(server)).ErrorMessage(), "0123456789");
    // The rest of the body is gone from the connection: the next answer reads cleanly.
    f.http.Get(UrlOf(server), f.body);
    EXPECT_EQ(Text(f.body), "next");
    EXPECT_EQ(server.Accepted(), 1);
}

TEST(ErrorResponses, NoContentAndNotModifiedWaitOnlyBrieflyForABody) {
    TScriptedServer server(Answer({"HTTP/1.1 204 No Content\r\n\r\n", "HTTP/1.1 304 Not Modified\r\n\r\n"}));
    TFollower f;
    auto start = SteadyClock::now();
    f.http.Get(UrlOf(server), f.body);
    EXPECT_EQ(f.http.ResponseCode(), 204);
    EXPECT_LT(MsSince(start), 1000);
    start = SteadyClock::now();
    EXPECT_EQ(GetError(f.http, UrlOf(server)).ErrorCode(), 304);
    EXPECT_LT(MsSince(start), 1000);
}

TEST(ErrorResponses, UnauthorizedRaisesWithoutAPassword) {
    TScriptedServer server(Answer({Response("401 Unauthorized", "", "WWW-Authenticate: Basic realm=x\r\n"),
                                  Response("407 Proxy Authentication Required", "")}));
    TFollower f;
    EXPECT_EQ(GetError(f.http, UrlOf(server)).ErrorCode(), 401);
    EXPECT_EQ(GetError(f.http, UrlOf(server)).ErrorCode(), 407);
}

TEST(ErrorResponses, UnauthorizedWithAPasswordAndBasicIsFinalAndNotRetried) {
    TScriptedServer server(Answer({Response("401 Unauthorized", "denied",
                                           "WWW-Authenticate: Negotiate\r\nWWW-Authenticate: Basic realm=x\r\n")}));
    {
        TFollower f;
        f.http.Get("http://user:pw@" + server.HostPort() + "/", f.body);
        EXPECT_EQ(f.http.ResponseCode(), 401);
        EXPECT_EQ(Text(f.body), "denied");
    }
    const auto heads = HeadsOf(server);
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_EQ(heads[0].find("Authorization"), std::string::npos);
}

TEST(ErrorResponses, UnauthorizedOfferingDigestFirstRaisesEvenWithAPassword) {
    TScriptedServer server(Answer({Response("401 Unauthorized", "",
                                           "WWW-Authenticate: Digest realm=x\r\nWWW-Authenticate: Basic realm=x\r\n")}));
    TFollower f;
    EXPECT_EQ(GetError(f.http, "http://user:pw@" + server.HostPort() + "/").ErrorCode(), 401);
}

}  // namespace
}  // namespace quorvel::test
