// The socket library the Windows stack loads at run time.
#pragma once

namespace quorvel {

// "WS2_32.DLL" in the shipped program; a test build names a missing one.
const char* WinsockLibraryFileName();

}  // namespace quorvel
