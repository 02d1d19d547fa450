// The cookie store of one HTTP exchange: takes in the Set-cookie lines of
// responses and supplies the Cookie lines of later requests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "http/header_list.h"
#include "http/uri.h"

namespace quorvel {

struct TIdCookie {
    std::string Name;
    std::string Value;
    std::string Path = "/";
    std::string Domain;  // empty until accepted: then "." and the request host
    std::optional<std::chrono::sys_seconds> Expires;
    bool Secure = false;
    bool HttpOnly = false;
    std::optional<std::int64_t> MaxAge;
    int Version = 0;  // a Version attribute's number; 2 for every Set-cookie2 cookie
    std::string Comment;
};

// Parses one Set-cookie value: trimmed items, the first the cookie as written
// (name before its first "=", value after it), then attributes, of which
// only Path loses its double quotes. Max-Age counts from now when no Expires
// date is given. Nothing for a value that holds no usable cookie (no name,
// or a CR, LF or NUL in the name or value).
std::optional<TIdCookie> ParseSetCookie(std::string_view value, std::chrono::sys_seconds now);

// Whether a host matches a cookie domain. A dotted IPv4 address matches only
// itself, a name matches ".name" and names below a dotted domain.
bool CookieDomainMatches(std::string_view host, std::string_view domain);

class TIdCookieManager {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;

    // Without a clock the store reads the system clock.
    explicit TIdCookieManager(Clock now = nullptr);
    TIdCookieManager(const TIdCookieManager&) = delete;
    TIdCookieManager& operator=(const TIdCookieManager&) = delete;

    // Takes in every Set-cookie and Set-cookie2 line of a response head. A
    // Set-cookie2 cookie is a version-2 cookie, accepted by the same rules as
    // a Set-cookie one, and wins over a Set-cookie one of the same name in
    // that head.
    void AddCookies(const TIdHeaderList& responseHeaders, const TIdURI& currentUrl);
    // Offers one parsed cookie for a request to currentUrl; false when it is
    // dropped.
    bool AddCookie(TIdCookie cookie, const TIdURI& currentUrl);

    // Removes expired cookies, then gives the Cookie and Cookie2 values for a
    // request to currentUrl. False (both values empty) when no cookie applies.
    bool GenerateCookieLines(const TIdURI& currentUrl, std::string& cookie, std::string& cookie2);

    // Every stored cookie: domains in first-stored order, then names in
    // first-stored order.
    std::vector<TIdCookie> Cookies() const;

private:
    struct TDomain {
        std::string Name;
        std::vector<TIdCookie> Cookies;
        std::unordered_map<std::string, std::size_t> ByName;  // lower-case name -> index
    };

    std::chrono::sys_seconds Now() const;
    void RemoveExpired(std::chrono::sys_seconds now);

    Clock FClock;
    mutable std::shared_mutex FLock;
    std::vector<TDomain> FDomains;
    std::unordered_map<std::string, std::size_t> FDomainIndex;  // lower-case domain -> index
};

}  // namespace quorvel
