#include "http/cookie_date.h"

#include <array>
#include <cstdint>

#include "http/text_encoding.h"

namespace quorvel {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s) {
        if (!IsDigit(c)) return false;
    }
    return true;
}

int ToInt(std::string_view digits) {
    int value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
}

// "hh:mm:ss" with one or two digits per field.
bool ReadTime(std::string_view token, int& h, int& m, int& s) {
    std::array<int, 3> fields{};
    std::size_t field = 0;
    std::size_t begin = 0;
    for (std::size_t i = 0; i <= token.size(); ++i) {
        if (i < token.size() && token[i] != ':') continue;
        const std::string_view part = token.substr(begin, i - begin);
        if (field >= fields.size() || part.size() > 2 || !AllDigits(part)) return false;
        fields[field++] = ToInt(part);
        begin = i + 1;
    }
    if (field != 3) return false;
    h = fields[0];
    m = fields[1];
    s = fields[2];
    return true;
}

int ReadMonth(std::string_view token) {
    static constexpr std::array<std::string_view, 12> kMonths = {
        "jan", "feb", "mar", "apr", "may", "jun", "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.size() < 3) return 0;
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
        if (StartsWithIgnoreCase(token, kMonths[i])) return static_cast<int>(i) + 1;
    }
    return 0;
}

}  // namespace

std::optional<std::chrono::sys_seconds> ParseCookieDate(std::string_view text) {
    // Tokens are classified by shape rather than position, so the order of
    // the fields (asctime puts the year last) does not matter.
    int day = -1;
    int month = 0;
    int year = -1;
    int hour = -1, minute = 0, second = 0;

    std::size_t i = 0;
    while (i < text.size()) {
        const auto isDelimiter = [](char c) { return c == ' ' || c == '\t' || c == ',' || c == '-'; };
        while (i < text.size() && isDelimiter(text[i])) ++i;
        std::size_t end = i;
        while (end < text.size() && !isDelimiter(text[end])) ++end;
        const std::string_view token = text.substr(i, end - i);
        i = end;
        if (token.empty()) continue;

        int h = 0, m = 0, s = 0;
        if (hour < 0 && token.find(':') != std::string_view::npos) {
            if (ReadTime(token, h, m, s)) {
                hour = h;
                minute = m;
                second = s;
            }
        } else if (day < 0 && AllDigits(token) && token.size() <= 2) {
            day = ToInt(token);
        } else if (month == 0 && ReadMonth(token) != 0) {
            month = ReadMonth(token);
        } else if (year < 0 && AllDigits(token) && (token.size() == 2 || token.size() == 4)) {
            year = ToInt(token);
            if (token.size() == 2) year += year < 70 ? 2000 : 1900;
        }
    }

    if (day < 1 || month == 0 || year < 1601 || hour < 0) return std::nullopt;
    if (hour > 23 || minute > 59 || second > 60) return std::nullopt;
    const std::chrono::year_month_day date{std::chrono::year{year},
                                           std::chrono::month{static_cast<unsigned>(month)},
                                           std::chrono::day{static_cast<unsigned>(day)}};
    if (!date.ok()) return std::nullopt;
    // A leap second reads as the last second of its minute.
    if (second == 60) second = 59;
    return std::chrono::sys_days{date} + std::chrono::hours{hour} + std::chrono::minutes{minute} +
           std::chrono::seconds{second};
}

}  // namespace quorvel
