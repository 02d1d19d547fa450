// The shell as the benchmark builds it: the same program with loopback hosts
// of its own, apart from the tree's build and the end-to-end tests' ports.
#include "shell/build_values.h"

namespace quorvel {

TBuildValues ThisBuildValues() {
    return TBuildValues{QUORVEL_BENCH_START_PAGE_HOST, QUORVEL_BENCH_REPORT_HOST, "quorvel_win"};
}

}  // namespace quorvel
