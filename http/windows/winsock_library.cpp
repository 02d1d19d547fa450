// Alone in its file so that a test program can link its own definition in
// front of this one and start the stack against a library that is missing.
#include "http/windows/winsock_library.h"

#ifndef QUORVEL_WINSOCK_LIBRARY_NAME
#define QUORVEL_WINSOCK_LIBRARY_NAME "WS2_32.DLL"
#endif

namespace quorvel {

const char* WinsockLibraryFileName() { return QUORVEL_WINSOCK_LIBRARY_NAME; }

}  // namespace quorvel
