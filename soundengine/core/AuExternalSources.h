// The reference-counted copy of an event's external sources that travels with its message and
// pending actions. One block from the default pool, file names copied beside it.
#pragma once

#include <AU/SoundEngine.h>

class AuExternalSourceArray {
public:
    // Null when the block or any file name cannot be allocated (nothing is left behind then).
    static AuExternalSourceArray* Create(u32 count, const AuExternalSourceInfo* sources);

    void AddRef() { ++m_cRefs; }
    // Drops one reference; the last frees the names and the block.
    void Release();

    u32 Count() const { return m_nItems; }
    const AuExternalSourceInfo& operator[](u32 index) const { return Items()[index]; }

private:
    AuExternalSourceArray() = default;
    AuExternalSourceInfo* Items() { return reinterpret_cast<AuExternalSourceInfo*>(this + 1); }
    const AuExternalSourceInfo* Items() const {
        return reinterpret_cast<const AuExternalSourceInfo*>(this + 1);
    }

    // Not atomic: the game thread makes the array, then only the audio thread holds it.
    u32 m_cRefs;
    u32 m_nItems;
};
