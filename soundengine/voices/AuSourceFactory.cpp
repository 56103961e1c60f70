#include "voices/AuFileSources.h"
#include "voices/AuLowerEngine.h"
#include "voices/AuPlaybackInstance.h"
#include "voices/AuSourceBase.h"
#include "voices/AuSourcePluginHost.h"

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
    const bool streamed = kind == AuSourceMedia::kStorageStreamed;
    if (kind == AuSourceMedia::kStoragePlugin) return Build<CAuSourcePluginHost>(instance, media.uSourceID);
    if (codec == 0 || (!streamed && kind != AuSourceMedia::kStorageInMemory)) return nullptr;
    if (codec == 1)
        return streamed ? Build<CAuPcmFileSource>(instance)
                        : Build<CAuPcmBankSource>(instance, media.pData, media.uSize);
    if (codec == 2)
        return streamed ? Build<CAuAdpcmFileSource>(instance)
                        : Build<CAuAdpcmBankSource>(instance, media.pData, media.uSize);
    // Every other codec (Vorbis among them) comes from the codec table, where the game registers
    // it under the media's whole codec word: its first creator streams, its second reads memory.
    return reinterpret_cast<CAuSourceBase*>(
        CAuLowerEngine::CreateCodecSource(instance, streamed ? 1 : 3, media.uPluginID));
}

void AuDestroySource(CAuSourceBase* source) noexcept {
    if (!source) return;
    source->~CAuSourceBase();
    AU::MemoryMgr::Free(g_LEngineDefaultPoolId, source);
}
