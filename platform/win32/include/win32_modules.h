// Libraries of the platform whose code a stand-in links into the program: no file exists for them,
// so a stand-in marks one loaded when it first hands out one of its objects, and GetModuleHandleExA
// finds it by name from then on (as the program's own module).
#pragma once

namespace win32 {

void MarkBuiltinModuleLoaded(const char* name);

} // namespace win32
