#include "shell/gtk/browser_rules.h"

#include <algorithm>

#include "shell/gtk/glib_ptr.h"

namespace quorvel::gtk {
namespace {

// The longest file name Linux file systems take, in bytes.
constexpr std::size_t kMaxFileName = 255;
// A longer "extension" is part of the name, and is cut with it.
constexpr std::size_t kMaxExtension = 32;
constexpr int kFirstRetryMs = 1000;
constexpr int kLastRetryMs = 30000;

TGUriPtr ParseUri(const std::string& text) { return TGUriPtr{g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr)}; }

int EffectivePort(GUri* uri) {
    const int port = g_uri_get_port(uri);
    if (port > 0) return port;
    return g_ascii_strcasecmp(g_uri_get_scheme(uri), "https") == 0 ? 443 : 80;
}

// The first bytes of valid UTF-8 text, at most maxBytes, whole characters only.
std::string CutUtf8(const std::string& text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return text;
    std::size_t end = maxBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace

std::string UriScheme(const std::string& uri) {
    const TGCharPtr scheme{g_uri_parse_scheme(uri.c_str())};
    if (!scheme) return std::string();
    return TGCharPtr{g_ascii_strdown(scheme.get(), -1)}.get();
}

bool WebKitLoadsScheme(const std::string& uri) {
    const std::string scheme = UriScheme(uri);
    // file: stays with WebKit, which refuses it to remote pages: a page must
    // not get a local file opened by the desktop.
    for (const char* own : {"", "http", "https", "about", "data", "blob", "javascript", "file"}) {
        if (scheme == own) return true;
    }
    return false;
}

bool IsWebAddress(const std::string& uri) {
    const std::string scheme = UriScheme(uri);
    return scheme == "http" || scheme == "https";
}

bool IsStartPageSite(const std::string& uri, const std::string& startPageHost) {
    if (!IsWebAddress(uri)) return false;
    TGUriPtr target = ParseUri(uri);
    TGUriPtr start = ParseUri("http://" + startPageHost + "/");
    if (!target || !start || g_uri_get_host(target.get()) == nullptr || g_uri_get_host(start.get()) == nullptr) {
        return false;
    }
    if (g_ascii_strcasecmp(g_uri_get_host(target.get()), g_uri_get_host(start.get())) != 0) return false;
    const int port = EffectivePort(target.get());
    if (port == EffectivePort(start.get())) return true;
    // A host named without a port is the same site over TLS.
    return g_uri_get_port(start.get()) <= 0 && port == 443 && UriScheme(uri) == "https";
}

std::string SiteOf(const std::string& uri) {
    const TGUriPtr parsed = ParseUri(uri);
    if (!parsed || g_uri_get_host(parsed.get()) == nullptr) return uri;
    return std::string(g_uri_get_scheme(parsed.get())) + "://" + g_uri_get_host(parsed.get()) + ":" +
           std::to_string(g_uri_get_port(parsed.get()));
}

THandoff HandoffFor(const std::string& uri, bool linkToNewWindow, const std::string& startPageHost) {
    if (WebKitLoadsScheme(uri)) {
        const bool linkOut = linkToNewWindow && IsWebAddress(uri) && !IsStartPageSite(uri, startPageHost);
        return linkOut ? THandoff::Desktop : THandoff::None;
    }
    return UriScheme(uri) == "mailto" ? THandoff::Desktop : THandoff::Ask;
}

bool PageMayOpenWindow(const std::string& pageUri, const std::string& target) {
    const std::string scheme = UriScheme(target);
    if (scheme.empty() || scheme == "http" || scheme == "https" || scheme == "about" || scheme == "blob") return true;
    if (scheme == "file") return UriScheme(pageUri) == "file";
    return false;
}

std::string SafeFileName(const std::string& suggested) {
    const TGCharPtr base{g_path_get_basename(suggested.c_str())};
    // The file chooser takes UTF-8 only.
    std::string name(TGCharPtr{g_utf8_make_valid(base.get(), -1)}.get());
    for (char& c : name) {
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20) c = '_';
    }
    const auto first = name.find_first_not_of(". ");
    name = first == std::string::npos ? std::string() : name.substr(first);
    if (name.empty()) return "download";
    if (name.size() > kMaxFileName) {
        const auto dot = name.rfind('.');
        const std::string extension =
            dot != std::string::npos && name.size() - dot <= kMaxExtension ? name.substr(dot) : std::string();
        name = CutUtf8(name.substr(0, name.size() - extension.size()), kMaxFileName - extension.size()) + extension;
    }
    return name;
}

std::string ElideMiddle(const std::string& text, std::size_t maxChars) {
    const TGCharPtr valid{g_utf8_make_valid(text.c_str(), static_cast<gssize>(text.size()))};
    const auto length = static_cast<std::size_t>(g_utf8_strlen(valid.get(), -1));
    if (length <= maxChars || maxChars < 3) return valid.get();
    const std::size_t head = (maxChars - 1) / 2;
    const std::size_t tail = maxChars - 1 - head;
    const gchar* headEnd = g_utf8_offset_to_pointer(valid.get(), static_cast<glong>(head));
    const gchar* tailStart = g_utf8_offset_to_pointer(valid.get(), static_cast<glong>(length - tail));
    return std::string(const_cast<const gchar*>(valid.get()), headEnd) + "\u2026" + tailStart;
}

int NextRetryDelayMs(int previousMs) {
    if (previousMs <= 0) return kFirstRetryMs;
    return previousMs >= kLastRetryMs / 2 ? kLastRetryMs : previousMs * 2;
}

std::vector<TOrigin> StartPageOrigins(const std::string& startPageHost) {
    TGUriPtr start = ParseUri("http://" + startPageHost + "/");
    if (!start || g_uri_get_host(start.get()) == nullptr) return {};
    // As WebKit keeps origins: the host in lower case.
    const std::string host = TGCharPtr{g_ascii_strdown(g_uri_get_host(start.get()), -1)}.get();
    const int port = g_uri_get_port(start.get());
    if (port > 0) return {TOrigin{"http", host, port}};
    return {TOrigin{"http", host, 0}, TOrigin{"https", host, 0}};
}

std::vector<std::string> SpellingLanguages(const std::vector<std::string>& localeNames) {
    std::vector<std::string> languages;
    for (const std::string& name : localeNames) {
        const std::string language = name.substr(0, name.find_first_of(".@"));
        if (language.empty() || language == "C" || language == "POSIX") continue;
        if (std::find(languages.begin(), languages.end(), language) == languages.end()) languages.push_back(language);
    }
    return languages;
}

}  // namespace quorvel::gtk
