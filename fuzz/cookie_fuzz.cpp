// Cookie intake and the request's cookie lines on any response head: the
// store keeps one cookie per domain and name, and the lines it gives for a
// request hold nothing that could end or add a header line.
//
// Input: options, the response's URL, the next request's URL (NUL-
// separated), then the response's header lines separated by LF.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <utility>

#include "fuzz/input_reader.h"
#include "http/cookie_date.h"
#include "http/cookie_manager.h"
#include "http/header_list.h"
#include "http/text_encoding.h"

using namespace quorvel;

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "cookie_fuzz: %s %s\n", what, detail.c_str());
    std::abort();
}

bool HoldsLineBreakOrNul(const std::string& s) { return s.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

void CheckLines(TIdCookieManager& store, const TIdURI& url) {
    std::string cookie, cookie2;
    const bool any = store.GenerateCookieLines(url, cookie, cookie2);
    if (!any && (!cookie.empty() || !cookie2.empty())) Fail("no cookies, yet cookie lines");
    if (any && (cookie.empty() || cookie2 != "$Version=\"1\"")) Fail("cookie lines malformed", cookie + " / " + cookie2);
    if (HoldsLineBreakOrNul(cookie)) Fail("Cookie line holds a line break or NUL", cookie);
    if (any) {
        TIdHeaderList request;
        request.AddValue("Cookie", cookie);
        for (const std::string& line : request.FoldedLines())
            if (HoldsLineBreakOrNul(line)) Fail("folded Cookie line holds a line break or NUL");
    }
    // Asking again at the same moment gives the same lines.
    std::string again, again2;
    store.GenerateCookieLines(url, again, again2);
    if (again != cookie || again2 != cookie2) Fail("cookie lines changed between two requests");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::TInputReader in(data, size);
    const std::uint8_t options = in.Byte();
    std::string responseUrl = in.Field();
    std::string requestUrl = in.Field();
    if (responseUrl.empty()) responseUrl = "http://www.quorvel.test/a/b/page.html";
    if (requestUrl.empty()) requestUrl = responseUrl;
    const std::string head(reinterpret_cast<const char*>(in.Rest()), in.Left());

    TIdHeaderList headers;
    for (std::size_t at = 0; at <= head.size();) {
        std::size_t eol = head.find('\n', at);
        if (eol == std::string::npos) eol = head.size();
        std::string line = head.substr(at, eol - at);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) headers.Add(line);
        // The date reader sees every attribute text too.
        (void)ParseCookieDate(line);
        at = eol + 1;
    }

    // A fixed clock around 2024, moved by the options so expiry cuts both ways.
    const auto now = std::chrono::sys_seconds(std::chrono::seconds(1704067200LL + options * 86400LL * 200));
    TIdCookieManager store([now] { return std::chrono::system_clock::time_point(now); });
    const TIdURI at(responseUrl);
    store.AddCookies(headers, at);

    std::set<std::pair<std::string, std::string>> identities;
    for (const TIdCookie& c : store.Cookies()) {
        if (c.Name.empty()) Fail("a cookie without a name was stored");
        if (HoldsLineBreakOrNul(c.Name) || HoldsLineBreakOrNul(c.Value)) Fail("a cookie with a line break was stored");
        if (!identities.emplace(AsciiLowerCopy(c.Domain), AsciiLowerCopy(c.Name)).second)
            Fail("two cookies with one domain and name", c.Domain + " " + c.Name);
    }
    CheckLines(store, at);
    CheckLines(store, TIdURI(requestUrl));
    return 0;
}
