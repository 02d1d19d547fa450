#include "http/http_text.h"

#include <limits>

#include "http/digits.h"
#include "http/text_encoding.h"

namespace quorvel {
namespace {

// An optional sign and decimal digits only, within the 64-bit range.
bool ParseDecimal(std::string_view text, std::int64_t& value) {
    constexpr auto kMax = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    TDecimal number;
    if (!ScanDecimal(text, kMax + 2, number) || number.Magnitude > kMax + (number.Negative ? 1 : 0)) return false;
    if (!number.Negative) {
        value = static_cast<std::int64_t>(number.Magnitude);
    } else if (number.Magnitude > kMax) {
        value = std::numeric_limits<std::int64_t>::min();
    } else {
        value = -static_cast<std::int64_t>(number.Magnitude);
    }
    return true;
}

}  // namespace

int ParseResponseCode(std::string_view statusLine) {
    const std::size_t space = statusLine.find(' ');
    if (space == std::string_view::npos) return -1;
    std::string_view rest = Trim(statusLine.substr(space + 1));
    rest = rest.substr(0, rest.find(' '));
    std::int64_t code = 0;
    if (!ParseDecimal(rest, code) || code < std::numeric_limits<int>::min() || code > std::numeric_limits<int>::max())
        return -1;
    return static_cast<int>(code);
}

std::int64_t ParseContentLength(std::string_view value) {
    std::int64_t length = 0;
    if (!ParseDecimal(Trim(value), length) || length < 0) return -1;
    return length;
}

std::int64_t ParseChunkSize(std::string_view line) {
    std::string_view text = line.substr(0, line.find(' '));
    while (!text.empty() && text.back() == '\t') text.remove_suffix(1);
    if (text.empty()) return 0;
    std::uint64_t size = 0;
    for (const char c : text) {
        const int digit = HexDigit(c);
        if (digit < 0) return 0;
        if (size > (static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) >> 4)) return 0;
        size = (size << 4) | static_cast<std::uint64_t>(digit);
    }
    return static_cast<std::int64_t>(size);
}

bool SplitContentType(std::string_view value, std::string& type, std::string& charset) {
    type.clear();
    bool found = false;
    std::string_view rest = value;
    while (true) {
        const std::size_t semi = rest.find(';');
        const std::string_view item = Trim(rest.substr(0, semi));
        const std::size_t eq = item.find('=');
        if (!found && eq != std::string_view::npos && EqualsIgnoreCase(Trim(item.substr(0, eq)), "charset")) {
            std::string_view v = Trim(item.substr(eq + 1));
            if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
            charset = std::string(v);
            found = true;
        } else if (!item.empty()) {
            if (!type.empty()) type += "; ";
            type += item;
        }
        if (semi == std::string_view::npos) break;
        rest = rest.substr(semi + 1);
    }
    return found;
}

bool IsControlByte(unsigned char c) { return c < 0x20 || c == 0x7F; }

bool HasControlByte(std::string_view text) {
    for (const char c : text) {
        if (IsControlByte(static_cast<unsigned char>(c))) return true;
    }
    return false;
}

std::string EscapeControlBytes(std::string_view target) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size());
    for (const char c : target) {
        const auto b = static_cast<unsigned char>(c);
        if (IsControlByte(b)) {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace quorvel
