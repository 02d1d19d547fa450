// The text rules of an HTTP exchange that need no connection: reading the
// status code, lengths and chunk sizes a server sends, and keeping control
// bytes of a URL off the request's lines.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

// The code of a status line: the text after its first space, trimmed, up to
// the next space, read as a decimal integer; -1 when that is not a number.
// The protocol token is not examined.
int ParseResponseCode(std::string_view statusLine);

// A Content-Length value, trimmed, read as a 64-bit decimal; -1 when it is
// not a number or is negative.
std::int64_t ParseContentLength(std::string_view value);

// A chunk-size line: the text before its first space, trailing tabs removed,
// read as hexadecimal; 0 when that is not a valid number (a chunk extension
// after ";" makes it invalid).
std::int64_t ParseChunkSize(std::string_view line);

// A Content-Type value split into the type without its charset parameter and
// that parameter's value (quotes removed). False when there is no charset.
bool SplitContentType(std::string_view value, std::string& type, std::string& charset);

// A control byte (0x00-0x1F, 0x7F) would end or split a request line on the
// wire.
bool IsControlByte(unsigned char c);
bool HasControlByte(std::string_view text);
// The request target with every control byte written as %XX; everything else,
// a space included, stays as it is.
std::string EscapeControlBytes(std::string_view target);

}  // namespace quorvel
