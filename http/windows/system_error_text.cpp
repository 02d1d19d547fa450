#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "http/windows/system_error_text.h"
#include "http/windows/windows_text.h"

namespace quorvel {

std::string SystemErrorText(std::uint32_t number) {
    wchar_t buffer[1024];
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                    number, 0, buffer, sizeof buffer / sizeof buffer[0], nullptr);
    while (length > 0 && buffer[length - 1] <= L' ') --length;
    return Narrow(std::wstring_view(buffer, length));
}

}  // namespace quorvel
