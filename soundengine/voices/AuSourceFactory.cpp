#include "voices/AuFileSources.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuSourceBase.h"

#include <AU/MemoryMgr.h>

#include <new>

namespace {

template <class T, class... Args> CAuSourceBase* Build(Args... args) {
    void* block = AU::MemoryMgr::Malign(g_LEngineDefaultPoolId, sizeof(T), 16);
    return block ? new (block) T(args...) : nullptr;
}

} // namespace

CAuSourceBase* AuCreateSource(CAuPlaybackInstance* instance) noexcept {
    const AuSourceMedia& media = instance->GetSourceMedia();
    const u32 kind = media.StorageKind();
    const u32 codec = media.Codec();
    if (kind == AuSourceMedia::kStorageInMemory) {
        if (codec == 1) return Build<CAuPcmBankSource>(instance, media.pData, media.uSize);
        if (codec == 2) return Build<CAuAdpcmBankSource>(instance, media.pData, media.uSize);
    } else if (kind == AuSourceMedia::kStorageStreamed) {
        if (codec == 1) return Build<CAuPcmFileSource>(instance);
        if (codec == 2) return Build<CAuAdpcmFileSource>(instance);
    }
    // Vorbis sources come from the codec table, where the game registers them.
    if (codec == 4 && (kind == AuSourceMedia::kStorageInMemory || kind == AuSourceMedia::kStorageStreamed))
        return reinterpret_cast<CAuSourceBase*>(CAuLowerEngine::CreateCodecSource(
            instance, kind == AuSourceMedia::kStorageStreamed ? 1 : 3, media.uPluginID));
    return nullptr;
}

void AuDestroySource(CAuSourceBase* source) noexcept {
    if (!source) return;
    source->~CAuSourceBase();
    AU::MemoryMgr::Free(g_LEngineDefaultPoolId, source);
}
