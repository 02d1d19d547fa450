// The start page address and the navigation guard's rule.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// "http://" + host + "/quorvl/index1.html?source=" + tag, concatenated as is:
// any escaping is the browser's.
std::string BuildStartPageUrl(const std::string& sourceTag);
std::string BuildStartPageUrl(const std::string& host, const std::string& sourceTag);

// "c100100": a navigation whose URL holds it ends the program.
std::string CloseMarker();

// True exactly when the close marker occurs in url (case-sensitive).
bool IsCloseNavigation(const std::string& url);

// The guard's decision for one navigation. cancel is set to cancel (-1) first
// and cleared (0) only when the navigation may go on; returns true when the
// main window must close.
bool GuardNavigation(const std::string& url, std::int16_t& cancel);

}  // namespace quorvel
