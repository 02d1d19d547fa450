// The one owner of a POSIX descriptor.
#pragma once

#include <unistd.h>

#include "http/scoped_generic.h"

namespace quorvel {

struct TFdTraits {
    static int InvalidValue() { return -1; }
    // No retry on EINTR: on Linux the descriptor is released regardless.
    static void Free(int fd) { ::close(fd); }
};
using TUniqueFd = TScopedGeneric<int, TFdTraits>;

}  // namespace quorvel
