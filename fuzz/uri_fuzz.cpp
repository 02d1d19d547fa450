// The URL model on any text: parsing never fails, a merge either succeeds or
// raises its one error and changes nothing, the connect target raises only
// its range error, and merged paths hold no empty segments.
//
// Input: current URL, next URL (NUL-separated), then a relative path that is
// merged onto the current URL's path.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/input_reader.h"
#include "http/exceptions.h"
#include "http/uri.h"

using namespace quorvel;

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail = "") {
    std::fprintf(stderr, "uri_fuzz: %s %s\n", what, detail.c_str());
    std::abort();
}

bool SameUri(const TIdURI& a, const TIdURI& b) {
    return a.URI == b.URI && a.Protocol == b.Protocol && a.Username == b.Username && a.Password == b.Password &&
           a.Host == b.Host && a.Port == b.Port && a.Path == b.Path && a.Document == b.Document &&
           a.Params == b.Params && a.Bookmark == b.Bookmark && a.IPVersion == b.IPVersion;
}

void CheckTarget(const TIdURI& uri) {
    try {
        const TIdConnectTarget target = ConnectTarget(uri);
        if (target.Host != uri.Host) Fail("connect target changed the host");
    } catch (const ERangeError&) {
    }
    (void)HostLineValue(uri);
    (void)uri.GetPathAndParams();
}

void CheckMergePath(const std::string& base, const std::string& path) {
    const std::string merged = MergePath(base, path);
    if (!path.empty() && path.front() == '/') {
        if (merged != path) Fail("an absolute path was changed");
        return;
    }
    if (merged.find("//") != std::string::npos) Fail("merged path keeps a run of slashes", merged);
    if (!base.empty() && base.front() == '/' && (merged.empty() || merged.front() != '/'))
        Fail("an absolute base lost its root", merged);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::TInputReader in(data, size);
    const std::string first = in.Field();
    const std::string second = in.Field();
    const std::string relative(reinterpret_cast<const char*>(in.Rest()), in.Left());

    TIdURI current(first);
    const TIdURI next(second);
    CheckTarget(current);
    CheckTarget(next);
    CheckMergePath(current.Path, next.Path);
    CheckMergePath(current.Path, relative);

    const TIdURI before = current;
    std::string username = "user", password = "secret";
    try {
        MergeURI(current, next, username, password);
    } catch (const EIdUnknownProtocol&) {
        if (!SameUri(before, current) || username != "user" || password != "secret")
            Fail("a failed merge changed the URL or the credentials");
        return 0;
    }
    if (!next.Host.empty() && current.Host != next.Host) Fail("merge did not take the next host");
    if (next.Username.empty() && (username != "user" || password != "secret"))
        Fail("merge without user information changed the credentials");
    if (current.Port.empty()) Fail("merge left no port");
    CheckTarget(current);
    // Merging the same URL twice lands on the same URL.
    TIdURI again = current;
    std::string u2 = username, p2 = password;
    MergeURI(again, next, u2, p2);
    if (next.Path.empty() || next.Path.front() == '/') {
        if (!SameUri(again, current)) Fail("merging an absolute URL twice differs");
    }
    return 0;
}
