#pragma once

#include <windows.h>

#include <string>

namespace win32 {

std::string ToUtf8(LPCWSTR wide);

} // namespace win32
