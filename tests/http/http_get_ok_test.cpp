// The install report's verdict on an exchange.
#include "report/http_get_ok.h"

#include <gtest/gtest.h>

#include "wire_helpers.h"

namespace quorvel::test {
namespace {

std::vector<std::string> Chain(int redirects, const std::string& final) {
    std::vector<std::string> answers;
    for (int i = 1; i <= redirects; ++i) answers.push_back(Redirect("/step" + std::to_string(i)));
    answers.push_back(final);
    return answers;
}

TEST(HttpGetOk, TrueForA2xxAtTheEndOfARedirectChain) {
    TScriptedServer server(Answer(Chain(14, Response("204 No Content", ""))));
    THttpGetOutcome outcome;
    EXPECT_TRUE(HttpGetOk(UrlOf(server), &outcome));
    EXPECT_EQ(outcome.Code, 204);
    EXPECT_EQ(outcome.ErrorClass, "");
}

TEST(HttpGetOk, FalseForTheFinal3xxAtTheRedirectLimit) {
    TScriptedServer server(Answer(Chain(15, Response("200 OK", "too late"))));
    THttpGetOutcome outcome;
    EXPECT_FALSE(HttpGetOk(UrlOf(server), &outcome));
    EXPECT_EQ(outcome.Code, 302);
    EXPECT_EQ(outcome.ErrorClass, "");
}

TEST(HttpGetOk, FalseForClientAndServerErrors) {
    for (const char* status : {"404 Not Found", "500 Internal Server Error"}) {
        TScriptedServer server(Answer({Response(status, "sorry")}));
        THttpGetOutcome outcome;
        EXPECT_FALSE(HttpGetOk(UrlOf(server), &outcome));
        EXPECT_EQ(outcome.ErrorClass, "EIdHTTPProtocolException");
        EXPECT_EQ(outcome.Message, std::string("HTTP/1.1 ") + status);
        EXPECT_EQ(outcome.Code, std::stoi(status));
        EXPECT_EQ(outcome.BodyBytes, 0u);
    }
}

TEST(HttpGetOk, FalseForARefusedPortWithItsSocketError) {
    std::string url;
    {
        TScriptedServer gone(Answer({}));
        url = UrlOf(gone);
    }
    THttpGetOutcome outcome;
    const auto start = SteadyClock::now();
    EXPECT_FALSE(HttpGetOk(url, &outcome));
    EXPECT_LT(MsSince(start), 4000);
    EXPECT_EQ(outcome.ErrorClass, "EIdSocketError");
    EXPECT_EQ(outcome.LastError, 10061);
    EXPECT_EQ(outcome.Code, -1);
}

}  // namespace
}  // namespace quorvel::test
