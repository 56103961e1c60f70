#include "kernel_object.h"
#include "text.h"

#include <win32_paths.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <vector>

namespace win32 {
namespace {

// The file's identity and how it was opened, for the platform's share rules.
struct OpenFile {
    dev_t device;
    ino_t inode;
    DWORD access;
    DWORD share;
    const void* owner;
};

struct ShareTable {
    std::mutex lock;
    std::vector<OpenFile> open;
};

ShareTable& TheShareTable() {
    static ShareTable table;
    return table;
}

bool Conflicts(const OpenFile& a, DWORD access, DWORD share) {
    return ((access & GENERIC_READ) && !(a.share & FILE_SHARE_READ)) ||
           ((access & GENERIC_WRITE) && !(a.share & FILE_SHARE_WRITE)) ||
           ((a.access & GENERIC_READ) && !(share & FILE_SHARE_READ)) ||
           ((a.access & GENERIC_WRITE) && !(share & FILE_SHARE_WRITE));
}

struct File : KernelObject {
    ~File() override {
        ShareTable& table = TheShareTable();
        {
            std::lock_guard guard(table.lock);
            std::erase_if(table.open, [this](const OpenFile& f) { return f.owner == this; });
        }
        close(fd);
    }
    int fd = -1;
    DWORD access = 0;
};

DWORD ErrorFromErrno(int error, const std::string& path) {
    switch (error) {
    case ENOENT: {
        // The platform tells a missing file from a missing folder.
        size_t slash = path.find_last_of('/');
        std::string parent = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
        struct stat info;
        return stat(parent.c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? ERROR_FILE_NOT_FOUND
                                                                         : ERROR_PATH_NOT_FOUND;
    }
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EEXIST:
        return ERROR_FILE_EXISTS;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENOSPC:
        return ERROR_DISK_FULL;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    default:
        return ERROR_ACCESS_DENIED;
    }
}

std::shared_ptr<File> LookupFile(HANDLE handle) {
    auto file = Lookup<File>(handle);
    if (!file) SetLastError(ERROR_INVALID_HANDLE);
    return file;
}

} // namespace

} // namespace win32

using win32::File;

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD creation, DWORD,
                   HANDLE) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (wcslen(path) >= 32767) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return INVALID_HANDLE_VALUE;
    }
    std::string native = win32::NativePath(path);
    if (native.empty()) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    int flags = O_CLOEXEC;
    bool reads = access & GENERIC_READ, writes = access & GENERIC_WRITE;
    flags |= reads && writes ? O_RDWR : writes ? O_WRONLY : O_RDONLY;
    bool truncate = false;
    switch (creation) {
    case CREATE_NEW:
        flags |= O_CREAT | O_EXCL;
        break;
    case CREATE_ALWAYS:
        flags |= O_CREAT;
        truncate = true;
        break;
    case OPEN_EXISTING:
        break;
    case OPEN_ALWAYS:
        flags |= O_CREAT;
        break;
    case TRUNCATE_EXISTING:
        truncate = true;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (truncate && !writes) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }

    // Checked and opened under one lock so two openers in this process cannot both pass.
    win32::ShareTable& table = win32::TheShareTable();
    std::lock_guard guard(table.lock);
    struct stat info;
    bool existed = stat(native.c_str(), &info) == 0;
    if (existed && S_ISDIR(info.st_mode)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    if (existed) {
        for (const win32::OpenFile& other : table.open) {
            if (other.device == info.st_dev && other.inode == info.st_ino &&
                win32::Conflicts(other, access, shareMode)) {
                SetLastError(ERROR_SHARING_VIOLATION);
                return INVALID_HANDLE_VALUE;
            }
        }
    }
    int fd = open(native.c_str(), flags, 0644);
    if (fd < 0) {
        SetLastError(win32::ErrorFromErrno(errno, native));
        return INVALID_HANDLE_VALUE;
    }
    if ((truncate && ftruncate(fd, 0) != 0) || fstat(fd, &info) != 0) {
        DWORD error = win32::ErrorFromErrno(errno, native);
        close(fd);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    auto file = std::make_shared<File>();
    file->fd = fd;
    file->access = access;
    table.open.push_back({info.st_dev, info.st_ino, access, shareMode, file.get()});
    SetLastError(existed && (creation == OPEN_ALWAYS || creation == CREATE_ALWAYS) ? ERROR_ALREADY_EXISTS
                                                                                   : ERROR_SUCCESS);
    return win32::RegisterObject(std::move(file));
}

namespace {

// Whole transfers at an offset (or the file pointer when `offset` is negative); stops early only
// at the end of the file or on an error.
template <typename Transfer> bool TransferAll(Transfer transfer, size_t size, int64_t offset, DWORD& done) {
    done = 0;
    while (done < size) {
        ssize_t n = transfer(done, offset < 0 ? -1 : offset + static_cast<int64_t>(done));
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) break;
        done += static_cast<DWORD>(n);
    }
    return true;
}

int64_t OffsetOf(LPOVERLAPPED overlapped) {
    if (!overlapped) return -1;
    return static_cast<int64_t>((uint64_t{overlapped->OffsetHigh} << 32) | overlapped->Offset);
}

} // namespace

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    auto file = win32::LookupFile(handle);
    if (!file) return FALSE;
    if ((!buffer && toRead > 0) || (!read && !overlapped)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(file->access & GENERIC_READ)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    auto* bytes = static_cast<char*>(buffer);
    DWORD done = 0;
    bool ok = TransferAll(
        [&](DWORD at, int64_t offset) {
            return offset < 0 ? ::read(file->fd, bytes + at, toRead - at)
                              : pread(file->fd, bytes + at, toRead - at, offset);
        },
        toRead, OffsetOf(overlapped), done);
    if (read) *read = done;
    if (overlapped) overlapped->InternalHigh = done;
    if (!ok) {
        SetLastError(win32::ErrorFromErrno(errno, ""));
        return FALSE;
    }
    return TRUE;
}

BOOL WriteFile(HANDLE handle, LPCVOID buffer, DWORD toWrite, LPDWORD written, LPOVERLAPPED overlapped) {
    auto file = win32::LookupFile(handle);
    if (!file) return FALSE;
    if ((!buffer && toWrite > 0) || (!written && !overlapped)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!(file->access & GENERIC_WRITE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    auto* bytes = static_cast<const char*>(buffer);
    DWORD done = 0;
    bool ok = TransferAll(
        [&](DWORD at, int64_t offset) {
            return offset < 0 ? ::write(file->fd, bytes + at, toWrite - at)
                              : pwrite(file->fd, bytes + at, toWrite - at, offset);
        },
        toWrite, OffsetOf(overlapped), done);
    if (written) *written = done;
    if (overlapped) overlapped->InternalHigh = done;
    if (!ok || done < toWrite) {
        SetLastError(ok ? ERROR_DISK_FULL : win32::ErrorFromErrno(errno, ""));
        return FALSE;
    }
    return TRUE;
}

BOOL GetFileSizeEx(HANDLE handle, LARGE_INTEGER* size) {
    auto file = win32::LookupFile(handle);
    if (!file) return FALSE;
    struct stat info;
    if (!size || fstat(file->fd, &info) != 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    size->QuadPart = info.st_size;
    return TRUE;
}

DWORD GetFileSize(HANDLE handle, LPDWORD sizeHigh) {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size)) return INVALID_FILE_SIZE;
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(size.QuadPart >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(size.QuadPart & 0xFFFFFFFF);
}

BOOL SetFilePointerEx(HANDLE handle, LARGE_INTEGER distance, LARGE_INTEGER* newPosition, DWORD method) {
    auto file = win32::LookupFile(handle);
    if (!file) return FALSE;
    int whence = method == FILE_BEGIN     ? SEEK_SET
                 : method == FILE_CURRENT ? SEEK_CUR
                 : method == FILE_END     ? SEEK_END
                                          : -1;
    off_t at = whence < 0 ? -1 : lseek(file->fd, distance.QuadPart, whence);
    if (at < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (newPosition) newPosition->QuadPart = at;
    return TRUE;
}

DWORD GetFileAttributesW(LPCWSTR path) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_FILE_ATTRIBUTES;
    }
    std::string native = win32::NativePath(path);
    struct stat info;
    if (native.empty() || stat(native.c_str(), &info) != 0) {
        SetLastError(native.empty() ? ERROR_PATH_NOT_FOUND : win32::ErrorFromErrno(errno, native));
        return INVALID_FILE_ATTRIBUTES;
    }
    DWORD attributes = S_ISDIR(info.st_mode) ? FILE_ATTRIBUTE_DIRECTORY : 0;
    if (access(native.c_str(), W_OK) != 0) attributes |= FILE_ATTRIBUTE_READONLY;
    return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

BOOL DeleteFileW(LPCWSTR path) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string native = win32::NativePath(path);
    if (unlink(native.c_str()) != 0) {
        SetLastError(win32::ErrorFromErrno(errno, native));
        return FALSE;
    }
    return TRUE;
}

BOOL CreateDirectoryW(LPCWSTR path, LPSECURITY_ATTRIBUTES) {
    if (!path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    std::string native = win32::NativePath(path);
    if (mkdir(native.c_str(), 0755) != 0) {
        SetLastError(errno == EEXIST ? ERROR_ALREADY_EXISTS : win32::ErrorFromErrno(errno, native));
        return FALSE;
    }
    return TRUE;
}
