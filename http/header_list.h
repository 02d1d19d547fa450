// An ordered list of header lines "Name: value", as received or to be sent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

class TIdHeaderList {
public:
    // Request lines longer than this are folded by FoldedLines.
    static constexpr std::size_t FoldLength = 1024;

    // Appends a line as it is (a received line, or a continuation).
    void Add(std::string line);
    // Appends the line "name: value".
    void AddValue(std::string_view name, std::string_view value);

    // The value of the first line with this name (ASCII case ignored), trimmed,
    // with its continuation lines joined by one space; empty when absent.
    std::string Values(std::string_view name) const;
    // Every value with this name, in order, each with its continuations.
    std::vector<std::string> AllValues(std::string_view name) const;
    // Index of the first line with this name, or -1.
    int IndexOfName(std::string_view name) const;

    // Replaces the first line with this name (and its continuations) or
    // appends one; an empty value removes that line instead.
    void SetValue(std::string_view name, std::string_view value);
    // Removes every line with this name, with its continuations.
    void Remove(std::string_view name);

    std::size_t Count() const { return FLines.size(); }
    void Clear() { FLines.clear(); }
    const std::vector<std::string>& Lines() const { return FLines; }
    // The text before the first ":" of line i; empty for a continuation line
    // or a line without ":".
    std::string Names(std::size_t i) const;

    // The lines as a request sends them: each line longer than FoldLength is
    // folded onto continuation lines, and no line holds a CR or LF.
    std::vector<std::string> FoldedLines() const;

private:
    // The end of line i's block: the index after its last continuation line.
    std::size_t BlockEnd(std::size_t i) const;
    std::string JoinedValue(std::size_t i) const;

    std::vector<std::string> FLines;
};

// Folds one header line (see FoldedLines); a line without a break point
// stays whole.
std::vector<std::string> FoldHeaderLine(std::string_view line, std::size_t limit = TIdHeaderList::FoldLength);

}  // namespace quorvel
