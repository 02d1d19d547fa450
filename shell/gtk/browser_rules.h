// The Linux shell's own rules about addresses, file names, saved levels and
// the desktop's settings: what the browser's interface decides, apart from
// GTK and WebKit, so that GLib alone runs them.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace quorvel::gtk {

// The scheme in lower case, or empty for an address without one.
std::string UriScheme(const std::string& uri);
// WebKit loads it itself (a relative or empty address included).
bool WebKitLoadsScheme(const std::string& uri);
bool IsWebAddress(const std::string& uri);
// The site of the start page: its host and port (host as "name[:port]"), and
// https on that host when the host names no port.
bool IsStartPageSite(const std::string& uri, const std::string& startPageHost);

// The scheme, host and port of a page's address, as text: what the user
// allows a page to do; the address itself when it names no host.
std::string SiteOf(const std::string& uri);

// Where an address the guard let through goes.
enum class THandoff {
    None,     // WebKit loads it, in the view or in a second window
    Desktop,  // the desktop's handler takes it at once: mailto:, a link out of the site
    Ask,      // any other scheme: only once the user has said so
};
// linkToNewWindow: a link that asks for a window of its own (target=_blank,
// the context menu's item), which for another site opens in the browser.
THandoff HandoffFor(const std::string& uri, bool linkToNewWindow, const std::string& startPageHost);

// A new window for target may open from a page at pageUri: what WebKit itself
// loads there. A web page never opens file: (nor data:, which WebKit refuses
// to any page as a top-level address); a local page may open local files.
bool PageMayOpenWindow(const std::string& pageUri, const std::string& target);

// A server's suggested name made safe to offer: a plain name inside the
// folder, never a path or a hidden file, and no longer than a file name may
// be (cut on a character's boundary, the extension kept).
std::string SafeFileName(const std::string& suggested);

// text shortened to at most maxChars characters by an ellipsis in its middle.
std::string ElideMiddle(const std::string& text, std::size_t maxChars);

// The wait before the next try of a page that failed on the network: 1 s,
// doubling, at most 30 s. previousMs is 0 before the first try.
int NextRetryDelayMs(int previousMs);

struct TOrigin {
    std::string Scheme;
    std::string Host;
    int Port = 0;  // 0: the scheme's own
};
// The origins that may show notifications: the start page's site.
std::vector<TOrigin> StartPageOrigins(const std::string& startPageHost);

// The spelling languages of the user's locale names, most wanted first (as
// g_get_language_names gives them): codesets and modifiers dropped, "C" and
// "POSIX" ignored, each once.
std::vector<std::string> SpellingLanguages(const std::vector<std::string>& localeNames);

}  // namespace quorvel::gtk
