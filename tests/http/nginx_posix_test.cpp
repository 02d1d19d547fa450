// The client against a real nginx on loopback.
#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "http/exceptions.h"
#include "http/http.h"
#include "report/http_get_ok.h"
#include "support/nginx_server.h"
#include "wire_helpers.h"

namespace quorvel::test {
namespace {

const char* const kLocations = R"(
    location = /r1 { return 302 /r2; }
    location = /r2 { return 301 /files/hello.txt; }
    location = /away { return 302 http://127.0.0.1:1/; }
    # A body rewritten on its way out has no length known in advance: nginx
    # sends it chunked.
    location /chunked/ { sub_filter 'x' 'y'; sub_filter_once off; }
)";

struct TLogEntry {
    long connection = 0;
    long request = 0;
    int status = 0;
};

class Nginx : public ::testing::Test {
protected:
    void SetUp() override {
        nginx.WriteFile("files/hello.txt", "hello from nginx\n");
        nginx.WriteFile("chunked/page.html", std::string(3000, 'x') + "\n");
    }

    // Waits (bounded) for n entries: nginx logs a request after answering it.
    std::vector<TLogEntry> Log(std::size_t n) {
        const auto until = SteadyClock::now() + Ms(3000);
        std::vector<std::string> lines;
        while ((lines = nginx.AccessLog()).size() < n && SteadyClock::now() < until)
            std::this_thread::sleep_for(Ms(10));
        std::vector<TLogEntry> entries;
        for (const std::string& line : lines) {
            TLogEntry e;
            std::istringstream(line) >> e.connection >> e.request >> e.status;
            entries.push_back(e);
        }
        return entries;
    }

    std::string Url(const std::string& path) { return "http://" + nginx.HostPort() + path; }

    TNginxServer nginx{kLocations};
};

std::string Text(const TMemoryStream& stream) { return std::string(stream.Bytes().begin(), stream.Bytes().end()); }

TEST_F(Nginx, FileWithAContentLengthIsReadWhole) {
    TIdHTTP http;
    ApplyReportSettings(http);
    TMemoryStream body;
    http.Get(Url("/files/hello.txt"), body);
    EXPECT_EQ(http.ResponseCode(), 200);
    EXPECT_EQ(http.Response.ContentLength, 17);
    EXPECT_EQ(Text(body), "hello from nginx\n");
    EXPECT_TRUE(HttpGetOk(Url("/files/hello.txt")));
}

TEST_F(Nginx, RedirectChainIsFollowedOverOneKeptConnection) {
    {
        TIdHTTP http;
        ApplyReportSettings(http);
        TMemoryStream body;
        http.Get(Url("/r1"), body);
        EXPECT_EQ(http.ResponseCode(), 200);
        EXPECT_EQ(http.RedirectCount(), 2);
        EXPECT_EQ(Text(body), "hello from nginx\n");
    }
    const auto log = Log(3);
    ASSERT_EQ(log.size(), 3u);
    for (std::size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].connection, log[0].connection) << "request " << i;
        EXPECT_EQ(log[i].request, static_cast<long>(i) + 1);
    }
    EXPECT_EQ(log[0].status, 302);
    EXPECT_EQ(log[1].status, 301);
    EXPECT_EQ(log[2].status, 200);
}

TEST_F(Nginx, ChunkedBodyIsJoined) {
    TIdHTTP http;
    ApplyReportSettings(http);
    TMemoryStream body;
    http.Get(Url("/chunked/page.html"), body);
    EXPECT_EQ(AsciiLowerCopy(http.Response.TransferEncoding), "chunked");
    EXPECT_EQ(Text(body), std::string(3000, 'y') + "\n");
    // The chunked framing ended exactly: the kept connection serves the next request.
    http.Get(Url("/files/hello.txt"), body);
    EXPECT_EQ(http.ResponseCode(), 200);
    const auto log = Log(2);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].connection, log[0].connection);
}

TEST_F(Nginx, MissingFileRaisesWithNginxsStatusLineAndPage) {
    TIdHTTP http;
    ApplyReportSettings(http);
    TMemoryStream body;
    try {
        http.Get(Url("/files/none.txt"), body);
        FAIL() << "no error";
    } catch (const EIdHTTPProtocolException& e) {
        EXPECT_EQ(e.Message(), "HTTP/1.1 404 Not Found");
        EXPECT_NE(e.ErrorMessage().find("nginx"), std::string::npos);
    }
    EXPECT_FALSE(HttpGetOk(Url("/files/none.txt")));
}

TEST_F(Nginx, AbsoluteRedirectToARefusedPortFailsWithItsSocketError) {
    THttpGetOutcome outcome;
    EXPECT_FALSE(HttpGetOk(Url("/away"), &outcome));
    EXPECT_EQ(outcome.LastError, 10061);
    EXPECT_EQ(outcome.Code, 302);
}

}  // namespace
}  // namespace quorvel::test
