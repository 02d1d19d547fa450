// The text conversions the platform does: charsets through iconv, case
// through the C library's Unicode tables (the C.UTF-8 locale).
#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <cerrno>

#include "http/scoped_generic.h"
#include "http/text_encoding.h"

namespace quorvel {

namespace {

// One conversion descriptor, closed when it goes.
struct TIconvTraits {
    static iconv_t InvalidValue() { return reinterpret_cast<iconv_t>(-1); }
    static void Free(iconv_t handle) { ::iconv_close(handle); }
};
using TIconv = TScopedGeneric<iconv_t, TIconvTraits>;

// A name as a server sent it must not reach iconv's "//" option syntax.
bool PlainCharsetName(const std::string& name) {
    if (name.empty()) return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 0x7F || c == '/') return false;
    }
    return true;
}

locale_t Utf8Locale() {
    static const locale_t locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

}  // namespace

bool DecodePlatformCharset(const Bytes& bytes, const std::string& charset, std::string& utf8) {
    if (!PlainCharsetName(charset)) return false;
    TIconv converter(::iconv_open("UTF-8", charset.c_str()));
    if (!converter.IsValid()) return false;
    utf8.clear();
    // glibc's iconv does not change its input, whatever the prototype says.
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    std::size_t inLeft = bytes.size();
    char buffer[4096];
    while (inLeft > 0) {
        char* out = buffer;
        std::size_t outLeft = sizeof buffer;
        const std::size_t r = ::iconv(converter.Get(), &in, &inLeft, &out, &outLeft);
        utf8.append(buffer, static_cast<std::size_t>(out - buffer));
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        // A byte the charset has no character for, or a sequence cut off at
        // the end: one replacement character, and on after that byte.
        utf8 += "\xEF\xBF\xBD";
        if (errno != EILSEQ) break;
        ++in;
        --inLeft;
    }
    char* out = buffer;
    std::size_t outLeft = sizeof buffer;
    ::iconv(converter.Get(), nullptr, nullptr, &out, &outLeft);
    utf8.append(buffer, static_cast<std::size_t>(out - buffer));
    return true;
}

std::u16string LowerCaseUtf16(std::u16string_view text) {
    const locale_t locale = Utf8Locale();
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                          text[i + 1] <= 0xDFFF;
        if (pair) c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        if (locale != static_cast<locale_t>(nullptr)) {
            c = static_cast<char32_t>(::towlower_l(static_cast<wint_t>(c), locale));
        } else if (c >= 'A' && c <= 'Z') {
            c += 32;
        }
        if (c >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

}  // namespace quorvel
