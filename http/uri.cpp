#include "http/uri.h"

#include <algorithm>

#include "http/digits.h"
#include "http/exceptions.h"
#include "http/text_encoding.h"

namespace quorvel {

namespace {

constexpr auto npos = std::string_view::npos;

// Splits s at the first sep: s keeps the text before it, the rest is returned.
// Without sep, s stays whole and the result is empty.
std::string_view SplitOffAfterFirst(std::string_view& s, char sep) {
    const std::size_t at = s.find(sep);
    if (at == npos) return {};
    const std::string_view after = s.substr(at + 1);
    s = s.substr(0, at);
    return after;
}

// Reads a port number: an optional sign, then decimal digits only. Returns
// false when the text is not such a number; *outOfRange tells a number that
// cannot be a port, however many digits it has.
bool ParsePortNumber(std::string_view text, std::uint16_t& port, bool& outOfRange) {
    TDecimal number;
    if (!ScanDecimal(text, 65536, number)) return false;
    outOfRange = number.Magnitude > 65535 || (number.Negative && number.Magnitude != 0);
    port = outOfRange ? 0 : static_cast<std::uint16_t>(number.Magnitude);
    return true;
}

}  // namespace

void TIdURI::SetURI(std::string_view text) {
    std::string uri(text);
    std::replace(uri.begin(), uri.end(), '\\', '/');
    *this = TIdURI();
    URI = uri;

    std::string_view rest = URI;
    const std::size_t schemeEnd = rest.find("://");
    if (schemeEnd != npos) {
        Protocol = std::string(rest.substr(0, schemeEnd));
        rest = rest.substr(schemeEnd + 3);
        const std::size_t query = rest.find('?');
        if (query != npos) {
            Params = std::string(rest.substr(query + 1));
            rest = rest.substr(0, query);
        }

        std::string_view authority = rest;
        const std::size_t slash = rest.find('/');
        if (slash != npos) {
            authority = rest.substr(0, slash);
            rest = rest.substr(slash + 1);
        } else {
            rest = {};
        }

        const std::size_t at = authority.find('@');
        if (at != npos) {
            std::string_view user = authority.substr(0, at);
            authority = authority.substr(at + 1);
            const std::string_view password = SplitOffAfterFirst(user, ':');
            Username = std::string(user);
            if (!Username.empty()) Password = std::string(password);
        }

        const std::size_t open = authority.find('[');
        const std::size_t close = authority.find(']');
        if (open != npos && close != npos && open < close) {
            Host = std::string(authority.substr(open + 1, close - open - 1));
            const std::size_t colon = authority.find(':', close);
            if (colon != npos) Port = std::string(authority.substr(colon + 1));
            IPVersion = TIdIPVersion::Id_IPv6;
        } else {
            const std::string_view port = SplitOffAfterFirst(authority, ':');
            Host = std::string(authority);
            Port = std::string(port);
        }

        const std::size_t lastSlash = rest.rfind('/');
        if (lastSlash != npos) {
            Path = "/" + std::string(rest.substr(0, lastSlash + 1));
            rest = rest.substr(lastSlash + 1);
        } else {
            Path = "/";
        }
    } else {
        const std::size_t query = rest.find('?');
        if (query != npos) {
            Params = std::string(rest.substr(query + 1));
            rest = rest.substr(0, query);
        }
        const std::size_t lastSlash = rest.rfind('/');
        if (lastSlash != npos) {
            Path = std::string(rest.substr(0, lastSlash + 1));
            rest = rest.substr(lastSlash + 1);
        }
    }

    const std::string_view bookmark = SplitOffAfterFirst(rest, '#');
    Document = std::string(rest);
    Bookmark = std::string(bookmark);
}

std::string TIdURI::GetPathAndParams() const {
    std::string target = Path + Document;
    if (!Params.empty()) target += "?" + Params;
    return target;
}

std::string MergePath(std::string_view base, std::string_view path) {
    if (!path.empty() && path.front() == '/') return std::string(path);
    const bool trailingSlash = path.empty() || path.back() == '/';

    std::string work(base);
    if (!work.empty() && work.back() != '/') work += '/';
    work += path;

    std::string result;
    result.reserve(work.size());
    for (std::size_t i = 0; i < work.size(); ++i) {
        const char c = work[i];
        if (c == '/') {
            if (i == 0) {
                result = "/";
            } else if (result.empty() || result.back() != '/') {
                result += '/';
            }
        } else if (c == '.' && !result.empty() && result.back() == '/' && i + 1 < work.size() &&
                   work[i + 1] == '.') {
            // One directory up; each character is removed at most once, so
            // long runs of "../" stay linear.
            result.pop_back();
            const std::size_t previous = result.rfind('/');
            result.erase(previous == std::string::npos ? 0 : previous + 1);
            // At the root of an absolute path the climb stays there: with a
            // name glued to the dots ("..x") no "/" would follow to restore it.
            if (result.empty() && work.front() == '/') result = "/";
            ++i;
        } else {
            result += c;
        }
    }

    // Climbing past the root of an absolute path ends at the root, never at
    // an empty path.
    if (result.empty() && !work.empty() && work.front() == '/') result = "/";
    if (result != "/" && !result.empty() && result.back() == '/' && !trailingSlash) result.pop_back();
    return result;
}

void MergeURI(TIdURI& current, const TIdURI& next, std::string& requestUsername,
              std::string& requestPassword) {
    // Built aside and committed at the end, so a failed merge changes nothing.
    TIdURI merged = current;
    std::string username = requestUsername;
    std::string password = requestPassword;

    if (!next.Username.empty()) {
        username = next.Username;
        password = next.Password;
    }
    merged.Username = username;
    merged.Password = password;

    merged.Path = MergePath(current.Path, next.Path);
    merged.Document = next.Document;
    merged.Params = next.Params;

    if (!next.Host.empty()) {
        merged.Host = next.Host;
        merged.IPVersion = next.IPVersion;
    }
    // A relative URL carries no host, so it keeps the address family of the
    // host it stays on; taking its default IPv4 would break an IPv6 host.

    if (!next.Protocol.empty()) {
        merged.Protocol = next.Protocol;
    } else {
        merged.Protocol = EqualsIgnoreCase(current.Protocol, "https") ? "https" : "http";
    }

    if (!next.Port.empty()) {
        merged.Port = next.Port;
    } else if (EqualsIgnoreCase(next.Protocol, "http")) {
        merged.Port = "80";
    } else if (EqualsIgnoreCase(next.Protocol, "https")) {
        merged.Port = "443";
    } else if (current.Port.empty()) {
        throw EIdUnknownProtocol();
    }

    current = std::move(merged);
    requestUsername = std::move(username);
    requestPassword = std::move(password);
}

std::string HostLineValue(const TIdURI& uri) {
    // An IPv6 address goes in brackets, or its last group would read as a port.
    std::string host = uri.Host.find(':') != std::string::npos ? "[" + uri.Host + "]" : uri.Host;
    if (uri.Port.empty() || uri.Port == "80") return host;
    return host + ":" + uri.Port;
}

TIdConnectTarget ConnectTarget(const TIdURI& uri) {
    TIdConnectTarget target;
    target.Host = uri.Host;
    std::uint16_t port = 0;
    bool outOfRange = false;
    if (!ParsePortNumber(Trim(uri.Port), port, outOfRange)) {
        target.Port = 80;
    } else if (outOfRange) {
        throw ERangeError();
    } else {
        target.Port = port;
    }
    return target;
}

}  // namespace quorvel
