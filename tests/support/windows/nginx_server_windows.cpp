// The nginx harness starts nginx as a POSIX child process; the Windows test
// programs have no nginx tests, and this says so to any that would try.
#include <stdexcept>

#include "support/nginx_server.h"

namespace quorvel::test {

std::string FindNginx() { return {}; }

TNginxServer::TNginxServer(const std::string&) {
    throw std::runtime_error("the nginx harness runs on Linux only");
}

TNginxServer::~TNginxServer() = default;

void TNginxServer::WriteFile(const std::string&, const std::string&) const {}

std::vector<std::string> TNginxServer::AccessLog() const { return {}; }

}  // namespace quorvel::test
