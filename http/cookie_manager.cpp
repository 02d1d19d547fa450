#include "http/cookie_manager.h"

#include <algorithm>
#include <mutex>
#include <unordered_set>

#include "http/cookie_date.h"
#include "http/digits.h"
#include "http/ip_address.h"
#include "http/text_encoding.h"

namespace quorvel {

namespace {

// Far beyond any real lifetime, and small enough that adding it to the clock
// cannot overflow.
constexpr std::int64_t kMaxAgeLimit = std::int64_t{1} << 40;

std::string_view Unquote(std::string_view s) {
    if (s.size() >= 2 && s.front() == '"' && s.back() == '"') return s.substr(1, s.size() - 2);
    return s;
}

// Any larger magnitude reads as kMaxAgeLimit.
bool ParseInteger(std::string_view text, std::int64_t& value) {
    TDecimal number;
    if (!ScanDecimal(text, kMaxAgeLimit, number)) return false;
    const auto v = static_cast<std::int64_t>(number.Magnitude);
    value = number.Negative ? -v : v;
    return true;
}

// A Cookie line is written as name=value; any of these would end or cut it.
bool HasLineBreakOrNul(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

// Only a dotted IPv4 address counts as an address; anything else, an IPv6
// literal included, is taken as a name.
bool IsIPAddress(std::string_view host) { return IsDottedIPv4(host); }

bool IsName(std::string_view host) { return !host.empty() && host.front() != '.' && !IsIPAddress(host); }

std::string LowerKey(std::string_view s) { return AsciiLowerCopy(s); }

}  // namespace

std::optional<TIdCookie> ParseSetCookie(std::string_view value, std::chrono::sys_seconds now) {
    TIdCookie cookie;
    bool first = true;
    std::size_t begin = 0;
    while (begin <= value.size()) {
        std::size_t end = value.find(';', begin);
        if (end == std::string_view::npos) end = value.size();
        const std::string_view item = Trim(value.substr(begin, end - begin));
        begin = end + 1;

        const std::size_t eq = item.find('=');
        if (first) {
            // The cookie itself is taken as written: "a = 1" is the name "a "
            // and the value " 1", and goes back that way.
            first = false;
            const std::string_view name = item.substr(0, eq);
            const std::string_view cookieValue = eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
            if (name.empty() || HasLineBreakOrNul(name) || HasLineBreakOrNul(cookieValue)) return std::nullopt;
            cookie.Name = std::string(name);
            cookie.Value = std::string(cookieValue);
            continue;
        }
        const std::string_view name = Trim(item.substr(0, eq));
        const std::string_view attrValue = eq == std::string_view::npos ? std::string_view() : Trim(item.substr(eq + 1));
        if (EqualsIgnoreCase(name, "path")) {
            const std::string_view path = Unquote(attrValue);
            cookie.Path = path.empty() ? "/" : std::string(path);
        } else if (EqualsIgnoreCase(name, "expires")) {
            // An unreadable date is ignored, as if the attribute were absent.
            if (const auto date = ParseCookieDate(attrValue)) cookie.Expires = date;
        } else if (EqualsIgnoreCase(name, "domain")) {
            // Not unquoted: a quoted domain does not begin with "." and is dropped.
            const std::string_view domain = Trim(attrValue.substr(0, attrValue.find(':')));
            cookie.Domain = std::string(domain);
        } else if (EqualsIgnoreCase(name, "secure")) {
            cookie.Secure = true;
        } else if (EqualsIgnoreCase(name, "httponly")) {
            cookie.HttpOnly = true;
        } else if (EqualsIgnoreCase(name, "max-age")) {
            std::int64_t seconds = 0;
            if (ParseInteger(attrValue, seconds)) cookie.MaxAge = seconds;
        } else if (EqualsIgnoreCase(name, "version")) {
            std::int64_t version = 0;
            if (ParseInteger(attrValue, version)) cookie.Version = static_cast<int>(std::clamp<std::int64_t>(version, 0, 1000));
        } else if (EqualsIgnoreCase(name, "comment")) {
            cookie.Comment = std::string(attrValue);
        }
    }
    // Max-Age 0 or below asks for the cookie to go now, so it also sets the
    // expiry (to the past); an explicit Expires date still takes precedence.
    if (!cookie.Expires && cookie.MaxAge) cookie.Expires = now + std::chrono::seconds{*cookie.MaxAge};
    return cookie;
}

bool CookieDomainMatches(std::string_view host, std::string_view domain) {
    if (IsIPAddress(host)) return EqualsIgnoreCase(host, domain);
    if (host.empty() || host.front() == '.') return false;
    if (!domain.empty() && domain.front() == '.') {
        const std::string_view bare = domain.substr(1);
        if (EqualsIgnoreCase(host, bare)) return true;
        return host.size() > domain.size() && EndsWithIgnoreCase(host, domain) && IsName(bare);
    }
    return EqualsIgnoreCase(host, domain);
}

TIdCookieManager::TIdCookieManager(Clock now) : FClock(std::move(now)) {
    if (!FClock) FClock = [] { return std::chrono::system_clock::now(); };
}

std::chrono::sys_seconds TIdCookieManager::Now() const {
    return std::chrono::floor<std::chrono::seconds>(FClock());
}

void TIdCookieManager::AddCookies(const TIdHeaderList& responseHeaders, const TIdURI& currentUrl) {
    const auto now = Now();
    std::vector<TIdCookie> version0;
    std::vector<TIdCookie> version2;
    for (const std::string& value : responseHeaders.AllValues("Set-cookie")) {
        if (auto cookie = ParseSetCookie(value, now)) version0.push_back(std::move(*cookie));
    }
    std::unordered_set<std::string> version2Names;
    for (const std::string& value : responseHeaders.AllValues("Set-cookie2")) {
        if (auto cookie = ParseSetCookie(value, now)) {
            cookie->Version = 2;
            version2Names.insert(LowerKey(cookie->Name));
            version2.push_back(std::move(*cookie));
        }
    }
    for (TIdCookie& cookie : version0) {
        if (version2Names.count(LowerKey(cookie.Name)) == 0) AddCookie(std::move(cookie), currentUrl);
    }
    for (TIdCookie& cookie : version2) AddCookie(std::move(cookie), currentUrl);
}

bool TIdCookieManager::AddCookie(TIdCookie cookie, const TIdURI& currentUrl) {
    const std::string_view host = currentUrl.Host;
    if (HasLineBreakOrNul(cookie.Name) || HasLineBreakOrNul(cookie.Value) || cookie.Name.empty()) return false;
    if (cookie.Domain.empty()) cookie.Domain = "." + currentUrl.Host;
    const std::string_view domain = cookie.Domain;

    if (!StartsWithIgnoreCase(currentUrl.Path, cookie.Path)) return false;
    if (domain.front() != '.') return false;
    if (domain.substr(1).find('.') == std::string_view::npos) return false;
    if (!CookieDomainMatches(host, domain)) return false;
    // A host may set a cookie for its parent domain, not for one further up.
    if (IsName(host) && EndsWithIgnoreCase(host, domain) &&
        host.substr(0, host.size() - domain.size()).find('.') != std::string_view::npos) {
        return false;
    }

    std::unique_lock lock(FLock);
    const std::string domainKey = LowerKey(domain);
    auto found = FDomainIndex.find(domainKey);
    if (found == FDomainIndex.end()) {
        found = FDomainIndex.emplace(domainKey, FDomains.size()).first;
        FDomains.push_back(TDomain{cookie.Domain, {}, {}});
    }
    TDomain& entry = FDomains[found->second];
    const std::string nameKey = LowerKey(cookie.Name);
    const auto existing = entry.ByName.find(nameKey);
    if (existing != entry.ByName.end()) {
        entry.Cookies[existing->second] = std::move(cookie);
    } else {
        entry.ByName.emplace(nameKey, entry.Cookies.size());
        entry.Cookies.push_back(std::move(cookie));
    }
    return true;
}

void TIdCookieManager::RemoveExpired(std::chrono::sys_seconds now) {
    std::unique_lock lock(FLock);
    for (TDomain& entry : FDomains) {
        // An expiry of exactly now counts as passed: Max-Age=0 deletes.
        const auto expired = [now](const TIdCookie& c) { return c.Expires && *c.Expires <= now; };
        if (std::none_of(entry.Cookies.begin(), entry.Cookies.end(), expired)) continue;
        entry.Cookies.erase(std::remove_if(entry.Cookies.begin(), entry.Cookies.end(), expired), entry.Cookies.end());
        entry.ByName.clear();
        for (std::size_t i = 0; i < entry.Cookies.size(); ++i) entry.ByName.emplace(LowerKey(entry.Cookies[i].Name), i);
    }
}

bool TIdCookieManager::GenerateCookieLines(const TIdURI& currentUrl, std::string& cookie, std::string& cookie2) {
    cookie.clear();
    cookie2.clear();
    RemoveExpired(Now());

    std::string host = currentUrl.Host;
    if (host.find('.') == std::string::npos) host += ".local";

    std::shared_lock lock(FLock);
    for (auto entry = FDomains.rbegin(); entry != FDomains.rend(); ++entry) {
        if (!CookieDomainMatches(host, entry->Name)) continue;
        for (const TIdCookie& c : entry->Cookies) {
            if (c.Value.empty() || c.Secure || !StartsWithIgnoreCase(currentUrl.Path, c.Path)) continue;
            if (!cookie.empty()) cookie += "; ";
            cookie += c.Name;
            cookie += '=';
            cookie += c.Value;
        }
    }
    if (cookie.empty()) return false;
    cookie2 = "$Version=\"1\"";
    return true;
}

std::vector<TIdCookie> TIdCookieManager::Cookies() const {
    std::shared_lock lock(FLock);
    std::vector<TIdCookie> all;
    for (const TDomain& entry : FDomains) all.insert(all.end(), entry.Cookies.begin(), entry.Cookies.end());
    return all;
}

}  // namespace quorvel
