// The shell as the end-to-end tests build it: the same program with loopback
// hosts, whatever the hosts of the tree's own build are.
#include "shell/build_values.h"

namespace quorvel {

TBuildValues ThisBuildValues() {
    return TBuildValues{QUORVEL_E2E_START_PAGE_HOST, QUORVEL_E2E_REPORT_HOST, "quorvel_win"};
}

}  // namespace quorvel
