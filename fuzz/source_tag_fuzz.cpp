// The tag and title rules on any executable path: the tag is "none" or a
// valid UTF-8 cut of the file name of the length the UTF-16 rule gives, and
// the title is the file name's first part (up to its first ".") with only the
// case of its later characters changed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "http/text_encoding.h"
#include "shell/source_tag.h"

using namespace quorvel;

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "source_tag_fuzz: %s %s\n", what, detail.c_str());
    std::abort();
}

bool ValidUtf8(const std::string& s) { return Utf16ToUtf8(Utf8ToUtf16(s)) == s; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path(reinterpret_cast<const char*>(data), size);
    const std::string name = ModuleFileName(path);
    if (name.find_first_of("\\:") != std::string::npos) Fail("file name keeps a separator");
    if (PosixBaseName(path).find('/') != std::string::npos) Fail("base name keeps a slash");

    const std::string tag = DeriveSourceTag(path);
    const std::u16string name16 = Utf8ToUtf16(name);
    const std::size_t underscore = name16.find(u'_');
    if (underscore == std::u16string::npos) {
        if (tag != "none") Fail("no underscore, yet a tag other than none", tag);
    } else {
        if (!ValidUtf8(tag)) Fail("tag is not valid UTF-8", tag);
        const long long expected = static_cast<long long>(name16.size()) - static_cast<long long>(underscore) - 5;
        const std::u16string tag16 = Utf8ToUtf16(tag);
        if (static_cast<long long>(tag16.size()) != (expected > 0 ? expected : 0)) Fail("tag has the wrong length", tag);
        // Whole characters of the cut are the file name's own.
        for (std::size_t i = 0; i < tag16.size(); ++i) {
            const char16_t c = tag16[i];
            if (c != u'\xFFFD' && c != name16[underscore + 1 + i]) Fail("tag differs from the file name", tag);
        }
    }

    // Compared as UTF-16, as the title is made: bytes that are no UTF-8 read
    // as U+FFFD on both sides.
    const std::string title = ApplicationTitle(path);
    const std::u16string title16 = Utf8ToUtf16(title);
    const std::u16string part16 = Utf8ToUtf16(name.substr(0, name.find('.')));
    if (!ValidUtf8(title) || title.find('.') != std::string::npos) Fail("title is not a first part", title);
    if (title16.size() != part16.size()) Fail("title has another length than the first part", title);
    if (LowerCaseUtf16(title16) != LowerCaseUtf16(part16)) Fail("title changed more than case", title);
    if (!title16.empty() && title16[0] != part16[0]) Fail("title changed its first character", title);
    if (title16.size() > 1 && title16[0] >= 0xD800 && title16[0] <= 0xDBFF && title16[1] != part16[1])
        Fail("title changed its first character", title);
    return 0;
}
