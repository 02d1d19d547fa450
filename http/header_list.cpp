#include "http/header_list.h"

#include <algorithm>

#include "http/text_encoding.h"

namespace quorvel {

namespace {

bool IsContinuation(std::string_view line) {
    return !line.empty() && (line.front() == ' ' || line.front() == '\t');
}

// The name of a line, or nothing for a continuation or a line without ":".
bool LineName(std::string_view line, std::string_view& name) {
    if (IsContinuation(line)) return false;
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return false;
    name = line.substr(0, colon);
    return true;
}

bool HasName(std::string_view line, std::string_view name) {
    std::string_view lineName;
    return LineName(line, lineName) && EqualsIgnoreCase(lineName, name);
}

void AppendPart(std::string& value, std::string_view part) {
    if (part.empty()) return;
    if (!value.empty()) value += ' ';
    value += part;
}

}  // namespace

void TIdHeaderList::Add(std::string line) { FLines.push_back(std::move(line)); }

void TIdHeaderList::AddValue(std::string_view name, std::string_view value) {
    std::string line(name);
    line += ": ";
    line += value;
    FLines.push_back(std::move(line));
}

std::size_t TIdHeaderList::BlockEnd(std::size_t i) const {
    std::size_t end = i + 1;
    while (end < FLines.size() && IsContinuation(FLines[end])) ++end;
    return end;
}

std::string TIdHeaderList::JoinedValue(std::size_t i) const {
    const std::string_view line = FLines[i];
    std::string value;
    AppendPart(value, Trim(line.substr(line.find(':') + 1)));
    const std::size_t end = BlockEnd(i);
    for (std::size_t k = i + 1; k < end; ++k) AppendPart(value, Trim(FLines[k]));
    return value;
}

int TIdHeaderList::IndexOfName(std::string_view name) const {
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        if (HasName(FLines[i], name)) return static_cast<int>(i);
    }
    return -1;
}

std::string TIdHeaderList::Values(std::string_view name) const {
    const int i = IndexOfName(name);
    return i < 0 ? std::string() : JoinedValue(static_cast<std::size_t>(i));
}

std::vector<std::string> TIdHeaderList::AllValues(std::string_view name) const {
    std::vector<std::string> values;
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        if (HasName(FLines[i], name)) values.push_back(JoinedValue(i));
    }
    return values;
}

void TIdHeaderList::SetValue(std::string_view name, std::string_view value) {
    const int found = IndexOfName(name);
    if (found < 0) {
        if (!value.empty()) AddValue(name, value);
        return;
    }
    const auto i = static_cast<std::size_t>(found);
    const auto first = FLines.begin() + static_cast<std::ptrdiff_t>(i);
    const auto last = FLines.begin() + static_cast<std::ptrdiff_t>(BlockEnd(i));
    if (value.empty()) {
        FLines.erase(first, last);
        return;
    }
    // The old continuations belong to the old value.
    FLines.erase(first + 1, last);
    std::string line(name);
    line += ": ";
    line += value;
    FLines[i] = std::move(line);
}

void TIdHeaderList::Remove(std::string_view name) {
    std::vector<std::string> kept;
    kept.reserve(FLines.size());
    std::size_t i = 0;
    while (i < FLines.size()) {
        const std::size_t end = BlockEnd(i);
        if (!HasName(FLines[i], name)) {
            for (std::size_t k = i; k < end; ++k) kept.push_back(std::move(FLines[k]));
        }
        i = end;
    }
    FLines = std::move(kept);
}

std::string TIdHeaderList::Names(std::size_t i) const {
    std::string_view name;
    if (i >= FLines.size() || !LineName(FLines[i], name)) return {};
    return std::string(name);
}

std::vector<std::string> TIdHeaderList::FoldedLines() const {
    std::vector<std::string> out;
    out.reserve(FLines.size());
    for (std::string line : FLines) {
        // A CR or LF inside a line would end it on the wire and start a line
        // the peer never sent us.
        std::replace(line.begin(), line.end(), '\r', ' ');
        std::replace(line.begin(), line.end(), '\n', ' ');
        for (std::string& piece : FoldHeaderLine(line)) out.push_back(std::move(piece));
    }
    return out;
}

std::vector<std::string> FoldHeaderLine(std::string_view line, std::size_t limit) {
    std::vector<std::string> out;
    const std::size_t n = line.size();
    if (n <= limit || limit < 2) {
        out.emplace_back(line);
        return out;
    }

    // A break may fall after a space, tab or comma outside double quotes, and
    // only inside the value, so that every piece carries some of it.
    std::size_t valueStart = 0;
    const std::size_t colon = line.find(':');
    if (colon != std::string_view::npos) {
        valueStart = colon + 1;
        while (valueStart < n && (line[valueStart] == ' ' || line[valueStart] == '\t')) ++valueStart;
    }
    std::vector<bool> canBreak(n, false);
    bool quoted = false;
    for (std::size_t i = 0; i < n; ++i) {
        const char c = line[i];
        if (c == '"') quoted = !quoted;
        canBreak[i] = !quoted && i >= valueStart && (c == ' ' || c == '\t' || c == ',');
    }
    const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };

    std::string prefix;
    std::size_t start = 0;
    while (start < n) {
        if (prefix.size() + (n - start) <= limit) {
            out.push_back(prefix + std::string(line.substr(start)));
            break;
        }
        // The character that takes the piece past the limit.
        const std::size_t passing = start + (limit - prefix.size());
        std::size_t cut = n;
        for (std::size_t b = passing + 1; b-- > start;) {
            if (canBreak[b]) {
                cut = b + 1;
                break;
            }
        }
        if (cut == n) {
            for (std::size_t b = passing + 1; b < n; ++b) {
                if (canBreak[b]) {
                    cut = b + 1;
                    break;
                }
            }
        }
        std::size_t next = cut;
        while (next < n && isBlank(line[next])) ++next;
        if (next >= n) {
            // No break point left with text after it: the rest stays whole.
            out.push_back(prefix + std::string(line.substr(start)));
            break;
        }
        std::string_view piece = line.substr(start, cut - start);
        while (!piece.empty() && isBlank(piece.back())) piece.remove_suffix(1);
        out.push_back(prefix + std::string(piece));
        prefix = " ";
        start = next;
    }
    return out;
}

}  // namespace quorvel
