// The one rule for path names the program writes: shared with the other stand-ins (win32_paths.h)
// and kept in a file of its own, so that a library that needs only this takes in no kernel objects.
#include "text.h"

#include <win32_paths.h>

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>

namespace win32 {
namespace {

bool Exists(const std::string& path) {
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

// Finds the entry of `folder` whose name equals `name` but for letter case; of several, the first in
// name order, so that the choice does not depend on the order the folder lists them in.
bool FindIgnoringCase(const std::string& folder, const std::string& name, std::string& found) {
    DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return false;
    bool matched = false;
    while (dirent* entry = readdir(dir)) {
        if (strcasecmp(entry->d_name, name.c_str()) == 0 && (!matched || found.compare(entry->d_name) > 0)) {
            found = entry->d_name;
            matched = true;
        }
    }
    closedir(dir);
    return matched;
}

} // namespace

std::string NativePath(LPCWSTR path) {
    return NativePath(ToUtf8(path));
}

std::string NativePath(const std::string& path) {
    std::string exact = path;
    for (char& c : exact)
        if (c == '\\') c = '/';
    if (exact.empty() || Exists(exact)) return exact;

    std::string resolved = exact[0] == '/' ? "/" : "";
    size_t start = exact[0] == '/' ? 1 : 0;
    while (start <= exact.size()) {
        size_t end = exact.find('/', start);
        if (end == std::string::npos) end = exact.size();
        std::string part = exact.substr(start, end - start);
        std::string candidate = resolved + part;
        std::string found;
        if (!part.empty() && part != "." && part != ".." && !Exists(candidate) &&
            FindIgnoringCase(resolved, part, found))
            candidate = resolved + found;
        resolved = candidate;
        if (end < exact.size()) resolved += '/';
        start = end + 1;
    }
    return resolved;
}

} // namespace win32
