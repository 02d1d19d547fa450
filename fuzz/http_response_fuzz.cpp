// One GET exchange against a peer that answers with the fuzz input: status
// lines, headers, framing, chunked bodies, redirects and cookies, split into
// pieces the input chooses. Whatever the peer sends, the client must end
// with a result or one of its own errors, leave no socket open, and put
// nothing on the wire but well-formed request heads.
//
// Input: options, plan length, plan bytes, start URL (up to a NUL byte;
// empty for the default), then every byte the peer sends.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fed_socket_platform.h"
#include "fuzz/input_reader.h"
#include "fuzz/split_feed.h"
#include "http/exceptions.h"
#include "http/http.h"

using namespace quorvel;
using namespace quorvel::fuzz;

namespace {

TFedSocketPlatform* gPlatform = nullptr;

[[noreturn]] void Fail(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "http_response_fuzz: %s %s\n", what, detail.c_str());
    std::abort();
}

// Every head on the wire: ASCII lines ended by CR LF, a GET request line
// without control bytes first, one Host line, an empty line last; nothing
// after the last head.
void CheckWire(const std::string& sent) {
    std::size_t start = 0;
    while (start < sent.size()) {
        const std::size_t end = sent.find("\r\n\r\n", start);
        if (end == std::string::npos) Fail("bytes after the last request head");
        const std::string_view head(sent.data() + start, end + 2 - start);
        int hosts = 0;
        bool first = true;
        for (std::size_t at = 0; at < head.size();) {
            const std::size_t eol = head.find("\r\n", at);
            const std::string_view line = head.substr(at, eol - at);
            for (char c : line) {
                const auto u = static_cast<unsigned char>(c);
                // A header value may carry other control bytes a server sent
                // (a cookie's), but never one that ends or splits a line.
                const bool breaks = u == '\r' || u == '\n' || u == 0;
                if (u > 0x7F || breaks || (first && (u < 0x20 || u == 0x7F)))
                    Fail("byte that does not belong in a request line:",
                         std::to_string(u) + " in " + std::string(line.substr(0, 40)));
            }
            if (first) {
                if (line.substr(0, 4) != "GET " ||
                    (!line.ends_with(" HTTP/1.1") && !line.ends_with(" HTTP/1.0")))
                    Fail("malformed request line", std::string(line));
                first = false;
            } else if (line.size() >= 5 && (line.substr(0, 5) == "Host:" || line.substr(0, 5) == "host:")) {
                ++hosts;
            }
            at = eol + 2;
        }
        if (hosts != 1) Fail("request head without exactly one Host line", std::string(head));
        start = end + 4;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static TFedSocketPlatform platform;
    gPlatform = &platform;
    gPlatform->KeepSent(true);
    TIdStack::SetPlatformForTesting(gPlatform);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TInputReader in(data, size);
    const std::uint8_t options = in.Byte();
    const std::vector<std::size_t> plan = PlanFromBytes(in.Bytes(in.Byte() % 32));
    std::string url = in.Field();
    if (url.empty()) url = "http://www.quorvel.test/report?soft_id=quorvel_win&source=demo_test";
    TSplitFeed feed(in.Rest(), in.Left(), plan);

    gPlatform->ResetCounts();
    gPlatform->SetFeed(&feed);
    const std::size_t kept = (options & 4) ? 1024 : SIZE_MAX;
    TMemoryStream body(kept);
    bool finished = false;
    int code = -1, redirects = 0, maximum = 0;
    {
        TIdHTTP http;
        http.HandleRedirects = true;
        http.ConnectTimeout = 0;
        http.ReadTimeout = -1;
        http.ExchangeTimeout = 0;
        if (options & 1) http.ProtocolVersion = TIdHTTPProtocolVersion::pv1_0;
        if (options & 2) http.AllowCookies = false;
        if (options & 8) http.MaxHeaderLines = 3;
        if (options & 16) http.RedirectMaximum = 3;
        if (options & 32) http.Request.Accept = "application/json";
        maximum = http.RedirectMaximum;
        try {
            http.Get(url, body);
            finished = true;
        } catch (const quorvel::Exception&) {
            // One of the client's own errors: an expected outcome.
        } catch (const std::exception& e) {
            Fail("an error outside the client's own classes escaped:", e.what());
        }
        code = http.ResponseCode();
        redirects = http.RedirectCount();
    }
    gPlatform->SetFeed(nullptr);

    if (gPlatform->OpenSockets() != 0) Fail("a socket was left open");
    if (redirects > maximum) Fail("followed more redirects than RedirectMaximum");
    if (gPlatform->Connects() > redirects + 1) Fail("more connects than requests");
    if (body.BytesWritten() > in.Left()) Fail("more body bytes than the peer sent");
    if (finished) {
        const bool ok = (code >= 200 && code <= 299) || code == 401 || redirects == maximum;
        if (!ok) Fail("Get returned for a final status it should raise for:", std::to_string(code));
    }
    CheckWire(gPlatform->Sent());
    return 0;
}
