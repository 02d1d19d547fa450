#include "support/nginx_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "http/posix/unique_fd.h"

namespace quorvel::test {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

std::uint16_t FreeLoopbackPort() {
    const TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.IsValid()) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(fd.Get(), reinterpret_cast<sockaddr*>(&a), &len) != 0) throw std::runtime_error("no free loopback port");
    return ntohs(a.sin_port);
}

bool Accepts(std::uint16_t port) {
    const TUniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.IsValid()) return false;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

std::string FindNginx() {
    for (const char* candidate : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"}) {
        if (::access(candidate, X_OK) == 0) return candidate;
    }
    return {};
}

TNginxServer::TNginxServer(const std::string& locations) {
    const std::string nginx = FindNginx();
    if (nginx.empty())
        throw std::runtime_error("nginx is not installed (Debian: apt-get install nginx-light)");
    char pattern[] = "/tmp/quorvel-nginx-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp: " + std::string(std::strerror(errno)));
    FDir = pattern;
    FRoot = FDir + "/root";
    fs::create_directories(FRoot);
    // nginx reads the root as whatever user it runs as.
    ::chmod(FDir.c_str(), 0755);
    // A port found free may be taken before nginx binds it: try again.
    for (int attempt = 0;; ++attempt) {
        try {
            Start(nginx, locations);
            return;
        } catch (const std::exception&) {
            if (attempt == 2) {
                std::error_code ignored;
                fs::remove_all(FDir, ignored);
                throw;
            }
        }
    }
}

void TNginxServer::Start(const std::string& nginx, const std::string& locations) {
    FPort = FreeLoopbackPort();
    const std::string conf = FDir + "/nginx.conf";
    {
        std::ofstream out(conf);
        out << "daemon off;\n"
               "master_process off;\n"
               "worker_processes 1;\n"
               "pid " << FDir << "/nginx.pid;\n"
               "error_log " << FDir << "/error.log warn;\n"
               "events { worker_connections 64; }\n"
               "http {\n"
               "  types { text/html html; text/plain txt; }\n"
               "  default_type application/octet-stream;\n"
               "  log_format quorvel '$connection $connection_requests $status \"$request\"';\n"
               "  access_log " << FDir << "/access.log quorvel;\n"
               "  client_body_temp_path " << FDir << "/body;\n"
               "  proxy_temp_path " << FDir << "/proxy;\n"
               "  fastcgi_temp_path " << FDir << "/fastcgi;\n"
               "  uwsgi_temp_path " << FDir << "/uwsgi;\n"
               "  scgi_temp_path " << FDir << "/scgi;\n"
               "  keepalive_timeout 30s;\n"
               "  server {\n"
               "    listen 127.0.0.1:" << FPort << ";\n"
               "    server_name localhost;\n"
               "    root " << FRoot << ";\n"
            << locations << "\n"
               "  }\n"
               "}\n";
    }
    std::remove((FDir + "/error.log").c_str());

    // Everything the child needs is made before fork: it only calls exec.
    std::vector<std::string> args = {nginx, "-p", FDir, "-c", conf};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork: " + std::string(std::strerror(errno)));
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    FPid = pid;

    const auto until = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < until) {
        int status = 0;
        if (::waitpid(FPid, &status, WNOHANG) == FPid) {
            FPid = -1;
            throw std::runtime_error("nginx exited at start: " + ReadAll(FDir + "/error.log"));
        }
        if (Accepts(FPort)) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Stop();
    throw std::runtime_error("nginx did not accept on port " + std::to_string(FPort) + " within 5 s: " +
                             ReadAll(FDir + "/error.log"));
}

void TNginxServer::Stop() noexcept {
    if (FPid <= 0) return;
    ::kill(FPid, SIGTERM);
    const auto until = Clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (::waitpid(FPid, &status, WNOHANG) == 0) {
        if (Clock::now() >= until) {
            ::kill(FPid, SIGKILL);
            ::waitpid(FPid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    FPid = -1;
}

TNginxServer::~TNginxServer() {
    Stop();
    std::error_code ignored;
    fs::remove_all(FDir, ignored);
}

void TNginxServer::WriteFile(const std::string& relativePath, const std::string& content) const {
    const fs::path path = fs::path(FRoot) / relativePath;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::vector<std::string> TNginxServer::AccessLog() const {
    std::vector<std::string> lines;
    std::ifstream in(FDir + "/access.log");
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace quorvel::test
