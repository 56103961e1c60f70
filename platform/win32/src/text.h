#pragma once

#include <windows.h>

#include <string>

namespace win32 {

std::string ToUtf8(LPCWSTR wide);

// A platform path as this machine names it: UTF-8, '/' for '\\', and, when the exact name does
// not exist, the existing entry that differs only in letter case (the platform ignores case).
std::string NativePath(LPCWSTR path);

} // namespace win32
