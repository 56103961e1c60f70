#include "text.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

// Windows-1252 bytes 0x80..0x9F. The five bytes the code page leaves unassigned pass through as
// the C1 control of the same value, as the platform's conversion does.
constexpr char32_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// Returns -1 when the code page has no byte for the character.
int Cp1252FromUnicode(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
    for (int i = 0; i < 32; ++i)
        if (kCp1252High[i] == c) return 0x80 + i;
    return -1;
}

char32_t UnicodeFromCp1252(unsigned char b) {
    return (b >= 0x80 && b < 0xA0) ? kCp1252High[b - 0x80] : b;
}

void AppendUtf8(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Decodes one UTF-8 sequence; returns false for a malformed one (one byte is then consumed).
bool NextUtf8(const unsigned char*& p, const unsigned char* end, char32_t& out) {
    unsigned char b = *p++;
    if (b < 0x80) {
        out = b;
        return true;
    }
    int extra = (b & 0xE0) == 0xC0 ? 1 : (b & 0xF0) == 0xE0 ? 2 : (b & 0xF8) == 0xF0 ? 3 : -1;
    if (extra < 0 || end - p < extra) return false;
    char32_t c = b & (0x3F >> extra);
    for (int i = 0; i < extra; ++i) {
        if ((p[i] & 0xC0) != 0x80) return false;
        c = (c << 6) | (p[i] & 0x3F);
    }
    static constexpr char32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
    if (c < kMinimum[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    p += extra;
    out = c;
    return true;
}

// Copies as much of `text` as fits; the platform reports a short buffer as a failure.
template <typename T> int Deliver(const std::basic_string<T>& text, T* out, int outSize) {
    if (outSize == 0) return static_cast<int>(text.size());
    size_t n = std::min(text.size(), static_cast<size_t>(outSize));
    std::copy_n(text.begin(), n, out);
    if (n < text.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(n);
}

} // namespace

int WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideCount, LPSTR multi, int multiSize,
                        LPCSTR defaultChar, LPBOOL usedDefaultChar) {
    if (!wide || wideCount == 0 || wideCount < -1 || multiSize < 0 || (multiSize > 0 && !multi) ||
        (codePage != CP_ACP && codePage != CP_UTF8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = wideCount == -1 ? wcslen(wide) + 1 : static_cast<size_t>(wideCount);
    char replacement = defaultChar ? *defaultChar : '?';
    bool usedDefault = false;
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        char32_t c = static_cast<char32_t>(wide[i]);
        if (codePage == CP_UTF8) {
            AppendUtf8(out, c);
            continue;
        }
        int b = Cp1252FromUnicode(c);
        if (b < 0) {
            usedDefault = true;
            out += replacement;
        } else {
            out += static_cast<char>(b);
        }
    }
    if (usedDefaultChar) *usedDefaultChar = usedDefault ? TRUE : FALSE;
    return Deliver(out, multi, multiSize);
}

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multi, int multiCount, LPWSTR wide, int wideSize) {
    if (!multi || multiCount == 0 || multiCount < -1 || wideSize < 0 || (wideSize > 0 && !wide) ||
        (codePage != CP_ACP && codePage != CP_UTF8)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    size_t count = multiCount == -1 ? strlen(multi) + 1 : static_cast<size_t>(multiCount);
    auto* p = reinterpret_cast<const unsigned char*>(multi);
    const unsigned char* end = p + count;
    std::wstring out;
    out.reserve(count);
    while (p < end) {
        if (codePage == CP_ACP) {
            out += static_cast<wchar_t>(UnicodeFromCp1252(*p++));
            continue;
        }
        char32_t c;
        if (!NextUtf8(p, end, c)) {
            if (flags & MB_ERR_INVALID_CHARS) {
                SetLastError(ERROR_NO_UNICODE_TRANSLATION);
                return 0;
            }
            c = 0xFFFD;
        }
        out += static_cast<wchar_t>(c);
    }
    return Deliver(out, wide, wideSize);
}

namespace win32 {

std::string ToUtf8(LPCWSTR wide) {
    std::string out;
    if (!wide) return out;
    for (; *wide; ++wide)
        AppendUtf8(out, static_cast<char32_t>(*wide));
    return out;
}

} // namespace win32

void OutputDebugStringW(LPCWSTR text) {
    std::string utf8 = win32::ToUtf8(text);
    fputs(utf8.c_str(), stderr);
}

void OutputDebugStringA(LPCSTR text) {
    if (text) fputs(text, stderr);
}

namespace {

struct MessageText {
    HRESULT code;
    const char* text;
};

// System texts for the codes this program reports.
constexpr MessageText kMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_SHARING_VIOLATION,
     "The process cannot access the file because it is being used by another process."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_MOD_NOT_FOUND, "The specified module could not be found."},
    {ERROR_PROC_NOT_FOUND, "The specified procedure could not be found."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_FILENAME_EXCED_RANGE, "The filename or extension is too long."},
    {ERROR_INVALID_ADDRESS, "Attempt to access invalid address."},
    {ERROR_NO_UNICODE_TRANSLATION,
     "No mapping for the Unicode character exists in the target multi-byte code page."},
    {S_FALSE, "The operation completed, with nothing to do."},
    {E_NOTIMPL, "Not implemented"},
    {E_NOINTERFACE, "No such interface supported"},
    {E_POINTER, "Invalid pointer"},
    {E_FAIL, "Unspecified error"},
    {E_UNEXPECTED, "Catastrophic failure"},
    {E_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {E_INVALIDARG, "The parameter is incorrect."},
    {static_cast<HRESULT>(0x887A0001), "The application made a call that is invalid."},
    {static_cast<HRESULT>(0x887A0002), "The object was not found."},
    {static_cast<HRESULT>(0x887A0004), "The device does not support the requested feature."},
    {static_cast<HRESULT>(0x887A0005), "The graphics device was removed."},
    {static_cast<HRESULT>(0x887A0007), "The graphics device was reset."},
    {static_cast<HRESULT>(0x887A000A), "The call was not completed in time."},
};

const char* FindMessage(HRESULT code) {
    for (const MessageText& m : kMessages)
        if (m.code == code) return m.text;
    // A Win32 code wrapped in an HRESULT has the Win32 text.
    if ((static_cast<uint32_t>(code) & 0xFFFF0000u) == 0x80070000u) return FindMessage(code & 0xFFFF);
    return nullptr;
}

} // namespace

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD, LPWSTR buffer, DWORD size, void*) {
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) || (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) || !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* text = FindMessage(static_cast<HRESULT>(messageId));
    if (!text) {
        SetLastError(317); // ERROR_MR_MID_NOT_FOUND: no text for this code
        return 0;
    }
    std::string line = std::string(text) + "\r\n";
    int length = MultiByteToWideChar(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), nullptr, 0);
    if (static_cast<DWORD>(length) >= size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    MultiByteToWideChar(CP_UTF8, 0, line.c_str(), static_cast<int>(line.size()), buffer, length);
    buffer[length] = L'\0';
    return static_cast<DWORD>(length);
}
