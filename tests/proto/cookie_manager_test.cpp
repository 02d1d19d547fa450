#include "http/cookie_manager.h"

#include <gtest/gtest.h>

namespace quorvel {
namespace {

using namespace std::literals;
using std::chrono::seconds;
using std::chrono::system_clock;

// 2023-07-22 09:00:00 GMT
constexpr std::int64_t kStart = 1690016400;

class CookieStoreTest : public ::testing::Test {
protected:
    CookieStoreTest() : Store([this] { return system_clock::time_point(seconds(Clock)); }) {}

    static TIdURI Url(const std::string& text) {
        TIdURI current;
        std::string user, password;
        MergeURI(current, TIdURI(text), user, password);
        return current;
    }

    void Respond(const std::string& url, std::initializer_list<std::string_view> lines) {
        TIdHeaderList headers;
        for (std::string_view line : lines) headers.Add(std::string(line));
        Store.AddCookies(headers, Url(url));
    }

    std::string CookieFor(const std::string& url) {
        std::string cookie = "stale", cookie2 = "stale";
        const bool any = Store.GenerateCookieLines(Url(url), cookie, cookie2);
        EXPECT_EQ(any, !cookie.empty());
        EXPECT_EQ(cookie2, any ? "$Version=\"1\"" : "");
        return cookie;
    }

    std::int64_t Clock = kStart;
    TIdCookieManager Store;
};

TEST_F(CookieStoreTest, RedirectCookieGoesToNextRequestOfSameHost) {
    Respond("http://report.example.com/api/report/install?x=1", {"Location: /next", "Set-Cookie: sid=1; Path=/"});
    std::string cookie, cookie2;
    ASSERT_TRUE(Store.GenerateCookieLines(Url("http://report.example.com/next"), cookie, cookie2));
    EXPECT_EQ(cookie, "sid=1");
    EXPECT_EQ(cookie2, "$Version=\"1\"");
    ASSERT_EQ(Store.Cookies().size(), 1u);
    EXPECT_EQ(Store.Cookies()[0].Domain, ".report.example.com");
}

TEST_F(CookieStoreTest, AddressOrDotlessHostStoresNothing) {
    Respond("http://127.0.0.1/a/", {"Set-Cookie: sid=1; Path=/"});
    Respond("http://127.0.0.1/a/", {"Set-Cookie: sid=1; Domain=127.0.0.1"});
    Respond("http://[::1]/a/", {"Set-Cookie: sid=1"});
    Respond("http://intranet/a/", {"Set-Cookie: sid=1"});
    Respond("http://intranet/a/", {"Set-Cookie: sid=1; Domain=.intranet.local"});
    EXPECT_TRUE(Store.Cookies().empty());
    EXPECT_EQ(CookieFor("http://127.0.0.1/a/"), "");
    EXPECT_EQ(CookieFor("http://intranet/a/"), "");
}

TEST_F(CookieStoreTest, EmptyAndSecureCookiesAreStoredButNeverSent) {
    Respond("http://www.example.com/", {"Set-Cookie: empty=", "Set-Cookie: safe=1; Secure", "Set-Cookie: ok=2"});
    EXPECT_EQ(Store.Cookies().size(), 3u);
    EXPECT_EQ(CookieFor("http://www.example.com/"), "ok=2");
}

TEST_F(CookieStoreTest, ReplacementKeepsItsPlace) {
    Respond("http://www.example.com/", {"Set-Cookie: a=1", "Set-Cookie: b=2"});
    Respond("http://www.example.com/", {"Set-Cookie: A=3"});
    EXPECT_EQ(CookieFor("http://www.example.com/"), "A=3; b=2");
    EXPECT_EQ(Store.Cookies().size(), 2u);
}

TEST_F(CookieStoreTest, DomainsGoInReverseOfFirstStoredOrder) {
    Respond("http://a.www.example.com/", {"Set-Cookie: first=1", "Set-Cookie: second=2; Domain=.www.example.com"});
    Respond("http://www.example.com/", {"Set-Cookie: third=3; Domain=.example.com", "Set-Cookie: more=4"});
    // Stored domains: .a.www.example.com, .www.example.com, .example.com.
    EXPECT_EQ(CookieFor("http://a.www.example.com/"), "third=3; second=2; more=4; first=1");
    EXPECT_EQ(CookieFor("http://www.example.com/"), "third=3; second=2; more=4");
    EXPECT_EQ(CookieFor("http://other.example.com/"), "third=3");
}

TEST_F(CookieStoreTest, ExpiredCookiesAreRemovedBeforeSending) {
    Respond("http://www.example.com/",
            {"Set-Cookie: old=1; Expires=Sun, 06 Nov 1994 08:49:37 GMT", "Set-Cookie: brief=2; Max-Age=60",
             "Set-Cookie: gone=3; Max-Age=0", "Set-Cookie: later=4; expires=Fri, 31-Dec-2099 23:59:59 GMT",
             "Set-Cookie: session=5"});
    EXPECT_EQ(CookieFor("http://www.example.com/"), "brief=2; later=4; session=5");
    Clock += 60;
    EXPECT_EQ(CookieFor("http://www.example.com/"), "later=4; session=5");
    EXPECT_EQ(Store.Cookies().size(), 2u);
    // A place freed by expiry is not kept: the name comes back at the end.
    Respond("http://www.example.com/", {"Set-Cookie: brief=6"});
    EXPECT_EQ(CookieFor("http://www.example.com/"), "later=4; session=5; brief=6");
}

TEST_F(CookieStoreTest, ServerDeletesCookieWithPastDate) {
    Respond("http://www.example.com/", {"Set-Cookie: sid=1"});
    Respond("http://www.example.com/", {"Set-Cookie: sid=; Expires=Thu, 01 Jan 1970 00:00:00 GMT"});
    EXPECT_EQ(CookieFor("http://www.example.com/"), "");
    EXPECT_TRUE(Store.Cookies().empty());
}

TEST_F(CookieStoreTest, ExpiresTakesPrecedenceOverMaxAge) {
    Respond("http://www.example.com/", {"Set-Cookie: a=1; Max-Age=0; Expires=Fri, 31 Dec 2099 23:59:59 GMT"});
    EXPECT_EQ(CookieFor("http://www.example.com/"), "a=1");
}

TEST_F(CookieStoreTest, DomainAttributeRules) {
    Respond("http://a.b.example.com/",
            {"Set-Cookie: nodot=1; Domain=b.example.com",       // must begin with "."
             "Set-Cookie: tld=1; Domain=.com",                  // no inner "."
             "Set-Cookie: foreign=1; Domain=.other.com",        // does not match
             "Set-Cookie: toohigh=1; Domain=.example.com",      // two levels up
             "Set-Cookie: parent=1; Domain=.B.Example.com:80",  // port cut off, case ignored
             "Set-Cookie: own=1; Domain=.a.b.example.com"});
    EXPECT_EQ(CookieFor("http://a.b.example.com/"), "own=1; parent=1");
}

TEST_F(CookieStoreTest, PathMustCoverRequestDirectory) {
    Respond("http://www.example.com/api/report/install",
            {"Set-Cookie: deeper=1; Path=/api/report/x/", "Set-Cookie: api=1; Path=\"/API/\"",
             "Set-Cookie: root=1; path=/"});
    EXPECT_EQ(Store.Cookies().size(), 2u);
    EXPECT_EQ(CookieFor("http://www.example.com/api/report/next"), "api=1; root=1");
    EXPECT_EQ(CookieFor("http://www.example.com/other/x"), "root=1");
}

TEST_F(CookieStoreTest, SetCookie2WinsOverSetCookieOfSameName) {
    Respond("http://www.example.com/",
            {"Set-Cookie: sid=old", "Set-Cookie: other=1", "Set-Cookie2: SID=new; Version=1"});
    EXPECT_EQ(CookieFor("http://www.example.com/"), "other=1; SID=new");
    EXPECT_EQ(Store.Cookies()[1].Version, 2);
}

TEST_F(CookieStoreTest, OnlyTheItemsAreTrimmedOnlyPathIsUnquotedAndOnlyDottedIPv4IsAnAddress) {
    Respond("http://www.example.com/", {"Set-Cookie: a = 1 ; Path=\"/\"", "Set-Cookie: quoted=1; Domain=\".example.com\"",
                                        "Set-Cookie: kept=1; Max-Age=\"0\"", "Set-Cookie2: two=2; Version=1"});
    EXPECT_EQ(CookieFor("http://www.example.com/"), "a = 1; kept=1; two=2");
    const auto cookies = Store.Cookies();
    ASSERT_EQ(cookies.size(), 3u);
    EXPECT_EQ(cookies[0].Name, "a ");
    EXPECT_EQ(cookies[0].Value, " 1");
    EXPECT_EQ(cookies[0].Version, 0);
    EXPECT_EQ(cookies[2].Version, 2);
    // Three numeric fields make a name, not an address.
    Respond("http://1.2.3/", {"Set-Cookie: n=1"});
    EXPECT_EQ(CookieFor("http://1.2.3/"), "n=1");
}

TEST_F(CookieStoreTest, LineBreaksNeverReachTheCookieLine) {
    Respond("http://www.example.com/", {"Set-Cookie: a=1\r\nX-Injected: 1", "Set-Cookie: b\rx=2", "Set-Cookie: d=4\r5",
                                        "Set-Cookie: e\0x=5"sv, "Set-Cookie: c=3"});
    EXPECT_EQ(CookieFor("http://www.example.com/"), "c=3");
}

TEST_F(CookieStoreTest, ValueIsSentAsGiven) {
    Respond("http://www.example.com/", {"Set-Cookie:  q = \"a b,c\" ; HttpOnly", "Set-Cookie: =nameless"});
    EXPECT_EQ(CookieFor("http://www.example.com/"), "q = \"a b,c\"");
}

TEST_F(CookieStoreTest, ManyCookiesInOneHeadStayLinear) {
    TIdHeaderList headers;
    constexpr int kCount = 100000;
    for (int i = 0; i < kCount; ++i) headers.Add("Set-Cookie: c" + std::to_string(i) + "=" + std::to_string(i));
    headers.Add("Set-Cookie2: c7=seven");
    Store.AddCookies(headers, Url("http://www.example.com/"));
    const auto cookies = Store.Cookies();
    ASSERT_EQ(cookies.size(), static_cast<std::size_t>(kCount));
    EXPECT_EQ(cookies.back().Value, "seven");
}

TEST(CookieStoreClock, DefaultClockIsTheSystemClock) {
    TIdCookieManager store;
    TIdHeaderList headers;
    headers.Add("Set-Cookie: past=1; Expires=Sun, 06 Nov 1994 08:49:37 GMT");
    headers.Add("Set-Cookie: soon=2; Max-Age=3600");
    TIdURI url;
    std::string user, password;
    MergeURI(url, TIdURI("http://www.example.com/"), user, password);
    store.AddCookies(headers, url);
    std::string cookie, cookie2;
    EXPECT_TRUE(store.GenerateCookieLines(url, cookie, cookie2));
    EXPECT_EQ(cookie, "soon=2");
}

TEST(CookieParse, AttributesAreReadIgnoringCase) {
    const auto now = std::chrono::sys_seconds(seconds(kStart));
    const auto cookie = ParseSetCookie(
        "id=a=b; PATH=\"/x/\"; DOMAIN=.example.com; SECURE; httponly; max-age=30; COMMENT=hi; Unknown=1", now);
    ASSERT_TRUE(cookie.has_value());
    EXPECT_EQ(cookie->Name, "id");
    EXPECT_EQ(cookie->Value, "a=b");
    EXPECT_EQ(cookie->Path, "/x/");
    EXPECT_EQ(cookie->Domain, ".example.com");
    EXPECT_TRUE(cookie->Secure);
    EXPECT_TRUE(cookie->HttpOnly);
    EXPECT_EQ(cookie->MaxAge, 30);
    ASSERT_TRUE(cookie->Expires.has_value());
    EXPECT_EQ(*cookie->Expires, now + seconds(30));
    EXPECT_EQ(cookie->Comment, "hi");
}

TEST(CookieParse, HugeMaxAgeDoesNotOverflow) {
    const auto now = std::chrono::sys_seconds(seconds(kStart));
    const auto cookie = ParseSetCookie("a=1; Max-Age=99999999999999999999999", now);
    ASSERT_TRUE(cookie && cookie->Expires);
    EXPECT_GT(*cookie->Expires, now);
}

TEST(CookieDomainMatch, Rules) {
    EXPECT_TRUE(CookieDomainMatches("www.example.com", ".example.com"));
    EXPECT_TRUE(CookieDomainMatches("Example.COM", ".example.com"));
    EXPECT_TRUE(CookieDomainMatches("example.com", "EXAMPLE.com"));
    EXPECT_FALSE(CookieDomainMatches("badexample.com", ".example.com"));
    EXPECT_FALSE(CookieDomainMatches("www.example.com", "example.com"));
    EXPECT_FALSE(CookieDomainMatches(".example.com", ".example.com"));
    EXPECT_TRUE(CookieDomainMatches("10.0.0.1", "10.0.0.1"));
    EXPECT_FALSE(CookieDomainMatches("10.0.0.1", ".0.0.1"));
}

}  // namespace
}  // namespace quorvel
