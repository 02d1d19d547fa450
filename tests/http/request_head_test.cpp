// What the client puts on the wire: the request head line by line.
#include <gtest/gtest.h>

#include "http/exceptions.h"
#include "http/http.h"
#include "report/http_get_ok.h"
#include "wire_helpers.h"

namespace quorvel::test {
namespace {

const std::string kOk = Response("200 OK", "{}");

// The bytes of the first connection, after the client is gone.
std::string OnlyConnection(const TScriptedServer& server) {
    EXPECT_TRUE(server.WaitForConnections(1));
    const auto requests = server.Requests();
    return requests.empty() ? std::string() : requests[0];
}

TEST(RequestHead, ReportRequestIsExactlyFiveLines) {
    TScriptedServer server(Answer({kOk}));
    const std::string target =
        "/api/report/install?soft_id=quorvel_win&source=none_test&device_code=2023072209002412345";
    EXPECT_TRUE(HttpGetOk(UrlOf(server, target)));
    EXPECT_EQ(OnlyConnection(server), "GET " + target + " HTTP/1.1\r\n"
                                      "Host: " + server.HostPort() + "\r\n"
                                      "Accept: application/json\r\n"
                                      "Accept-Encoding: identity\r\n"
                                      "\r\n");
}

TEST(RequestHead, HostLineCarriesThePortUnlessItIs80) {
    TResolverScope names;
    TScriptedServer server(Answer({kOk}));
    {
        TIdHTTP http;
        TMemoryStream body;
        http.Get("http://www.quorvel.test:" + std::to_string(server.Port()) + "/", body);
    }
    EXPECT_NE(OnlyConnection(server).find("\r\nHost: www.quorvel.test:" + std::to_string(server.Port()) + "\r\n"),
              std::string::npos);

    // Whatever answers on port 80 here, the Host line value is settled first.
    TIdHTTP http;
    ShortLimits(http);
    TMemoryStream body;
    try {
        http.Get("http://127.0.0.1:80/x", body);
    } catch (const Exception&) {
    }
    EXPECT_EQ(http.Request.Host, "127.0.0.1");
}

TEST(RequestHead, QuerySpacesStayAndNonAsciiBecomesOneQuestionMark) {
    TScriptedServer server(Answer({kOk}));
    EXPECT_TRUE(HttpGetOk(UrlOf(server, "/r?source=my tag&n=caf\xC3\xA9!")));
    EXPECT_EQ(OnlyConnection(server).substr(0, 31), "GET /r?source=my tag&n=caf?! HT");
}

TEST(RequestHead, ControlBytesOfTheUrlArePercentEncoded) {
    TScriptedServer server(Answer({kOk}));
    EXPECT_TRUE(HttpGetOk(UrlOf(server, "/a\r\nX-Injected: 1\r\n\r\n?q=\x01\x7f")));
    const auto heads = RequestHeads(OnlyConnection(server));
    ASSERT_EQ(heads.size(), 1u);
    EXPECT_EQ(heads[0].substr(0, heads[0].find("\r\n")), "GET /a%0D%0AX-Injected: 1%0D%0A%0D%0A?q=%01%7F HTTP/1.1");
    EXPECT_EQ(heads[0].find("\r\nX-Injected"), std::string::npos);
}

TEST(RequestHead, ControlBytesOfALocationArePercentEncoded) {
    // ReadLn keeps a lone CR inside a line: the Location value holds one.
    TScriptedServer server(Answer({Redirect("/b\rX-Injected: 1"), kOk}));
    EXPECT_TRUE(HttpGetOk(UrlOf(server, "/a")));
    const auto heads = RequestHeads(OnlyConnection(server));
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(heads[1].substr(0, heads[1].find("\r\n")), "GET /b%0DX-Injected: 1 HTTP/1.1");
}

TEST(RequestHead, HostWithAControlByteFailsBeforeAnythingIsSent) {
    TScriptedServer server(Answer({kOk}));
    TIdHTTP http;
    ApplyReportSettings(http);
    TMemoryStream body;
    try {
        // The port still reads as the server's, so only the check keeps the
        // client from connecting and sending.
        http.Get("http://127.0.0.1:" + std::to_string(server.Port()) + "\r\n\x01/", body);
        FAIL() << "no error";
    } catch (const EIdException& e) {
        EXPECT_STREQ(e.ClassName(), "EIdException");
        EXPECT_EQ(e.Message(), "Invalid host name: it holds a control character");
    }
    EXPECT_EQ(server.Accepted(), 0);
}

TEST(RequestHead, LocationHostWithAControlByteSendsNoSecondRequest) {
    TScriptedServer server(Answer({Redirect("http://evil\r.example/"), kOk}));
    THttpGetOutcome outcome;
    EXPECT_FALSE(HttpGetOk(UrlOf(server), &outcome));
    EXPECT_EQ(outcome.ErrorClass, "EIdException");
    EXPECT_EQ(RequestHeads(OnlyConnection(server)).size(), 1u);
}

TEST(RequestHead, HttpsFailsBeforeAnyConnection) {
    TScriptedServer server(Answer({kOk}));
    THttpGetOutcome outcome;
    EXPECT_FALSE(HttpGetOk("https://" + server.HostPort() + "/", &outcome));
    EXPECT_EQ(outcome.ErrorClass, "EIdIOHandlerPropInvalid");
    EXPECT_EQ(outcome.Message, "IOHandler value is not valid");
    EXPECT_EQ(server.Accepted(), 0);
}

TEST(RequestHead, HttpsRedirectTargetSendsNothingMore) {
    TScriptedServer server(Answer({Redirect("https://" + std::string("127.0.0.1:1") + "/"), kOk}));
    THttpGetOutcome outcome;
    EXPECT_FALSE(HttpGetOk(UrlOf(server), &outcome));
    EXPECT_EQ(outcome.Message, "IOHandler value is not valid");
    EXPECT_EQ(RequestHeads(OnlyConnection(server)).size(), 1u);
}

TEST(RequestHead, CookieFromANamedHostComesBackLastAfterARedirect) {
    TResolverScope names;
    TScriptedServer server(Answer({Redirect("/next", "Set-Cookie: sid=1; Path=/\r\n"), kOk}));
    EXPECT_TRUE(HttpGetOk("http://www.quorvel.test:" + std::to_string(server.Port()) + "/first"));
    const auto heads = RequestHeads(OnlyConnection(server));
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(heads[0].find("Cookie"), std::string::npos);
    const std::string tail = "Accept-Encoding: identity\r\nCookie: sid=1\r\nCookie2: $Version=\"1\"\r\n\r\n";
    ASSERT_GE(heads[1].size(), tail.size());
    EXPECT_EQ(heads[1].substr(heads[1].size() - tail.size()), tail);
}

TEST(RequestHead, CookieFromAnIpv4HostIsNotStored) {
    TScriptedServer server(Answer({Redirect("/next", "Set-Cookie: sid=1; Path=/\r\n"), kOk}));
    EXPECT_TRUE(HttpGetOk(UrlOf(server, "/first")));
    const auto heads = RequestHeads(OnlyConnection(server));
    ASSERT_EQ(heads.size(), 2u);
    EXPECT_EQ(heads[1].find("Cookie"), std::string::npos);
}

}  // namespace
}  // namespace quorvel::test
