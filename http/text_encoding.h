// Conversions between the program's UTF-8 text and bytes on the wire.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace quorvel {

using Bytes = std::vector<std::uint8_t>;

// US-ASCII (code page 20127): every character outside 0..127 becomes one '?'.
// Malformed UTF-8 counts one '?' per offending byte.
Bytes ToUsAscii(std::string_view utf8);
void AppendUsAscii(Bytes& out, std::string_view utf8);

// Bytes read as US-ASCII: a byte above 127 reads as '?'.
std::string FromUsAscii(const std::uint8_t* data, std::size_t size);
inline std::string FromUsAscii(const Bytes& bytes) { return FromUsAscii(bytes.data(), bytes.size()); }

// Bytes read as ISO-8859-1: each byte is the code point of the same value.
std::string FromLatin1(const std::uint8_t* data, std::size_t size);

// Decodes bytes with the named charset, any charset the platform knows; an
// empty or unknown name falls back to ISO-8859-1, which can read any byte
// sequence.
std::string DecodeCharset(const Bytes& bytes, std::string_view charset);
// The platform's own decoder (iconv on Linux, the code page functions on
// Windows): false when it does not know the charset. A byte sequence the
// charset cannot read becomes U+FFFD.
bool DecodePlatformCharset(const Bytes& bytes, const std::string& charset, std::string& utf8);

// Every character in lower case by the platform's Unicode case mapping (not
// only ASCII letters, as the protocol helpers below).
std::u16string LowerCaseUtf16(std::u16string_view text);

std::u16string Utf8ToUtf16(std::string_view utf8);
std::string Utf16ToUtf8(std::u16string_view utf16);

// ASCII-only case folding and comparison, as protocol text needs.
char AsciiLower(char c);
std::string AsciiLowerCopy(std::string_view s);
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
bool StartsWithIgnoreCase(std::string_view s, std::string_view prefix);
bool EndsWithIgnoreCase(std::string_view s, std::string_view suffix);
// Trims characters up to and including the space (as protocol text trims).
std::string_view Trim(std::string_view s);
std::string_view TrimRight(std::string_view s);

}  // namespace quorvel
