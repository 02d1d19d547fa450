// A real nginx on 127.0.0.1, started with a configuration of its own in a
// temporary folder and stopped by the destructor. For tests and benchmarks.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace quorvel::test {

// The nginx binary, or empty when none is installed.
std::string FindNginx();

class TNginxServer {
public:
    // `locations` goes inside the server block; the document root is Root().
    // Raises std::runtime_error saying why when nginx is missing or does not
    // come up within a few seconds.
    explicit TNginxServer(const std::string& locations = "");
    ~TNginxServer();
    TNginxServer(const TNginxServer&) = delete;
    TNginxServer& operator=(const TNginxServer&) = delete;

    std::uint16_t Port() const { return FPort; }
    std::string HostPort() const { return "127.0.0.1:" + std::to_string(FPort); }
    const std::string& Root() const { return FRoot; }
    // Writes a file below Root(), making its folders.
    void WriteFile(const std::string& relativePath, const std::string& content) const;
    // The access log, one entry per request: "$connection $connection_requests
    // $status $request".
    std::vector<std::string> AccessLog() const;

private:
    void Start(const std::string& nginx, const std::string& locations);
    void Stop() noexcept;
    std::string FDir;
    std::string FRoot;
    std::uint16_t FPort = 0;
    pid_t FPid = -1;
};

}  // namespace quorvel::test
