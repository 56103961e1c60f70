// Path names as the program writes them, turned into names this machine opens: the kernel stand-in's
// own rule, shared with the other stand-ins that open files the program names.
#pragma once

#include <windows.h>

#include <string>

namespace win32 {

// `path` (UTF-8, '\\' or '/' between names) with '/' for '\\' and, for each name that does not
// exist as written, the entry of its folder that differs only in letter case, the first in name
// order (the platform ignores case). Names that match nothing stay as written.
std::string NativePath(const std::string& path);
// The same for a wide path, as the platform's wide calls take it.
std::string NativePath(LPCWSTR path);
// A wide name as UTF-8, as it is printed and recorded.
std::string ToUtf8(LPCWSTR wide);

} // namespace win32
