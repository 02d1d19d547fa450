// Linked in front of the network library's own definition: this program's
// stack loads a socket library that does not exist.
#include "http/windows/winsock_library.h"

namespace quorvel {

const char* WinsockLibraryFileName() { return "quorvel_missing_ws2.dll"; }

}  // namespace quorvel
