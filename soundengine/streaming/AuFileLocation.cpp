#include <AU/AuDefaultIOHookBlocking.h>

#include <AU/IAuStreamMgr.h>

#include <windows.h>

#include <algorithm>
#include <cwchar>

namespace {

// Appends `part` to the path of `length` characters; false when the result would not stay
// below AU_MAX_PATH characters.
bool Append(wchar_t* path, size_t& length, const wchar_t* part) {
    const size_t add = wcslen(part);
    if (length + add >= AU_MAX_PATH) return false;
    wmemcpy(path + length, part, add + 1);
    length += add;
    return true;
}

// Stores at most 259 characters.
void Store(wchar_t* buffer, const wchar_t* path) {
    const size_t length = std::min<size_t>(wcslen(path), AU_MAX_PATH - 1);
    wmemcpy(buffer, path, length);
    buffer[length] = L'\0';
}

bool AppendLanguage(wchar_t* path, size_t& length, const AuFileOpenFlags& flags) {
    const wchar_t* language = AU::StreamMgr::GetCurrentLanguage();
    if (!flags.bIsLanguageSpecific || language[0] == L'\0') return true;
    return Append(path, length, language) && Append(path, length, L"\\");
}

} // namespace

CAuFileLocationBase::CAuFileLocationBase() {
    m_szBasePath[0] = m_szBankPath[0] = m_szAudioSrcPath[0] = L'\0';
}

AURESULT CAuFileLocationBase::SetBasePath(const wchar_t* path) {
    if (!path) return AuResultInvalidParameter;
    const size_t longestSubPath = std::max(wcslen(m_szBankPath), wcslen(m_szAudioSrcPath));
    if (longestSubPath + wcslen(AU::StreamMgr::GetCurrentLanguage()) + wcslen(path) + 1 >= AU_MAX_PATH)
        return AuResultInvalidParameter;
    Store(m_szBasePath, path);
    const DWORD attributes = GetFileAttributesW(m_szBasePath);
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return AuResultPathNotFound;
    return AuResultSuccess;
}

AURESULT CAuFileLocationBase::SetBankPath(const wchar_t* path) {
    if (!path || wcslen(path) >= AU_MAX_PATH) return AuResultInvalidParameter;
    Store(m_szBankPath, path);
    return AuResultSuccess;
}

AURESULT CAuFileLocationBase::SetAudioSrcPath(const wchar_t* path) {
    if (!path || wcslen(path) >= AU_MAX_PATH) return AuResultInvalidParameter;
    Store(m_szAudioSrcPath, path);
    return AuResultSuccess;
}

AURESULT CAuFileLocationBase::GetFullFilePath(const wchar_t* fileName, const AuFileOpenFlags* flags,
                                              AuOpenMode openMode, wchar_t* fullPath) const {
    if (!fileName || !fullPath || wcslen(fileName) >= AU_MAX_PATH) return AuResultInvalidParameter;
    size_t length = 0;
    fullPath[0] = L'\0';
    // A raw path of the engine's own is used as given.
    const bool raw =
        flags && flags->uFileType == AU_FILE_TYPE_RAW_PATH && flags->uOrigin == AU_FILE_ORIGIN_ENGINE;
    if (!raw && !Append(fullPath, length, m_szBasePath)) return AuResultFail;
    if (flags && openMode == AuOpenModeRead) {
        if (flags->uOrigin == AU_FILE_ORIGIN_ENGINE && flags->uFileType == AU_FILE_TYPE_BANK &&
            !Append(fullPath, length, m_szBankPath))
            return AuResultFail;
        if (!AppendLanguage(fullPath, length, *flags)) return AuResultFail;
    }
    return Append(fullPath, length, fileName) ? AuResultSuccess : AuResultFail;
}

AURESULT CAuFileLocationBase::GetFullFilePath(u32 fileID, const AuFileOpenFlags* flags,
                                              wchar_t* fullPath) const {
    if (!flags || !fullPath ||
        (flags->uOrigin != AU_FILE_ORIGIN_ENGINE && flags->uOrigin != AU_FILE_ORIGIN_EXTERNAL))
        return AuResultFail;
    size_t length = 0;
    fullPath[0] = L'\0';
    const bool bank = flags->uFileType == AU_FILE_TYPE_BANK;
    wchar_t name[32];
    swprintf(name, sizeof(name) / sizeof(name[0]), bank ? L"%u.bnk" : L"%u.aum", fileID);
    const bool fits = Append(fullPath, length, m_szBasePath) &&
                      Append(fullPath, length, bank ? m_szBankPath : m_szAudioSrcPath) &&
                      AppendLanguage(fullPath, length, *flags) && Append(fullPath, length, name);
    return fits ? AuResultSuccess : AuResultFail;
}

CAuDefaultIOHookBlocking::~CAuDefaultIOHookBlocking() {
    Term();
}

AURESULT CAuDefaultIOHookBlocking::Init(const AuDeviceSettings& deviceSettings, bool asyncOpen) {
    if (m_deviceID != AU_INVALID_DEVICE_ID) return AuResultFail;
    m_bAsyncOpen = asyncOpen;
    m_deviceID = AU::StreamMgr::CreateDevice(deviceSettings, this);
    return m_deviceID == AU_INVALID_DEVICE_ID ? AuResultFail : AuResultSuccess;
}

void CAuDefaultIOHookBlocking::Term() {
    if (m_deviceID == AU_INVALID_DEVICE_ID) return;
    if (AU::StreamMgr::GetFileLocationResolver() == this) AU::StreamMgr::SetFileLocationResolver(nullptr);
    AU::StreamMgr::DestroyDevice(m_deviceID);
    m_deviceID = AU_INVALID_DEVICE_ID;
}

AURESULT CAuDefaultIOHookBlocking::OpenFile(const wchar_t* path, AuOpenMode openMode, AuFileHandle& handle) {
    static constexpr struct {
        DWORD access;
        DWORD share;
        DWORD creation;
    } kModes[] = {
        {GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING},
        {GENERIC_WRITE, FILE_SHARE_WRITE, OPEN_ALWAYS},
        {GENERIC_WRITE, FILE_SHARE_WRITE, CREATE_ALWAYS},
        {GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS},
    };
    handle = nullptr;
    if (!path || openMode > AuOpenModeReadWrite) return AuResultInvalidParameter;
    const auto& mode = kModes[openMode];
    HANDLE file = CreateFileW(path, mode.access, mode.share, nullptr, mode.creation,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? AuResultFileNotFound
                                                                              : AuResultFail;
    }
    handle = file;
    return AuResultSuccess;
}

bool CAuDefaultIOHookBlocking::DeferOpen(bool& syncOpen, AuFileDescriptor& file) {
    file.deviceID = m_deviceID;
    file.uBlockSize = 0;
    file.uCustom = 0;
    if (!syncOpen && m_bAsyncOpen) {
        file.iFileSize = 0;
        file.uSector = 0;
        return true;
    }
    syncOpen = true;
    return false;
}

AURESULT CAuDefaultIOHookBlocking::OpenPath(AURESULT pathResult, const wchar_t* path, AuOpenMode openMode,
                                            AuFileDescriptor& file) {
    if (pathResult != AuResultSuccess) return AuResultFail;
    AuFileHandle handle;
    const AURESULT result = OpenFile(path, openMode, handle);
    if (result != AuResultSuccess) return result;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size)) {
        CloseHandle(handle);
        return AuResultFail;
    }
    file.hFile = handle;
    file.iFileSize = size.QuadPart;
    file.uSector = 0;
    return AuResultSuccess;
}

AURESULT CAuDefaultIOHookBlocking::Open(u32 fileID, AuOpenMode openMode, AuFileOpenFlags* flags,
                                        bool& syncOpen, AuFileDescriptor& file) {
    if (DeferOpen(syncOpen, file)) return AuResultSuccess;
    wchar_t path[AU_MAX_PATH];
    return OpenPath(GetFullFilePath(fileID, flags, path), path, openMode, file);
}

AURESULT CAuDefaultIOHookBlocking::Open(const wchar_t* fileName, AuOpenMode openMode, AuFileOpenFlags* flags,
                                        bool& syncOpen, AuFileDescriptor& file) {
    if (DeferOpen(syncOpen, file)) return AuResultSuccess;
    wchar_t path[AU_MAX_PATH];
    return OpenPath(GetFullFilePath(fileName, flags, openMode, path), path, openMode, file);
}

AURESULT CAuDefaultIOHookBlocking::Close(AuFileDescriptor& file) {
    return CloseHandle(file.hFile) ? AuResultSuccess : AuResultFail;
}

u32 CAuDefaultIOHookBlocking::GetBlockSize(AuFileDescriptor&) {
    return 1;
}

AURESULT CAuDefaultIOHookBlocking::Read(AuFileDescriptor& file, const AuIoHeuristics&, void* buffer,
                                        AuTransferInfo& transfer) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(transfer.uFilePosition);
    overlapped.OffsetHigh = static_cast<DWORD>(transfer.uFilePosition >> 32);
    DWORD done = 0;
    if (!ReadFile(file.hFile, buffer, transfer.uRequestedSize, &done, &overlapped)) return AuResultFail;
    // Fewer bytes than the known file holds there would leave stale data in the caller's buffer.
    const u64 fileSize = file.iFileSize > 0 ? static_cast<u64>(file.iFileSize) : 0;
    const u64 available = transfer.uFilePosition < fileSize ? fileSize - transfer.uFilePosition : 0;
    const u64 expected = std::min<u64>(transfer.uRequestedSize, available);
    return done < expected ? AuResultFail : AuResultSuccess;
}

AURESULT CAuDefaultIOHookBlocking::Write(AuFileDescriptor& file, const AuIoHeuristics&, void* buffer,
                                         AuTransferInfo& transfer) {
    OVERLAPPED overlapped{};
    overlapped.Offset = static_cast<DWORD>(transfer.uFilePosition);
    overlapped.OffsetHigh = static_cast<DWORD>(transfer.uFilePosition >> 32);
    DWORD done = 0;
    if (!WriteFile(file.hFile, buffer, transfer.uRequestedSize, &done, &overlapped)) return AuResultFail;
    return done == transfer.uRequestedSize ? AuResultSuccess : AuResultFail;
}
