// The text conversions the platform does: charsets through the code page
// functions, case through the system's own lower-casing.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <climits>
#include <string_view>

#include "http/text_encoding.h"

namespace quorvel {

namespace {

struct TCharsetName {
    const char* Name;
    UINT CodePage;
};

// Charset names (lower case) and their code pages. The system has no lookup
// by name, so the names the web uses for the code pages it has are listed.
constexpr TCharsetName kCharsets[] = {
    {"iso-8859-1", 28591},    {"latin1", 28591},         {"iso_8859-1", 28591},    {"l1", 28591},
    {"iso-8859-2", 28592},    {"latin2", 28592},         {"iso-8859-3", 28593},    {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},    {"iso-8859-6", 28596},     {"iso-8859-7", 28597},    {"iso-8859-8", 28598},
    {"iso-8859-8-i", 38598},  {"iso-8859-9", 28599},     {"latin5", 28599},        {"iso-8859-13", 28603},
    {"iso-8859-15", 28605},   {"latin-9", 28605},        {"windows-1250", 1250},   {"windows-1251", 1251},
    {"windows-1252", 1252},   {"windows-1253", 1253},    {"windows-1254", 1254},   {"windows-1255", 1255},
    {"windows-1256", 1256},   {"windows-1257", 1257},    {"windows-1258", 1258},   {"cp1250", 1250},
    {"cp1251", 1251},         {"cp1252", 1252},          {"cp1253", 1253},         {"cp1254", 1254},
    {"cp1255", 1255},         {"cp1256", 1256},          {"cp1257", 1257},         {"cp1258", 1258},
    {"windows-874", 874},     {"tis-620", 874},          {"koi8-r", 20866},        {"koi8-u", 21866},
    {"ibm437", 437},          {"cp437", 437},            {"ibm850", 850},          {"cp850", 850},
    {"ibm852", 852},          {"cp852", 852},            {"ibm866", 866},          {"cp866", 866},
    {"macintosh", 10000},     {"x-mac-cyrillic", 10007}, {"shift_jis", 932},       {"shift-jis", 932},
    {"sjis", 932},            {"x-sjis", 932},           {"windows-31j", 932},     {"cp932", 932},
    {"euc-jp", 20932},        {"iso-2022-jp", 50220},    {"gb2312", 936},          {"gbk", 936},
    {"cp936", 936},           {"gb18030", 54936},        {"big5", 950},            {"cp950", 950},
    {"euc-kr", 949},          {"ks_c_5601-1987", 949},   {"cp949", 949},           {"utf-7", 65000},
    {"utf-8", 65001},
};

UINT CodePageOf(const std::string& charset) {
    const std::string name = AsciiLowerCopy(charset);
    for (const TCharsetName& entry : kCharsets) {
        if (name == entry.Name) return entry.CodePage;
    }
    return 0;
}

}  // namespace

bool DecodePlatformCharset(const Bytes& bytes, const std::string& charset, std::string& utf8) {
    const UINT codePage = CodePageOf(charset);
    if (codePage == 0 || !::IsValidCodePage(codePage)) return false;
    utf8.clear();
    if (bytes.empty()) return true;
    const int size = bytes.size() > INT_MAX ? INT_MAX : static_cast<int>(bytes.size());
    const auto* in = reinterpret_cast<const char*>(bytes.data());
    const int needed = ::MultiByteToWideChar(codePage, 0, in, size, nullptr, 0);
    if (needed <= 0) return false;
    std::u16string wide(static_cast<std::size_t>(needed), u'\0');
    ::MultiByteToWideChar(codePage, 0, in, size, reinterpret_cast<wchar_t*>(wide.data()), needed);
    utf8 = Utf16ToUtf8(wide);
    return true;
}

std::u16string LowerCaseUtf16(std::u16string_view text) {
    std::u16string out(text);
    if (!out.empty() && out.size() <= ULONG_MAX)
        ::CharLowerBuffW(reinterpret_cast<wchar_t*>(out.data()), static_cast<DWORD>(out.size()));
    return out;
}

}  // namespace quorvel
