// Compiled into each shell executable, so that a test build can carry its
// own hosts without a second configuration of the whole tree.
#include "shell/build_values.h"

#include "quorvel/config.h"

namespace quorvel {

TBuildValues ThisBuildValues() { return TBuildValues{config::kStartPageHost, config::kReportHost, config::kSoftId}; }

}  // namespace quorvel
