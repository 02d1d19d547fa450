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

// True only for a 2xx at the end; a protocol error's status line is the message.
TEST(HttpGetOk, VerdictAndOutcomeOfEachFinalAnswer) {
    const struct {
        const char* Name;
        std::vector<std::string> Answers;
        bool Result;
        int Code;
        const char *ErrorClass, *Message;
    } cases[] = {
        {"a 2xx at the end of a redirect chain", Chain(14, Response("204 No Content", "")), true, 204, "", ""},
        {"the final 3xx at the redirect limit", Chain(15, Response("200 OK", "too late")), false, 302, "", ""},
        {"a client error", {Response("404 Not Found", "sorry")}, false, 404, "EIdHTTPProtocolException",
         "HTTP/1.1 404 Not Found"},
        {"a server error", {Response("500 Internal Server Error", "sorry")}, false, 500, "EIdHTTPProtocolException",
         "HTTP/1.1 500 Internal Server Error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.Name);
        TScriptedServer server(Answer(c.Answers));
        THttpGetOutcome outcome;
        EXPECT_EQ(HttpGetOk(UrlOf(server), &outcome), c.Result);
        EXPECT_EQ(outcome.Result, c.Result);
        EXPECT_EQ(outcome.Code, c.Code);
        EXPECT_EQ(outcome.ErrorClass, c.ErrorClass);
        EXPECT_EQ(outcome.Message, c.Message);
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
