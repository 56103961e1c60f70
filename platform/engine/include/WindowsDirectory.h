// Lists a folder given as a Windows-style relative path ("Binaries\").
#pragma once

#include <string>
#include <vector>

// The folder's entries as paths ("Binaries/x.DLL"), sorted by name; empty for a missing folder.
// Paths, not bare names: loading a bare name would search the library path, not the folder.
std::vector<std::wstring> GetFilesInWindowsDirectory(const std::wstring& folder);
