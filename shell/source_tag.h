// Rules read from the executable's own file name: the distribution tag and the
// title of error boxes.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// What follows the path's last "\" or ":" (the whole path when neither occurs),
// as the Windows module path is cut.
std::string ModuleFileName(std::string_view exePath);

// What follows the last "/" of a POSIX path. The Linux shell passes this to the
// rules below, which cut only at the Windows separators.
std::string PosixBaseName(std::string_view path);

// "none" without an "_" in the file name; otherwise what follows the first "_"
// less the name's last four UTF-16 code units (empty when nothing is left).
std::string DeriveSourceTag(const std::string& exePath);

// The file name cut at its first ".", every character after the first in
// lower case by the platform's Unicode case mapping.
std::string ApplicationTitle(const std::string& exePath);

}  // namespace quorvel
