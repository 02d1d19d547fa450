// The fixed values this executable was built with.
#pragma once

#include "shell/application.h"

namespace quorvel {

TBuildValues ThisBuildValues();

}  // namespace quorvel
