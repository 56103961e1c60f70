// Start-up: the built-in systems and the plug-in systems, handed to the engine in their fixed order.
#pragma once

#include <string>

// The seven built-in systems, then every plug-in of "Binaries\". Ends the process when a plug-in
// cannot be loaded (-77) or lacks its export (-28), unless the window system's report ended it first.
void AddSystems();

// Only the plug-ins: the libraries of "Binaries\" whose names end in ".DLL" in any case.
void AddPluginSystems();

// Whether a folder entry names a plug-in library: more than the four characters of the extension,
// ending in ".DLL" in any case. Only the last path component counts.
bool IsPluginLibraryName(const std::wstring& entry);
