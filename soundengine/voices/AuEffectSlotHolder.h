// The media a plug-in instance asked for by its own media index, each entry holding a reference on
// the media in the bank manager until it is released. The settings the plug-in was made from map
// its indices to media IDs. Audio thread, under g_csMain.
#pragma once

#include "memory/AuArray.h"
#include "plugins/AuPlugin.h"

#include <AU/AuTypes.h>

class CAuPluginSettings;
struct AuMediaHolder;

struct AuPluginMediaRecord {
    u32 uIndex;
    const u8* pData; // null when the media had no data
    u32 uSize;
    u32 uMediaID;
    AuMediaHolder* pHolder; // what lends the bytes; given back with the reference
};

class CAuEffectSlotHolder {
public:
    CAuEffectSlotHolder() = default;
    CAuEffectSlotHolder(const CAuEffectSlotHolder&) = delete;
    CAuEffectSlotHolder& operator=(const CAuEffectSlotHolder&) = delete;
    ~CAuEffectSlotHolder() { ReleaseAll(); }

    // The settings whose media list maps indices to media IDs (not owned; null: none).
    void SetSettings(const CAuPluginSettings* settings) { m_pSettings = settings; }

    // [audio thread] Every operation below.
    // The media's bytes under the index, replacing what the index held. 1; 2 when the media has no
    // data or no entry can be made (then nothing is kept and its reference goes back).
    AURESULT AddMedia(u32 index, u32 mediaID) noexcept;
    // The index's media, fetched through the settings on first use; null and 0 without any.
    void GetMedia(u32 index, const u8*& data, u32& size) noexcept;
    // True when an entry holds bytes starting at `data`.
    bool HasMediaObject(const void* data) const noexcept;
    // True when an entry's bytes start inside [data, data + size).
    bool UsesData(const u8* data, u32 size) const noexcept;
    // Every reference goes back and the array is freed.
    void ReleaseAll() noexcept;

    u32 Count() const { return m_entries.Count(); }
    const AuPluginMediaRecord& Entry(u32 i) const { return m_entries[i]; }

private:
    static void Release(AuPluginMediaRecord& entry) noexcept;

    const CAuPluginSettings* m_pSettings = nullptr;
    AuArray<AuPluginMediaRecord> m_entries;
};

// What a voice's and a bus's effect contexts share: an insert's slot and the media it asked for.
class CAuSlotEffectContext : public AU::IAuEffectPluginContext {
public:
    bool IsSendModeEffect() const noexcept override { return false; }
    // Through the media list of the effect's settings.
    AURESULT GetPluginMedia(u32 index, const u8*& data, u32& size) noexcept override {
        m_media.GetMedia(index, data, size);
        return data ? AuResultSuccess : AuResultFail;
    }
    u32 Slot() const { return m_uSlot; }
    CAuEffectSlotHolder& Media() { return m_media; }
    const CAuEffectSlotHolder& Media() const { return m_media; }

protected:
    ~CAuSlotEffectContext() = default;

    u32 m_uSlot = 0;

private:
    CAuEffectSlotHolder m_media;
};
