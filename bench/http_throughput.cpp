// Reads one large body over loopback through TIdHTTP into a null stream and
// then with curl from the same URL, three rounds after one untimed read, and
// prints both rates and CPU times.
//
// usage: http_throughput [MiB] [--built-in]   (default 1024 MiB, nginx when
// installed)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "http/exceptions.h"
#include "http/http.h"
#include "support/nginx_server.h"
#include "support/scripted_server.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; }

struct TFigures {
    double wallSeconds = 0;
    double userSeconds = 0;
    double systemSeconds = 0;
    double bytesPerSecond = 0;
    bool ok = false;
    std::string note;
};

void Print(const char* who, const TFigures& f) {
    if (!f.ok) {
        std::printf("%-8s failed: %s\n", who, f.note.c_str());
        return;
    }
    std::printf("%-8s %9.1f MB/s   wall %6.2f s   CPU %6.2f s (user %.2f + sys %.2f)%s\n", who,
                f.bytesPerSecond / 1e6, f.wallSeconds, f.userSeconds + f.systemSeconds, f.userSeconds,
                f.systemSeconds, f.note.c_str());
}

TFigures RunOurs(const std::string& url, std::int64_t expected) {
    TFigures f;
    quorvel::TIdHTTP http;
    http.ReadTimeout = 10000;
    quorvel::TNullStream sink;
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const auto start = Clock::now();
    try {
        http.Get(url, sink);
    } catch (const quorvel::Exception& e) {
        f.note = std::string(e.ClassName()) + ": " + e.Message();
        return f;
    }
    f.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    getrusage(RUSAGE_SELF, &after);
    f.userSeconds = Seconds(after.ru_utime) - Seconds(before.ru_utime);
    f.systemSeconds = Seconds(after.ru_stime) - Seconds(before.ru_stime);
    f.bytesPerSecond = static_cast<double>(sink.BytesWritten()) / f.wallSeconds;
    f.ok = static_cast<std::int64_t>(sink.BytesWritten()) == expected;
    if (!f.ok) f.note = "read " + std::to_string(sink.BytesWritten()) + " of " + std::to_string(expected) + " bytes";
    return f;
}

TFigures RunCurl(const std::string& url) {
    TFigures f;
    int out[2];
    if (::pipe(out) != 0) {
        f.note = "pipe failed";
        return f;
    }
    std::vector<std::string> args = {"curl", "-s", "-o", "/dev/null", "-w", "%{speed_download}", url};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        ::execvp("curl", argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    std::string text;
    char buf[256];
    for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        f.note = WIFEXITED(status) && WEXITSTATUS(status) == 127 ? "curl is not installed" : "curl failed";
        return f;
    }
    f.wallSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    f.userSeconds = Seconds(usage.ru_utime);
    f.systemSeconds = Seconds(usage.ru_stime);
    f.bytesPerSecond = std::strtod(text.c_str(), nullptr);
    f.ok = true;
    return f;
}

// Serves the body from this process when nginx is missing; its CPU time then
// counts in ours.
quorvel::test::TScriptedServer::Script BuiltInBody(std::int64_t size) {
    return [size](quorvel::test::TScriptedConnection& c) {
        c.ReadRequestHead();
        if (!c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(size) + "\r\nConnection: close\r\n\r\n"))
            return;
        const std::string block(256 * 1024, '\0');
        for (std::int64_t sent = 0; sent < size; sent += static_cast<std::int64_t>(block.size())) {
            const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(size - sent, 256 * 1024));
            if (!c.Send(piece == block.size() ? block : block.substr(0, piece))) return;
        }
        c.ShutdownSend();
        c.ReadUntilClose(std::chrono::seconds(2));
    };
}

}  // namespace

int main(int argc, char** argv) {
    long mib = 1024;
    bool builtInWanted = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--built-in") {
            builtInWanted = true;
        } else if ((mib = std::strtol(arg.c_str(), nullptr, 10)) <= 0) {
            std::fprintf(stderr, "usage: http_throughput [MiB] [--built-in]\n");
            return 2;
        }
    }
    const std::int64_t size = static_cast<std::int64_t>(mib) * 1024 * 1024;

    std::unique_ptr<quorvel::test::TNginxServer> nginx;
    std::unique_ptr<quorvel::test::TScriptedServer> builtIn;
    std::string url, source;
    if (!builtInWanted && !quorvel::test::FindNginx().empty()) {
        nginx = std::make_unique<quorvel::test::TNginxServer>();
        // A sparse file: nginx sends zeros from the page cache.
        nginx->WriteFile("big.bin", "");
        std::filesystem::resize_file(nginx->Root() + "/big.bin", static_cast<std::uintmax_t>(size));
        url = "http://" + nginx->HostPort() + "/big.bin";
        source = "nginx";
    } else {
        builtIn = std::make_unique<quorvel::test::TScriptedServer>(BuiltInBody(size));
        url = "http://" + builtIn->HostPort() + "/big.bin";
        source = "the built-in server (its CPU time counts in ours)";
    }
    std::printf("body: %lld bytes from %s at %s\n", static_cast<long long>(size), source.c_str(), url.c_str());
    // The first read of the file is slow for any client: it is not timed.
    RunOurs(url, size);
    for (int round = 1; round <= 3; ++round) {
        std::printf("round %d\n", round);
        Print("quorvel", RunOurs(url, size));
        Print("curl", RunCurl(url));
    }
    return 0;
}
