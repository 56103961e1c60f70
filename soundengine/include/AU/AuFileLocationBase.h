// Where files live on disk: a base path with sub-paths for banks and streamed media, and the
// current language folder for language-specific files.
#pragma once

#include <AU/StreamMgr.h>

// Path buffers hold at most 259 characters and the terminator.
constexpr u32 AU_MAX_PATH = 260;

class CAuFileLocationBase {
public:
    CAuFileLocationBase();
    virtual ~CAuFileLocationBase() = default;

    // 31 when the longest full path could reach AU_MAX_PATH; 36 (stored anyway) when the path is
    // not an existing folder.
    AURESULT SetBasePath(const wchar_t* path);
    AURESULT SetBankPath(const wchar_t* path);
    AURESULT SetAudioSrcPath(const wchar_t* path);
    const wchar_t* GetBasePath() const { return m_szBasePath; }

    AURESULT GetFullFilePath(const wchar_t* fileName, const AuFileOpenFlags* flags, AuOpenMode openMode,
                             wchar_t* fullPath) const;
    // "%u.bnk" for banks, "%u.aum" for streamed media.
    AURESULT GetFullFilePath(u32 fileID, const AuFileOpenFlags* flags, wchar_t* fullPath) const;

protected:
    wchar_t m_szBasePath[AU_MAX_PATH];
    wchar_t m_szBankPath[AU_MAX_PATH];
    wchar_t m_szAudioSrcPath[AU_MAX_PATH];
};
