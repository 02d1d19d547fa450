// The program's UTF-8 text as the wide (UTF-16) text of the Windows calls,
// and back.
#pragma once

#include <string>
#include <string_view>

#include "http/text_encoding.h"

namespace quorvel {

inline std::wstring Wide(std::string_view utf8) {
    const std::u16string u16 = Utf8ToUtf16(utf8);
    return std::wstring(u16.begin(), u16.end());
}

inline std::string Narrow(std::wstring_view text) {
    return Utf16ToUtf8(std::u16string(text.begin(), text.end()));
}

}  // namespace quorvel
