#include "voices/AuEffectSlotHolder.h"

#include "banks/AuBankMgr.h"
#include "plugins/AuPluginSettings.h"

AURESULT CAuEffectSlotHolder::AddMedia(u32 index, u32 mediaID) noexcept {
    if (!g_pBankMgr) return AuResultFail;
    u32 size = 0;
    AuMediaHolder* holder = nullptr;
    const u8* data = g_pBankMgr->GetMedia(mediaID, size, holder);
    if (!data) return AuResultFail;
    const AuPluginMediaRecord record{index, data, size, mediaID, holder};
    const u32 at = m_entries.IndexOf([index](const AuPluginMediaRecord& e) { return e.uIndex == index; });
    if (at < m_entries.Count()) {
        Release(m_entries[at]);
        m_entries[at] = record;
        return AuResultSuccess;
    }
    if (m_entries.AddLast(record)) return AuResultSuccess;
    AuPluginMediaRecord lost = record;
    Release(lost);
    return AuResultFail;
}

void CAuEffectSlotHolder::GetMedia(u32 index, const u8*& data, u32& size) noexcept {
    data = nullptr;
    size = 0;
    u32 at = m_entries.IndexOf([index](const AuPluginMediaRecord& e) { return e.uIndex == index; });
    if (at == m_entries.Count()) {
        const u32 mediaID = m_pSettings ? m_pSettings->GetMediaID(index) : 0;
        if (mediaID == 0 || AddMedia(index, mediaID) != AuResultSuccess) return;
        at = m_entries.IndexOf([index](const AuPluginMediaRecord& e) { return e.uIndex == index; });
    }
    data = m_entries[at].pData;
    size = m_entries[at].uSize;
}

bool CAuEffectSlotHolder::HasMediaObject(const void* data) const noexcept {
    return data && m_entries.IndexOf([data](const AuPluginMediaRecord& e) { return e.pData == data; }) <
                       m_entries.Count();
}

bool CAuEffectSlotHolder::UsesData(const u8* data, u32 size) const noexcept {
    if (!data) return false;
    const auto begin = reinterpret_cast<uintptr_t>(data);
    return m_entries.IndexOf([&](const AuPluginMediaRecord& e) {
        const auto at = reinterpret_cast<uintptr_t>(e.pData);
        return e.pData && at >= begin && at - begin < size;
    }) < m_entries.Count();
}

void CAuEffectSlotHolder::ReleaseAll() noexcept {
    for (u32 i = 0; i < m_entries.Count(); ++i)
        Release(m_entries[i]);
    m_entries.Term();
}

void CAuEffectSlotHolder::Release(AuPluginMediaRecord& entry) noexcept {
    if (!entry.pData || !g_pBankMgr) return;
    g_pBankMgr->ReleaseMedia(entry.uMediaID);
    if (entry.pHolder) g_pBankMgr->ReleaseHolder(entry.pHolder);
    entry.pData = nullptr;
    entry.pHolder = nullptr;
}
