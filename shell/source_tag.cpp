#include "shell/source_tag.h"

#include <algorithm>

#include "http/text_encoding.h"

namespace quorvel {

std::string ModuleFileName(std::string_view exePath) {
    const std::size_t cut = exePath.find_last_of("\\:");
    return std::string(cut == std::string_view::npos ? exePath : exePath.substr(cut + 1));
}

std::string PosixBaseName(std::string_view path) {
    const std::size_t cut = path.rfind('/');
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string DeriveSourceTag(const std::string& exePath) {
    // The platform counts UTF-16 code units, so a non-ASCII name cuts where it does.
    const std::u16string name = Utf8ToUtf16(ModuleFileName(exePath));
    const std::size_t underscore = name.find(u'_');
    if (underscore == std::u16string::npos) return "none";
    const auto n = static_cast<long long>(name.size());
    const auto p = static_cast<long long>(underscore) + 1;
    const long long count = n - p - 4;
    if (count <= 0) return std::string();
    // A cut inside a surrogate pair leaves half a character, which UTF-8 can
    // only carry as U+FFFD.
    return Utf16ToUtf8(name.substr(static_cast<std::size_t>(p), static_cast<std::size_t>(count)));
}

std::string ApplicationTitle(const std::string& exePath) {
    std::string name = ModuleFileName(exePath);
    name.erase(std::min(name.find('.'), name.size()));
    const std::u16string units = Utf8ToUtf16(name);
    // The first character stays as it is, a surrogate pair whole.
    std::size_t first = units.empty() ? 0 : 1;
    if (units.size() > 1 && units[0] >= 0xD800 && units[0] <= 0xDBFF && units[1] >= 0xDC00 && units[1] <= 0xDFFF)
        first = 2;
    const std::u16string_view view(units);
    return Utf16ToUtf8(view.substr(0, first)) + Utf16ToUtf8(LowerCaseUtf16(view.substr(first)));
}

}  // namespace quorvel
