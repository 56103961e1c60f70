// Reads a hierarchy record's payload field by field, never past its end. Every read checks what
// is left; a record that ends early gives 7 (the cursor stays where the short read began).
#pragma once

#include <AU/AuTypes.h>

#include <cstring>

class AuRecordCursor {
public:
    AuRecordCursor(const u8* data, u32 size) : m_pAt(data), m_pEnd(data + size) {}

    u32 Left() const { return static_cast<u32>(m_pEnd - m_pAt); }
    const u8* At() const { return m_pAt; }
    const u8* End() const { return m_pEnd; }

    bool Read(u8& value) { return Take(&value, 1); }
    bool Read(u16& value) {
        u8 b[2];
        if (!Take(b, 2)) return false;
        value = static_cast<u16>(b[0] | b[1] << 8);
        return true;
    }
    bool Read(u32& value) {
        u8 b[4];
        if (!Take(b, 4)) return false;
        value = u32(b[0]) | u32(b[1]) << 8 | u32(b[2]) << 16 | u32(b[3]) << 24;
        return true;
    }
    bool Read(f32& value) {
        u32 bits;
        if (!Read(bits)) return false;
        memcpy(&value, &bits, 4);
        return true;
    }
    // n bytes in place: valid as long as the payload is.
    const u8* Take(u32 n) {
        if (Left() < n) return nullptr;
        const u8* at = m_pAt;
        m_pAt += n;
        return at;
    }
    bool Skip(u32 n) { return Take(n) != nullptr; }
    // For readers that walk the bytes themselves (the property bundles).
    void SetAt(const u8* at) {
        if (at >= m_pAt && at <= m_pEnd) m_pAt = at;
    }

private:
    bool Take(void* out, u32 n) {
        const u8* at = Take(n);
        if (!at) return false;
        memcpy(out, at, n);
        return true;
    }

    const u8* m_pAt;
    const u8* m_pEnd;
};
