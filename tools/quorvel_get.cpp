// quorvel-get URL: runs the install report's exchange once and prints what
// it saw, one key=value per line.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "report/http_get_ok.h"
#ifdef _WIN32
#include "http/windows/windows_text.h"
#endif

namespace {

constexpr const char* kUsage = "usage: quorvel-get URL";

// One line per key: line ends inside a message are written out.
std::string EscapeLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

int Run(const std::string& url) {
    quorvel::THttpGetOutcome outcome;
    const auto start = std::chrono::steady_clock::now();
    quorvel::HttpGetOk(url, &outcome);
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::printf("result=%s\n", outcome.Result ? "true" : "false");
    std::printf("code=%d\n", outcome.Code);
    std::printf("error=%s\n", outcome.ErrorClass.c_str());
    std::printf("message=%s\n", EscapeLineEnds(outcome.Message).c_str());
    std::printf("last_error=%d\n", outcome.LastError);
    std::printf("body=%llu\n", static_cast<unsigned long long>(outcome.BodyBytes));
    std::printf("elapsed_ms=%lld\n", static_cast<long long>(elapsed.count()));
    return outcome.Result ? 0 : 1;
}

int Main(int argc, const std::string* argv) {
    if (argc != 2 || argv[1] == "-h" || argv[1] == "--help") {
        std::fprintf(stderr, "%s\n", kUsage);
        return 2;
    }
    try {
        return Run(argv[1]);
    } catch (const std::exception& e) {
        // Only the socket library failing to start leaves HttpGetOk.
        std::fprintf(stderr, "quorvel-get: %s\n", e.what());
        return 1;
    }
}

}  // namespace

#ifdef _WIN32
// The wide entry point hands the arguments over as UTF-16, whatever the
// console's code page (linked with -municode).
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i)
        args.push_back(quorvel::Narrow(argv[i]));
    return Main(argc, args.data());
}
#else
// Arguments arrive as the bytes the shell passed, read as UTF-8.
int main(int argc, char** argv) {
    std::vector<std::string> args(argv, argv + argc);
    return Main(argc, args.data());
}
#endif
