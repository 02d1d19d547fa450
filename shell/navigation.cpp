#include "shell/navigation.h"

#include "quorvel/config.h"

namespace quorvel {

std::string BuildStartPageUrl(const std::string& host, const std::string& sourceTag) {
    return "http://" + host + "/quorvl/index1.html?source=" + sourceTag;
}

std::string BuildStartPageUrl(const std::string& sourceTag) {
    return BuildStartPageUrl(config::kStartPageHost, sourceTag);
}

std::string CloseMarker() { return "c" + std::to_string(100100); }

bool IsCloseNavigation(const std::string& url) {
    // ASCII bytes of UTF-8 match exactly where the UTF-16 code units would.
    return url.find(CloseMarker()) != std::string::npos;
}

bool GuardNavigation(const std::string& url, std::int16_t& cancel) {
    // Cancelled first, so an error on the way still stops the navigation.
    cancel = -1;
    if (IsCloseNavigation(url)) return true;
    cancel = 0;
    return false;
}

}  // namespace quorvel
